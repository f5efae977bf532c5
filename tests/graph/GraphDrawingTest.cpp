// Circle, Ellipse, Rectangle and ClearScreen, in the window and the bitmap.
#include <fstream>
#include <sstream>

#include "GraphTestSupport.h"

namespace graph_test {
namespace {

constexpr std::uint32_t kGrey = kStd[7];
constexpr std::uint32_t kBlack = kStd[0];

void DrawStartupFigures() {
  Graph::Circle(100, 100, 50, 7);
  Graph::Rectangle(180, 180, 220, 220, 7, false);
  Graph::Circle(300, 300, 20, 7);
  Graph::Ellipse(100, 300, 20, 10, 7, false);
}

// The start-up figures as the reference rasteriser drew them.
Picture StartupReference() {
  Picture picture{500, 500, std::vector<std::uint32_t>(500 * 500, kBlack)};
  std::ifstream file(GRAPH_TEST_DATA_DIR "/startup_figures.txt");
  std::string line;
  while (std::getline(file, line)) {
    if (line.empty() || line[0] == '#') continue;
    std::istringstream fields(line);
    int x = 0;
    int y = 0;
    fields >> x >> y;
    picture.pixels[static_cast<std::size_t>(y) * 500 + x] = kGrey;
  }
  return picture;
}

using GraphDrawing = GraphTest;

TEST_F(GraphDrawing, StartupFiguresMatchTheReferencePicture) {
  DrawStartupFigures();
  const Picture shown = Shown();
  const Picture reference = StartupReference();
  ASSERT_EQ(reference.count(kGrey), 637u);
  EXPECT_EQ(shown, reference) << Differences(shown, reference);
}

TEST_F(GraphDrawing, CircleOutlinesItsBoundingBoxAndKeepsTheInside) {
  Graph::Rectangle(60, 60, 140, 140, 2, true);
  Graph::Circle(100, 100, 50, 7);
  const Picture shown = Shown();
  const Picture expected = Recipe([](win32::HDC dc) {
    {
      Tools fill(dc, win32::PS_SOLID, 2, win32::BS_SOLID);
      win32::Rectangle(dc, 60, 60, 141, 141);
    }
    Tools outline(dc, win32::PS_SOLID, 7, win32::BS_NULL);
    win32::Arc(dc, 50, 50, 150, 150, 0, 0, 0, 0);
  });
  EXPECT_EQ(shown, expected) << Differences(shown, expected);
  EXPECT_EQ(shown.at(100, 100), kStd[2]);
  EXPECT_EQ(shown.at(50, 100), kGrey);
  EXPECT_EQ(shown.at(100, 50), kGrey);
  for (int x = 0; x < 500; ++x) {
    EXPECT_NE(shown.at(x, 49), kGrey) << x;
    EXPECT_NE(shown.at(x, 150), kGrey) << x;
  }
}

TEST_F(GraphDrawing, RectangleIncludesAllFourCorners) {
  Graph::Rectangle(180, 180, 220, 220, 7, false);
  const Picture shown = Shown();
  EXPECT_EQ(shown.at(180, 180), kGrey);
  EXPECT_EQ(shown.at(220, 180), kGrey);
  EXPECT_EQ(shown.at(180, 220), kGrey);
  EXPECT_EQ(shown.at(220, 220), kGrey);
  EXPECT_EQ(shown.at(200, 200), kBlack);
  EXPECT_EQ(shown.at(221, 220), kBlack);
  EXPECT_EQ(shown.at(220, 221), kBlack);
  EXPECT_EQ(shown.count(kGrey), 4u * 40u);
}

TEST_F(GraphDrawing, SwappedCornersDrawTheSameBox) {
  Graph::Rectangle(180, 180, 220, 220, 7, false);
  const Picture straight = Shown();
  for (auto corners : {std::array<std::uint32_t, 4>{220, 220, 180, 180},
                       std::array<std::uint32_t, 4>{220, 180, 180, 220},
                       std::array<std::uint32_t, 4>{180, 220, 220, 180}}) {
    Graph::ClearScreen(0);
    Graph::Rectangle(corners[0], corners[1], corners[2], corners[3], 7, false);
    const Picture swapped = Shown();
    EXPECT_EQ(swapped, straight) << Differences(swapped, straight);
  }
}

TEST_F(GraphDrawing, FilledRectangleHasTheFillColourToItsCorners) {
  Graph::Rectangle(300, 50, 450, 200, 4, true);
  const Picture shown = Shown();
  EXPECT_EQ(shown.count(kStd[4]), 151u * 151u);
  EXPECT_EQ(shown.at(300, 50), kStd[4]);
  EXPECT_EQ(shown.at(450, 200), kStd[4]);
}

TEST_F(GraphDrawing, OnePointRectangleIsOnePixelWhateverTheFill) {
  // A filled box would take the background colour through an empty mask;
  // the single pixel takes the drawing colour.
  Graph::SetFillMask({0, 0, 0, 0, 0, 0, 0, 0});
  Graph::SetBkColor(1);
  Graph::Rectangle(5, 5, 5, 5, 14, true);
  const Picture shown = Shown();
  EXPECT_EQ(shown.at(5, 5), kStd[14]);
  EXPECT_EQ(shown.count(kStd[14]), 1u);
  EXPECT_EQ(shown.count(kBlack), 500u * 500u - 1u);
}

TEST_F(GraphDrawing, FlatEllipseIsALineWithBothEnds) {
  Graph::Ellipse(100, 100, 20, 0, 7, true);
  Graph::Ellipse(200, 100, 0, 20, 15, false);
  const Picture shown = Shown();
  for (int x = 80; x <= 120; ++x) EXPECT_EQ(shown.at(x, 100), kGrey) << x;
  for (int y = 80; y <= 120; ++y) EXPECT_EQ(shown.at(200, y), kStd[15]) << y;
  EXPECT_EQ(shown.count(kGrey), 41u);
  EXPECT_EQ(shown.count(kStd[15]), 41u);
}

TEST_F(GraphDrawing, PointEllipseIsOnePixel) {
  Graph::Ellipse(250, 250, 0, 0, 7, true);
  Graph::Ellipse(300, 100, 0, 0, 15, false);
  const Picture shown = Shown();
  EXPECT_EQ(shown.at(250, 250), kGrey);
  EXPECT_EQ(shown.at(300, 100), kStd[15]);
  EXPECT_EQ(shown.count(kBlack), 500u * 500u - 2u);
}

TEST_F(GraphDrawing, FilledShapesMatchTheirGdiCalls) {
  Graph::Ellipse(150, 100, 100, 50, 2, true);
  Graph::Rectangle(300, 50, 450, 200, 4, true);
  Graph::Ellipse(250, 350, 150, 100, 6, true);
  Graph::Ellipse(250, 350, 150, 100, 15, false);
  const Picture shown = Shown();
  const Picture expected = Recipe([](win32::HDC dc) {
    {
      Tools fill(dc, win32::PS_SOLID, 2, win32::BS_SOLID);
      win32::Ellipse(dc, 50, 50, 250, 150);
    }
    {
      Tools fill(dc, win32::PS_SOLID, 4, win32::BS_SOLID);
      win32::Rectangle(dc, 300, 50, 451, 201);
    }
    {
      Tools fill(dc, win32::PS_SOLID, 6, win32::BS_SOLID);
      win32::Ellipse(dc, 100, 250, 400, 450);
    }
    Tools outline(dc, win32::PS_SOLID, 15, win32::BS_NULL);
    win32::Arc(dc, 100, 250, 400, 450, 0, 0, 0, 0);
  });
  EXPECT_EQ(shown, expected) << Differences(shown, expected);
  EXPECT_EQ(shown.at(150, 100), kStd[2]);
}

TEST_F(GraphDrawing, CoordinatesWrapAndShapesAreClippedToTheArea) {
  Graph::Circle(0, 0, 30, 7);  // left and top wrap to -30
  Graph::Ellipse(499, 250, 0, 600, 12, false);
  const Picture shown = Shown();
  const Picture expected = Recipe([](win32::HDC dc) {
    {
      Tools outline(dc, win32::PS_SOLID, 7, win32::BS_NULL);
      win32::Arc(dc, -30, -30, 30, 30, 0, 0, 0, 0);
    }
    Tools outline(dc, win32::PS_SOLID, 12, win32::BS_NULL);
    win32::MoveToEx(dc, 499, -350, nullptr);
    win32::LineTo(dc, 499, 850);
  });
  EXPECT_EQ(shown, expected) << Differences(shown, expected);
  EXPECT_EQ(shown.at(499, 0), kStd[12]);
  EXPECT_EQ(shown.at(499, 499), kStd[12]);
  EXPECT_EQ(shown.at(0, 29), kGrey);
}

TEST_F(GraphDrawing, ClearScreenZeroFillsEverythingWithTheBackgroundColour) {
  DrawStartupFigures();
  Graph::SetBkColor(4);
  Graph::ClearScreen(0);
  const Picture shown = Shown();
  EXPECT_EQ(shown.count(kStd[4]), 500u * 500u);
}

TEST_F(GraphDrawing, ClearScreenOneClearsNothingButHomesTheCursor) {
  DrawStartupFigures();
  const Picture before = Shown();
  Graph::SetTextWindow(3, 2, 10, 5);
  Graph::SetTextPosition(6, 4);
  Graph::SetBkColor(4);
  Graph::ClearScreen(1);
  EXPECT_EQ(Shown(), before);
  const Graph::TextCell home = Graph::SetTextPosition(1, 1);
  EXPECT_EQ(home.row, 2u);
  EXPECT_EQ(home.column, 3u);
}

TEST_F(GraphDrawing, ClearScreenTwoFillsTheTextWindowAndTheDescent) {
  win32::TEXTMETRICA metrics{};
  ASSERT_TRUE(win32::GetTextMetricsA(Graph::detail::WindowDC(), &metrics));
  const int width = metrics.tmMaxCharWidth;
  const int height = metrics.tmHeight;
  const int descent = metrics.tmDescent;
  ASSERT_GT(width, 0);
  ASSERT_GT(height, 0);
  Graph::SetTextWindow(2, 2, 4, 3);
  Graph::SetBkColor(2);
  Graph::ClearScreen(2);
  const Picture shown = Shown();
  const int left = width;
  const int top = height;
  const int right = 4 * width;
  const int bottom = 3 * height + descent;
  EXPECT_EQ(shown.at(left, top), kStd[2]);
  EXPECT_EQ(shown.at(right, bottom), kStd[2]);
  EXPECT_EQ(shown.at(left - 1, top), kBlack);
  EXPECT_EQ(shown.at(left, top - 1), kBlack);
  EXPECT_EQ(shown.at(right + 1, bottom), kBlack);
  EXPECT_EQ(shown.at(right, bottom + 1), kBlack);
  EXPECT_EQ(shown.count(kStd[2]), static_cast<std::size_t>(right - left + 1) *
                                      static_cast<std::size_t>(bottom - top + 1));
}

TEST_F(GraphDrawing, ClearScreenWithAnotherModeClearsNothing) {
  DrawStartupFigures();
  const Picture before = Shown();
  Graph::SetBkColor(4);
  Graph::ClearScreen(3);
  Graph::ClearScreen(0xFFFFFFFFu);
  EXPECT_EQ(Shown(), before);
}

TEST_F(GraphDrawing, CustomMaskIsInForceAgainAfterClearScreen) {
  const std::array<std::uint8_t, 8> mask = {0xAA, 0x55, 0xAA, 0x55, 0xF0, 0x0F, 0x81, 0x18};
  Graph::SetStdFillMask(Graph::PATSYM_VERT);
  Graph::SetFillMask(mask);
  Graph::SetBkColor(1);
  Graph::ClearScreen(0);
  EXPECT_EQ(Graph::GetStdFillMask(), Graph::PATSYM_VERT);
  Graph::Rectangle(10, 10, 249, 249, 14, true);
  const Picture shown = Shown();
  EXPECT_EQ(shown.at(300, 300), kStd[1]);  // the clear itself was solid
  // Row 0 of the mask, 0xAA: set bits on even columns.
  EXPECT_EQ(shown.at(16, 16), kStd[14]);
  EXPECT_EQ(shown.at(17, 16), kStd[1]);
  // Row 4, 0xF0: the left half of the cell.
  EXPECT_EQ(shown.at(19, 20), kStd[14]);
  EXPECT_EQ(shown.at(20, 20), kStd[1]);
}

TEST_F(GraphDrawing, StandardMaskIsInForceAgainAfterClearScreen) {
  Graph::SetStdFillMask(Graph::PATSYM_HORIZ);
  Graph::ClearScreen(0);
  EXPECT_EQ(Graph::GetStdFillMask(), Graph::PATSYM_HORIZ);
  Graph::Rectangle(16, 16, 100, 100, 12, true);
  const Picture shown = Shown();
  EXPECT_EQ(shown.at(50, 19), kStd[12]);  // hatch row: y % 8 == 3
  EXPECT_EQ(shown.at(50, 20), kBlack);
}

TEST_F(GraphDrawing, DrawingAfterExitDrawsNothingAndLeavesNoTrace) {
  Graph::Exit();
  DrawStartupFigures();
  Graph::ClearScreen(0);
  Graph::SetBkColor(3);
  ASSERT_TRUE(Graph::Init(1, 1, 500, 500));
  const Picture shown = Shown();
  EXPECT_EQ(shown.count(kBlack), 500u * 500u);
}

}  // namespace
}  // namespace graph_test
