// Drawing: one typed record per drawing command, carried out under the
// bitmap lock on the caller's thread, into the off-screen bitmap and the
// window at once; the pen and brush of each drawing; the palette, the fill
// masks and the line style. The public drawing calls of Graph.h are here.
#pragma once

#include <cstdint>
#include <variant>

namespace Graph::drawing {

// The commands, each with its own arguments. Coordinates are the library's
// unsigned ones, handed to the GDI as ints.
struct SetOutlineStyle {
  std::uint32_t penStyle;
};
struct SelectStdMask {
  std::uint32_t mask;
};
struct RealisePalette {};
struct SetBkColour {
  std::uint32_t colour;
};
struct SetBkMode {
  std::int32_t mode;
};
struct Pixel {
  std::uint32_t x;
  std::uint32_t y;
  std::uint32_t colour;
};
// A rectangle in the library's coordinates.
struct Corners {
  std::uint32_t left;
  std::uint32_t top;
  std::uint32_t right;
  std::uint32_t bottom;
};
// Both corners are in it.
struct Box {
  Corners corners;
  std::uint32_t colour;
  bool fill;
};
// Both end points are drawn.
struct Line {
  std::uint32_t x1;
  std::uint32_t y1;
  std::uint32_t x2;
  std::uint32_t y2;
  std::uint32_t colour;
};
// Unfilled, the outline only.
struct Ellipse {
  Corners bounds;
  std::uint32_t colour;
  bool fill;
};
// Right and bottom edges excluded, as a RECT.
struct Invert {
  Corners area;
};

using Command = std::variant<SetOutlineStyle, SelectStdMask, RealisePalette, SetBkColour, SetBkMode,
                             Pixel, Box, Line, Ellipse, Invert>;

// Runs the command on the bitmap, then on the window. Without a window there
// is nothing to draw into.
void Issue(const Command& command);
// Runs a command that keeps its state in the module (or serves both DCs
// itself) once.
void IssueState(const Command& command);

// Module start: the standard masks' numbers, the pen and brush templates and
// the masks and style as they are before any call.
void Reset();

}  // namespace Graph::drawing
