// The text grid and its cursor: the font's cell size, the text window (in
// 1-based columns and rows) and the cursor cell, shown by inverting it.
// Caller's thread only. The text-window calls of Graph.h are here.
#pragma once

#include <cstdint>

#include "graph/GraphDrawing.h"
#include "platform/Win32.h"

namespace Graph::cursor {

// The cursor bracket of a drawing: the cursor cell is hidden while the
// drawing runs and shown again after it, also when a raise leaves the
// drawing. Showing it again while a raise unwinds may raise once more; that
// one is dropped, the first goes on to its handler.
class Hidden {
 public:
  Hidden();
  ~Hidden() noexcept(false);
  Hidden(const Hidden&) = delete;
  Hidden& operator=(const Hidden&) = delete;

 private:
  int raisesBefore_;
};

// The text window in pixels, both corners in it, the last row's descent
// included.
drawing::Corners TextWindowPixels();

// Measures the font of the window's DC and makes the whole drawing area the
// text window.
void SetUpTextGrid(win32::HDC windowDC);
// Module start: no cursor.
void Reset();

}  // namespace Graph::cursor
