#include "graph/GraphCursor.h"

#include <algorithm>
#include <exception>

#include "graph/Graph.h"
#include "graph/GraphDrawing.h"

namespace Graph {
namespace cursor {
namespace {

// The text grid on the caller's thread: the font's metrics, the text window
// (1-based columns and rows) and the cursor.
struct TextGrid {
  std::uint32_t charHeight = 0;
  std::uint32_t charWidth = 0;
  std::uint32_t charDescent = 0;
  drawing::Corners text{};
  std::uint32_t cursorColumn = 0;
  std::uint32_t cursorRow = 0;
  bool cursorEnabled = false;
  bool cursorShown = false;
} grid;

void invertCursorCell() {
  drawing::Issue(drawing::Invert{
      {(grid.cursorColumn - 1) * grid.charWidth, (grid.cursorRow - 1) * grid.charHeight,
       grid.cursorColumn * grid.charWidth - 1, grid.cursorRow * grid.charHeight - 1}});
}

void showCursor() {
  if (grid.cursorShown) return;
  invertCursorCell();
  grid.cursorShown = true;
}

void hideCursor() {
  if (!grid.cursorShown) return;
  invertCursorCell();
  grid.cursorShown = false;
}

void reapplyCursor() {
  DisplayCursor(grid.cursorEnabled);
}

std::uint32_t clampInto(std::uint32_t value, std::uint32_t low, std::uint32_t high) {
  if (value < low) return low;
  if (value > high) return high;
  return value;
}

// A drawing area smaller than one cell has an empty grid; the text window
// then is the single cell (1, 1), which the DCs clip.
std::uint32_t lastColumn() {
  return std::max(Columns, 1u);
}
std::uint32_t lastRow() {
  return std::max(Rows, 1u);
}

}  // namespace

Hidden::Hidden() : raisesBefore_(std::uncaught_exceptions()) {
  hideCursor();
}

Hidden::~Hidden() noexcept(false) {
  if (std::uncaught_exceptions() == raisesBefore_) {
    reapplyCursor();
    return;
  }
  try {
    reapplyCursor();
  } catch (...) {
  }
}

drawing::Corners TextWindowPixels() {
  return drawing::Corners{(grid.text.left - 1) * grid.charWidth,
                          (grid.text.top - 1) * grid.charHeight, grid.text.right * grid.charWidth,
                          grid.text.bottom * grid.charHeight + grid.charDescent};
}

void SetUpTextGrid(win32::HDC windowDC) {
  win32::TEXTMETRICA metrics{};
  win32::GetTextMetricsA(windowDC, &metrics);
  grid.charHeight = static_cast<std::uint32_t>(metrics.tmHeight);
  grid.charDescent = static_cast<std::uint32_t>(metrics.tmDescent);
  grid.charWidth = static_cast<std::uint32_t>(metrics.tmMaxCharWidth);
  const bool rowsFit = grid.charHeight != 0 && Depth >= grid.charDescent;
  Rows = rowsFit ? (Depth - grid.charDescent) / grid.charHeight : 0;
  Columns = grid.charWidth != 0 ? Width / grid.charWidth : 0;
  SetTextWindow(1, 1, Columns, Rows);
}

void Reset() {
  grid.cursorEnabled = false;
  grid.cursorShown = false;
}

}  // namespace cursor

void SetTextWindow(std::uint32_t x1, std::uint32_t y1, std::uint32_t x2, std::uint32_t y2) {
  x1 = cursor::clampInto(x1, 1, cursor::lastColumn());
  x2 = cursor::clampInto(x2, 1, cursor::lastColumn());
  y1 = cursor::clampInto(y1, 1, cursor::lastRow());
  y2 = cursor::clampInto(y2, 1, cursor::lastRow());
  cursor::grid.text.left = std::min(x1, x2);
  cursor::grid.text.top = std::min(y1, y2);
  cursor::grid.text.right = std::max(x1, x2);
  cursor::grid.text.bottom = std::max(y1, y2);
  SetTextPosition(cursor::grid.text.left, cursor::grid.text.top);
}

TextCell SetTextPosition(std::uint32_t column, std::uint32_t row) {
  column = cursor::clampInto(column, cursor::grid.text.left, cursor::grid.text.right);
  row = cursor::clampInto(row, cursor::grid.text.top, cursor::grid.text.bottom);
  const TextCell previous{cursor::grid.cursorRow, cursor::grid.cursorColumn};
  cursor::hideCursor();
  cursor::grid.cursorColumn = column;
  cursor::grid.cursorRow = row;
  DisplayCursor(cursor::grid.cursorEnabled);
  return previous;
}

bool DisplayCursor(bool on) {
  const bool previous = cursor::grid.cursorEnabled;
  cursor::grid.cursorEnabled = on;
  if (on) {
    cursor::showCursor();
  } else {
    cursor::hideCursor();
  }
  return previous;
}

}  // namespace Graph
