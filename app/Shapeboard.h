// The application: four figures in the graphics window, grown by clicks.
//
// Figure geometry is worked out in 64-bit signed arithmetic, so a hit test
// never wraps. A figure doubles only while every coordinate it is drawn with
// stays a signed 32-bit value (what the drawing library hands on): a click
// on a figure at that size still reports and redraws, but the figure keeps
// its size. See README "Figures that outgrow the window".
#pragma once

#include <cstdint>
#include <span>

namespace Shapeboard {

enum class FigureTypeEn : std::uint8_t { CIRCLE, QUADRANGLE, ELLIPSE };

struct FigureRc {
  FigureTypeEn type;
  std::uint32_t x0;
  std::uint32_t y0;
  std::uint32_t size;
  float ellipseWidthLengthProportion;
};

// The table holds 10 figures; an eleventh raises the index trap.
void AddFigure(FigureTypeEn type, std::uint32_t x0, std::uint32_t y0, std::uint32_t size,
               float ellipseWidthLengthProportion);
void DrawFigure(FigureRc figure);
void DrawAllFigures();
// The open square of side 2 * (size / 2) around the centre, for every kind.
bool IsPointInFigure(std::uint32_t x, std::uint32_t y, FigureRc figure);
void EnlargeFigure(FigureRc& figure);
// Reports the click on the console, grows every figure under it, redraws.
void MouseClick(std::uint32_t x, std::uint32_t y);

// The figures added so far, slot 1 first; for tests.
std::span<const FigureRc> Figures();
// Empties the table; for tests.
void ResetFigures();

// The module body: the program's main procedure.
void Main(std::int32_t argc, char** argv);

}  // namespace Shapeboard
