// The text grid, the text window and the block cursor.
#include "GraphTestSupport.h"

namespace graph_test {
namespace {

constexpr std::uint32_t kBlack = kStd[0];
constexpr std::uint32_t kWhite = kStd[15];

class GraphText : public GraphTest {
 protected:
  void SetUp() override {
    GraphTest::SetUp();
    win32::TEXTMETRICA metrics{};
    ASSERT_TRUE(win32::GetTextMetricsA(Graph::detail::WindowDC(), &metrics));
    cellWidth = metrics.tmMaxCharWidth;
    cellHeight = metrics.tmHeight;
    descent = metrics.tmDescent;
    ASSERT_GT(cellWidth, 1);
    ASSERT_GT(cellHeight, 1);
  }

  // Where the cursor of cell (column, row) inverts: the cell less its last
  // column and row.
  std::size_t CursorArea() const {
    return static_cast<std::size_t>(cellWidth - 1) * static_cast<std::size_t>(cellHeight - 1);
  }
  bool Inverted(const Picture& picture, int column, int row) const {
    const int left = (column - 1) * cellWidth;
    const int top = (row - 1) * cellHeight;
    for (int y = top; y < top + cellHeight - 1; ++y) {
      for (int x = left; x < left + cellWidth - 1; ++x) {
        if (picture.at(x, y) != kWhite) return false;
      }
    }
    return true;
  }

  int cellWidth = 0;
  int cellHeight = 0;
  int descent = 0;
};

TEST_F(GraphText, GridComesFromTheFontMetrics) {
  EXPECT_EQ(Graph::Columns, static_cast<std::uint32_t>(500 / cellWidth));
  EXPECT_EQ(Graph::Rows, static_cast<std::uint32_t>((500 - descent) / cellHeight));
}

TEST_F(GraphText, AfterInitTheCursorIsHomeAndHidden) {
  const Graph::TextCell cell = Graph::SetTextPosition(1, 1);
  EXPECT_EQ(cell.row, 1u);
  EXPECT_EQ(cell.column, 1u);
  EXPECT_FALSE(Graph::DisplayCursor(false));
  EXPECT_EQ(Shown().count(kBlack), 500u * 500u);
}

TEST_F(GraphText, InitMakesTheWholeGridTheTextWindow) {
  Graph::SetTextPosition(100000, 100000);
  const Graph::TextCell corner = Graph::SetTextPosition(1, 1);
  EXPECT_EQ(corner.row, Graph::Rows);
  EXPECT_EQ(corner.column, Graph::Columns);
}

TEST_F(GraphText, TextWindowTakesItsCornersInAnyOrder) {
  Graph::SetTextWindow(10, 5, 3, 2);
  Graph::SetTextPosition(1, 1);  // clamped to the top-left cell
  Graph::SetTextPosition(100, 100);
  const Graph::TextCell bottomRight = Graph::SetTextPosition(0, 0);
  EXPECT_EQ(bottomRight.row, 5u);
  EXPECT_EQ(bottomRight.column, 10u);
  const Graph::TextCell topLeft = Graph::SetTextPosition(4, 3);
  EXPECT_EQ(topLeft.row, 2u);
  EXPECT_EQ(topLeft.column, 3u);
}

TEST_F(GraphText, TextWindowPutsTheCursorInItsTopLeftCell) {
  Graph::SetTextPosition(7, 7);
  Graph::SetTextWindow(10, 5, 3, 2);
  const Graph::TextCell cell = Graph::SetTextPosition(4, 4);
  EXPECT_EQ(cell.row, 2u);
  EXPECT_EQ(cell.column, 3u);
}

TEST_F(GraphText, OversizedTextWindowIsTheWholeGrid) {
  Graph::SetTextWindow(4, 4, 6, 6);
  Graph::SetTextWindow(0, 0, 100000, 100000);
  Graph::SetTextPosition(100000, 100000);
  const Graph::TextCell corner = Graph::SetTextPosition(0, 0);
  EXPECT_EQ(corner.row, Graph::Rows);
  EXPECT_EQ(corner.column, Graph::Columns);
  const Graph::TextCell home = Graph::SetTextPosition(1, 1);
  EXPECT_EQ(home.row, 1u);
  EXPECT_EQ(home.column, 1u);
}

TEST_F(GraphText, SetTextPositionReturnsThePositionBeforeTheCall) {
  Graph::SetTextPosition(4, 7);
  const Graph::TextCell previous = Graph::SetTextPosition(2, 3);
  EXPECT_EQ(previous.row, 7u);
  EXPECT_EQ(previous.column, 4u);
}

TEST_F(GraphText, DisplayCursorInvertsTheCellOnce) {
  Graph::SetTextPosition(3, 2);
  EXPECT_FALSE(Graph::DisplayCursor(true));
  const Picture once = Shown();
  EXPECT_TRUE(Inverted(once, 3, 2));
  EXPECT_EQ(once.count(kWhite), CursorArea());
  EXPECT_TRUE(Graph::DisplayCursor(true));
  EXPECT_EQ(Shown(), once);
  EXPECT_TRUE(Graph::DisplayCursor(false));
  EXPECT_EQ(Shown().count(kBlack), 500u * 500u);
}

TEST_F(GraphText, CursorFollowsSetTextPosition) {
  Graph::DisplayCursor(true);
  Graph::SetTextPosition(5, 4);
  const Picture shown = Shown();
  EXPECT_TRUE(Inverted(shown, 5, 4));
  EXPECT_EQ(shown.count(kWhite), CursorArea());
}

TEST_F(GraphText, ShapesAcrossTheCursorAreNotInverted) {
  Graph::DisplayCursor(true);
  Graph::Rectangle(0, 0, static_cast<std::uint32_t>(2 * cellWidth),
                   static_cast<std::uint32_t>(2 * cellHeight), 7, true);
  const Picture shown = Shown();
  EXPECT_EQ(shown.count(0x3F3F3Fu), CursorArea());  // grey inverted, cursor again on top
  Graph::DisplayCursor(false);
  EXPECT_EQ(Shown().count(kStd[7]), static_cast<std::size_t>(2 * cellWidth + 1) *
                                        static_cast<std::size_t>(2 * cellHeight + 1));
}

TEST_F(GraphText, ClearScreenHidesTheCursorAndShowsItAtHome) {
  Graph::SetTextWindow(2, 2, 8, 8);
  Graph::SetTextPosition(5, 5);
  Graph::DisplayCursor(true);
  Graph::ClearScreen(0);
  const Picture shown = Shown();
  EXPECT_TRUE(Inverted(shown, 2, 2));
  EXPECT_EQ(shown.count(kWhite), CursorArea());
}

TEST_F(GraphText, CursorStaysDisplayedAcrossAReopen) {
  Graph::DisplayCursor(true);
  ASSERT_TRUE(Graph::Init(1, 1, 500, 500));
  const Picture shown = Shown();
  EXPECT_TRUE(Inverted(shown, 1, 1));
  EXPECT_EQ(shown.count(kWhite), CursorArea());
}

TEST_F(GraphText, AreaSmallerThanACellHasAnEmptyGrid) {
  ASSERT_TRUE(Graph::Init(1, 1, static_cast<std::uint32_t>(cellWidth - 1),
                          static_cast<std::uint32_t>(cellHeight - 1)));
  EXPECT_EQ(Graph::Columns, 0u);
  EXPECT_EQ(Graph::Rows, 0u);
  Graph::SetTextWindow(3, 3, 5, 5);
  const Graph::TextCell cell = Graph::SetTextPosition(9, 9);
  EXPECT_EQ(cell.row, 1u);
  EXPECT_EQ(cell.column, 1u);
  Graph::DisplayCursor(true);
  Graph::SetBkColor(2);
  Graph::ClearScreen(2);
  EXPECT_TRUE(Graph::DisplayCursor(false));
  const Picture shown = BitmapPicture();
  EXPECT_EQ(shown.count(kStd[2]), static_cast<std::size_t>(shown.width) * shown.height);
#ifdef _WIN32
  // Windows makes a window with a caption at least its minimum tracking size
  // wide, whatever was asked: the picture is the left part of a wider window.
  EXPECT_GT(WindowPicture().width, shown.width);
#else
  EXPECT_EQ(WindowPicture(), shown) << Differences(WindowPicture(), shown);
#endif
}

TEST_F(GraphText, AreaLowerThanTheDescentHasNoRows) {
  ASSERT_TRUE(Graph::Init(1, 1, 200, static_cast<std::uint32_t>(descent > 0 ? descent - 1 : 0)));
  EXPECT_EQ(Graph::Rows, 0u);
}

}  // namespace
}  // namespace graph_test
