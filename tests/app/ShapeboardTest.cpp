// The figure table, the hit test, growth and clicks, drawn on the in-memory
// display and compared with the reference pictures.
#include "app/Shapeboard.h"

#include <gtest/gtest.h>

#include <string>

#include "console/IO.h"
#include "tests/graph/GraphTestSupport.h"
#include "tests/support/TestFiles.h"

namespace {

using Shapeboard::FigureRc;
using Shapeboard::FigureTypeEn;
using enum FigureTypeEn;

// A figure as a test name part: "circle_100_100_size_50".
std::string FigureName(const FigureRc& figure) {
  static const char* const kTypes[] = {"circle", "quadrangle", "ellipse"};
  return std::string(kTypes[static_cast<int>(figure.type)]) + "_" + std::to_string(figure.x0) +
         "_" + std::to_string(figure.y0) + "_size_" + std::to_string(figure.size);
}

struct HitCase {
  FigureRc figure;
  std::uint32_t x;
  std::uint32_t y;
  bool hit;
};

std::string HitName(const HitCase& c) {
  return FigureName(c.figure) + "_at_" + std::to_string(c.x) + "_" + std::to_string(c.y);
}

void PrintTo(const HitCase& c, std::ostream* os) {
  *os << HitName(c);
}

class ShapeboardHit : public testing::TestWithParam<HitCase> {};

TEST_P(ShapeboardHit, TheOpenSquareOfHalfTheSizeDecides) {
  const HitCase c = GetParam();
  EXPECT_EQ(Shapeboard::IsPointInFigure(c.x, c.y, c.figure), c.hit);
}

constexpr FigureRc kCircle{CIRCLE, 100, 100, 50, 0.0F};
constexpr FigureRc kEllipse{ELLIPSE, 100, 300, 20, 0.5F};
constexpr std::uint32_t kMax = 0xFFFFFFFF;

INSTANTIATE_TEST_SUITE_P(
    Geometry, ShapeboardHit,
    testing::Values(HitCase{kCircle, 100, 100, true}, HitCase{kCircle, 75, 100, false},  // border
                    HitCase{kCircle, 76, 124, true}, HitCase{kCircle, 124, 125, false},
                    HitCase{kCircle, 130, 100, false},  // the ring beyond half the radius
                    HitCase{{QUADRANGLE, 200, 200, 1, 0.0F}, 200, 200, false},  // half is 0
                    HitCase{{QUADRANGLE, 200, 200, 0, 0.0F}, 200, 200, false},
                    HitCase{{QUADRANGLE, 200, 200, 41, 0.0F}, 219, 181, true},
                    HitCase{{QUADRANGLE, 200, 200, 41, 0.0F}, 220, 200, false},
                    HitCase{kEllipse, 109, 309, true},  // the square, whatever the proportion
                    HitCase{kEllipse, 110, 300, false},
                    // Past the edge of the window the square is still exact: no wrapping.
                    HitCase{{CIRCLE, 100, 100, 400, 0.0F}, 0, 0, true},
                    HitCase{{CIRCLE, 100, 100, 400, 0.0F}, 300, 0, false},
                    HitCase{{CIRCLE, kMax, kMax, kMax, 0.0F}, kMax, kMax, true},
                    HitCase{{CIRCLE, kMax, kMax, kMax, 0.0F}, 0x80000000, 0x80000000, false}),
    [](const testing::TestParamInfo<HitCase>& info) { return HitName(info.param); });

struct GrowCase {
  FigureRc figure;
  std::uint32_t grownSize;
};

void PrintTo(const GrowCase& c, std::ostream* os) {
  *os << FigureName(c.figure);
}

class ShapeboardGrow : public testing::TestWithParam<GrowCase> {};

TEST_P(ShapeboardGrow, DoublesWhileEveryDrawnCoordinateStaysInRange) {
  FigureRc figure = GetParam().figure;
  Shapeboard::EnlargeFigure(figure);
  EXPECT_EQ(figure.size, GetParam().grownSize);
  EXPECT_EQ(figure.x0, GetParam().figure.x0);
  EXPECT_EQ(figure.ellipseWidthLengthProportion, GetParam().figure.ellipseWidthLengthProportion);
}

INSTANTIATE_TEST_SUITE_P(
    Geometry, ShapeboardGrow,
    testing::Values(GrowCase{kCircle, 100},
                    // 50 doubled 25 times is the last size whose box fits 32 signed bits.
                    GrowCase{{CIRCLE, 100, 100, 838860800, 0.0F}, 1677721600},
                    GrowCase{{CIRCLE, 100, 100, 1677721600, 0.0F}, 1677721600},
                    GrowCase{{QUADRANGLE, 200, 200, 0x40000000, 0.0F}, 0x80000000},  // half fits
                    GrowCase{{QUADRANGLE, 200, 200, 0x80000000, 0.0F}, 0x80000000},  // 2^32
                    GrowCase{{ELLIPSE, 100, 300, 0x40000000, 0.5F}, 0x40000000},
                    GrowCase{{ELLIPSE, 100, 300, 0x20000000, 0.5F}, 0x40000000},
                    GrowCase{{ELLIPSE, 100, 300, 0, 0.5F}, 0}),
    [](const testing::TestParamInfo<GrowCase>& info) { return FigureName(info.param.figure); });

// Clicks on the start-up figures, drawn into the in-memory window.
class ShapeboardClick : public graph_test::GraphTest {
 protected:
  void SetUp() override {
    graph_test::GraphTest::SetUp();
    lines_.clear();
    IO::WrStrRedirect = [](const char* s, std::size_t capacity) {
      const std::string_view text(s, capacity);
      lines_ += text.substr(0, text.find('\0'));
    };
    Shapeboard::ResetFigures();
    Shapeboard::AddFigure(CIRCLE, 100, 100, 50, 0.0F);
    Shapeboard::AddFigure(QUADRANGLE, 200, 200, 40, 0.0F);
    Shapeboard::AddFigure(CIRCLE, 300, 300, 20, 0.0F);
    Shapeboard::AddFigure(ELLIPSE, 100, 300, 20, 0.5F);
    Shapeboard::DrawAllFigures();
  }
  void TearDown() override { IO::WrStrRedirect = saved_; }

  // The window and the bitmap agree and equal the reference picture.
  static void ExpectShows(const std::string& name) {
    const graph_test::Picture shown = Shown();
    const testing_support::Image reference = testing_support::ReadReferencePicture(
        std::string(SHAPEBOARD_REFERENCE_DIR) + "/" + name + ".rle");
    EXPECT_TRUE(shown.pixels == reference.pixels) << name;
  }

  static std::string lines_;
  IO::WrStrProc saved_ = IO::WrStrRedirect;
};

std::string ShapeboardClick::lines_;

TEST_F(ShapeboardClick, StartUpFiguresAreTheReferencePicture) {
  ExpectShows("s01_figures");
}

TEST_F(ShapeboardClick, ThreeClicksOnTheSmallCircleKeepEveryOutline) {
  for (int i = 0; i < 3; ++i) Shapeboard::MouseClick(300, 300);
  ExpectShows("s02_grown");
  EXPECT_EQ(Shapeboard::Figures()[2].size, 160u);
  EXPECT_EQ(lines_,
            "mouseclick at x=300, y=300\nmouseclick at x=300, y=300\n"
            "mouseclick at x=300, y=300\n");
}

TEST_F(ShapeboardClick, AClickOnTheSquareGrowsOnlyTheSquare) {
  Shapeboard::MouseClick(200, 200);
  ExpectShows("s03_square_grown");
  const auto figures = Shapeboard::Figures();
  EXPECT_EQ(figures[0].size, 50u);
  EXPECT_EQ(figures[1].size, 80u);
  EXPECT_EQ(figures[2].size, 20u);
  EXPECT_EQ(figures[3].size, 20u);
}

TEST_F(ShapeboardClick, AClickOnNothingIsReportedAndRedrawsTheSame) {
  Shapeboard::MouseClick(300, 100);
  ExpectShows("s01_figures");
  EXPECT_EQ(lines_, "mouseclick at x=300, y=100\n");
}

// A button held on the first circle for a minute: it grows until its box
// would leave 32 signed bits, then stays, and every poll still reports.
TEST_F(ShapeboardClick, AButtonHeldForAMinuteStopsGrowingAtTheLimit) {
  for (int i = 0; i < 600; ++i) Shapeboard::MouseClick(100, 100);
  EXPECT_EQ(Shapeboard::Figures()[0].size, 1677721600u);
  EXPECT_EQ(Shapeboard::Figures()[3].size, 20u);
  EXPECT_EQ(lines_.size(), 600 * std::string("mouseclick at x=100, y=100\n").size());
  // The grown circle has left the window; the small figures are still there.
  const graph_test::Picture shown = Shown();
  EXPECT_EQ(shown.at(200, 180), graph_test::kStd[7]);
  EXPECT_EQ(shown.at(100, 100), graph_test::kStd[0]);
}

}  // namespace
