// One graphics window for a console program. A server thread of the
// library's own owns the window and repaints it from an off-screen bitmap;
// the caller's thread draws into the bitmap and the window at once.
#pragma once

#include <array>
#include <cstdint>
#include <span>

#include "platform/Win32.h"

namespace Graph {

// Size of the drawing area (and of the off-screen bitmap) in pixels.
extern std::uint32_t Width;
extern std::uint32_t Depth;
// Colours the display can show; 0xFFFFFFFF stands for "at least that many"
// on displays of 32 bits per pixel and more.
extern std::uint32_t NumPColor;
// Size of the text grid in character cells.
extern std::uint32_t Rows;
extern std::uint32_t Columns;

// Standard fill masks: the platform's hatch styles, and solid.
extern std::uint32_t PATSYM_HORIZ;
extern std::uint32_t PATSYM_VERT;
extern std::uint32_t PATSYM_DIAG2;
extern std::uint32_t PATSYM_DIAG1;
extern std::uint32_t PATSYM_DENSE2;
extern std::uint32_t PATSYM_DENSE1;
extern std::uint32_t PATSYM_SOLID;

// A cursor position as SetTextPosition returns it: row first.
struct TextCell {
  std::uint32_t row;
  std::uint32_t column;
};

void BEGIN();

// Opens (or re-opens) the window with its outer top-left corner at (x, y)
// and a drawing area of width x depth pixels. FALSE, after a failure box,
// for a size no bitmap or display can have: an open window then stays as it
// was. Without any window yet, a display that refuses halts the program.
bool Init(std::uint32_t x, std::uint32_t y, std::uint32_t width, std::uint32_t depth);
// Closes the window; the server thread waits for the next Init.
void Exit();

void Ellipse(std::uint32_t x, std::uint32_t y, std::uint32_t a, std::uint32_t b,
             std::uint32_t colour, bool fill);
void Circle(std::uint32_t x, std::uint32_t y, std::uint32_t r, std::uint32_t colour);
// Both corners are part of the rectangle.
void Rectangle(std::uint32_t x1, std::uint32_t y1, std::uint32_t x2, std::uint32_t y2,
               std::uint32_t colour, bool fill);
// Mode 0: the whole drawing area; mode 2: the text window; then the cursor
// goes home.
void ClearScreen(std::uint32_t mode);

void InitStdPalette();
// Colours are 0x00RRGGBB. Returns 0, or -1 (nothing changed) when the
// display has fewer colours than the array has entries.
std::int32_t RemapAllPalette(std::span<const std::uint32_t> colours);
// Returns the previous background colour number.
std::uint32_t SetBkColor(std::uint32_t colour);
void SetBkMix(bool opaque);
// 0 solid, 1 dotted, 2 dashed, 3 dash-dot, 4 dash-dot-dot, 5 invisible;
// any other number keeps the current style.
void SetLinestyle(std::uint32_t style);
void SetStdFillMask(std::uint32_t mask);
std::uint32_t GetStdFillMask();
// Row 0 at the top, bit 7 of each byte the leftmost pixel.
void SetFillMask(const std::array<std::uint8_t, 8>& mask);

void SetTextWindow(std::uint32_t x1, std::uint32_t y1, std::uint32_t x2, std::uint32_t y2);
TextCell SetTextPosition(std::uint32_t column, std::uint32_t row);
bool DisplayCursor(bool on);

}  // namespace Graph
