// The software rasteriser behind the device contexts: lines, boxes, ellipses
// and arcs with 1-pixel pens, brush fills and inversion on 32-bit XRGB pixels.
// Every primitive clips to the canvas before it walks pixels, so its cost
// follows what is visible, whatever the size of the figure. Colours here are
// already resolved to XRGB; coordinates are device pixels.
#pragma once

#include <array>
#include <cstdint>
#include <vector>

#include "platform/display/Surface.h"
#include "platform/kernel/WinTypes.h"

namespace win32::detail {

struct Canvas {
  Surface* surface;
  RECT clip;  // inside the surface; right and bottom exclusive
};

enum class PenStyle { Solid, Dash, Dot, DashDot, DashDotDot, Null };

struct ResolvedPen {
  PenStyle style;
  std::uint32_t colour;
  std::uint32_t background;  // for the gaps of styled pens when opaque
  bool opaque;
};

enum class BrushKind { Null, Solid, Hatched, Pattern };

struct ResolvedBrush {
  BrushKind kind;
  std::uint32_t colour;      // solid colour, hatch line colour
  int hatch;                 // HS_* of a hatched brush
  std::uint32_t background;  // hatch gaps (when opaque) and pattern 1-bits
  bool opaque;
  std::uint32_t foreground;  // pattern 0-bits of a monochrome pattern
  // A pattern tiled from device (0, 0): monochrome bits (1 = set) or colours.
  std::int32_t patternWidth;
  std::int32_t patternHeight;
  std::vector<std::uint8_t> monoBits;
  std::vector<std::uint32_t> colourBits;
};

// Where a pixel ends up and the area touched; drawing grows `touched`.
struct Target {
  Canvas canvas;
  RECT touched;  // empty (right <= left) until something is drawn
};

void SetPixelAt(Target& target, std::int64_t x, std::int64_t y, std::uint32_t colour);
void FillBox(Target& target, const RECT& box, const ResolvedBrush& brush);
void InvertBox(Target& target, const RECT& box);

// A line from (x1, y1) towards (x2, y2), the end left out; the pen's style
// pattern starts at the first pixel.
void DrawLine(Target& target, const ResolvedPen& pen, std::int64_t x1, std::int64_t y1,
              std::int64_t x2, std::int64_t y2);

// Boxes are the rectangle from (left, top) to (right, bottom) as given to
// GDI: any order of corners, right and bottom edges left out.
void DrawRectangle(Target& target, const ResolvedPen& pen, const ResolvedBrush& brush,
                   const RECT& box);
void DrawEllipse(Target& target, const ResolvedPen& pen, const ResolvedBrush& brush,
                 const RECT& box);
// The outline counter-clockwise from the radial towards start to the radial
// towards end, leaving out its last pixel. Radials meeting the outline at one
// place give the whole outline, or nothing when the end lies less than half
// a turn counter-clockwise from the start (README.md, "One loop").
void DrawArc(Target& target, const ResolvedPen& pen, const RECT& box, POINT start, POINT end);

}  // namespace win32::detail
