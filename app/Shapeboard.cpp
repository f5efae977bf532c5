#include "app/Shapeboard.h"

#include <array>
#include <cmath>
#include <limits>

#include "console/IO.h"
#include "console/Lib.h"
#include "graph/Graph.h"
#include "input/MsMouse.h"
#include "runtime/TERMINATION.h"
#include "runtime/krExceptions.h"
#include "runtime/krnK2C.h"
#include "runtime/krnShowHistory.h"

namespace Shapeboard {
namespace {

constexpr std::uint32_t kOutlineColour = 7;  // light grey in the standard palette
constexpr std::uint32_t kPollMilliseconds = 100;

// Slots 1 to 10 are elements 0 to 9; slots past `count` are never read.
struct FigureTable {
  std::array<FigureRc, 10> slots{};
  std::uint32_t count = 0;
} gFigures;

MsMouse::MsData mp{};

// The corners of the box a figure is drawn in, relative to nothing: exact
// values, which the caller checks before handing them on.
struct Extent {
  std::int64_t left, top, right, bottom;
};

constexpr bool fitsCoordinate(std::int64_t value) {
  return value >= std::numeric_limits<std::int32_t>::min() &&
         value <= std::numeric_limits<std::int32_t>::max();
}

// The ellipse's vertical semi-axis: size times the proportion, truncated,
// formed from the exact size. Outside the unsigned 32-bit range: range trap.
std::uint32_t ellipseMinorAxis(const FigureRc& figure) {
  const double b =
      std::trunc(static_cast<double>(figure.size) * figure.ellipseWidthLengthProportion);
  if (!(b >= 0.0 && b <= std::numeric_limits<std::uint32_t>::max())) K2C_TRAP_RANGE();
  return static_cast<std::uint32_t>(b);
}

Extent drawnExtent(const FigureRc& figure) {
  const std::int64_t x0 = figure.x0;
  const std::int64_t y0 = figure.y0;
  switch (figure.type) {
    case FigureTypeEn::CIRCLE:
      return {x0 - figure.size, y0 - figure.size, x0 + figure.size, y0 + figure.size};
    case FigureTypeEn::QUADRANGLE: {
      const std::int64_t half = figure.size / 2;
      return {x0 - half, y0 - half, x0 + half, y0 + half};
    }
    case FigureTypeEn::ELLIPSE: {
      const std::int64_t b = ellipseMinorAxis(figure);
      return {x0 - figure.size, y0 - b, x0 + figure.size, y0 + b};
    }
  }
  K2C_TRAP_CASE();
}

bool fitsDrawing(const FigureRc& figure) {
  const Extent e = drawnExtent(figure);
  return fitsCoordinate(e.left) && fitsCoordinate(e.top) && fitsCoordinate(e.right) &&
         fitsCoordinate(e.bottom);
}

// A signed coordinate as the drawing library takes it: wrapped to 32 bits,
// read back as signed by the device.
std::uint32_t asCoordinate(std::int64_t value) {
  return static_cast<std::uint32_t>(value);
}

void writeClickLine(std::uint32_t x, std::uint32_t y) {
  IO::WrStr("mouseclick at x=");
  IO::WrCard(x, 0);
  IO::WrStr(", y=");
  IO::WrCard(y, 0);
  IO::WrLn();
}

void addStartFigures() {
  AddFigure(FigureTypeEn::CIRCLE, 100, 100, 50, 0.0F);
  AddFigure(FigureTypeEn::QUADRANGLE, 200, 200, 40, 0.0F);
  AddFigure(FigureTypeEn::CIRCLE, 300, 300, 20, 0.0F);
  AddFigure(FigureTypeEn::ELLIPSE, 100, 300, 20, 0.5F);
}

// The mouse never reports a negative position; one would be a caller error.
std::uint32_t position(std::int32_t value) {
  if (value < 0) K2C_TRAP_RANGE();
  return static_cast<std::uint32_t>(value);
}

}  // namespace

void AddFigure(FigureTypeEn type, std::uint32_t x0, std::uint32_t y0, std::uint32_t size,
               float ellipseWidthLengthProportion) {
  const std::uint32_t slot = K2C_CheckIndex<std::uint32_t>(gFigures.count, 10);
  gFigures.slots[slot] = {type, x0, y0, size, ellipseWidthLengthProportion};
  ++gFigures.count;
}

void DrawFigure(FigureRc figure) {
  const Extent e = drawnExtent(figure);
  if (!fitsCoordinate(e.bottom) || !fitsCoordinate(e.right) || !fitsCoordinate(e.top) ||
      !fitsCoordinate(e.left)) {
    K2C_TRAP_RANGE();
  }
  switch (figure.type) {
    case FigureTypeEn::CIRCLE:
      Graph::Circle(figure.x0, figure.y0, figure.size, kOutlineColour);
      return;
    case FigureTypeEn::QUADRANGLE:
      Graph::Rectangle(asCoordinate(e.left), asCoordinate(e.top), asCoordinate(e.right),
                       asCoordinate(e.bottom), kOutlineColour, false);
      return;
    case FigureTypeEn::ELLIPSE:
      Graph::Ellipse(figure.x0, figure.y0, figure.size, ellipseMinorAxis(figure), kOutlineColour,
                     false);
      return;
  }
  K2C_TRAP_CASE();
}

void DrawAllFigures() {
  for (std::uint32_t i = 0; i < gFigures.count; ++i) DrawFigure(gFigures.slots[i]);
}

bool IsPointInFigure(std::uint32_t x, std::uint32_t y, FigureRc figure) {
  if (figure.type > FigureTypeEn::ELLIPSE) K2C_TRAP_CASE();
  const std::int64_t half = figure.size / 2;
  const std::int64_t x0 = figure.x0;
  const std::int64_t y0 = figure.y0;
  return x0 - half < x && y0 - half < y && x < x0 + half && y < y0 + half;
}

void EnlargeFigure(FigureRc& figure) {
  if (figure.size > std::numeric_limits<std::uint32_t>::max() / 2) return;
  FigureRc doubled = figure;
  doubled.size = figure.size * 2;
  if (fitsDrawing(doubled)) figure = doubled;
}

void MouseClick(std::uint32_t x, std::uint32_t y) {
  writeClickLine(x, y);
  for (std::uint32_t i = 0; i < gFigures.count; ++i) {
    if (IsPointInFigure(x, y, gFigures.slots[i])) EnlargeFigure(gFigures.slots[i]);
  }
  DrawAllFigures();
}

std::span<const FigureRc> Figures() {
  return {gFigures.slots.data(), gFigures.count};
}

void ResetFigures() {
  gFigures = {};
}

void Main(std::int32_t argc, char** argv) {
  K2C_InitFPP();
  K2C_INIT_HISTORY();
  K2C_BEGIN(argc, argv, true, 2000000, 4000000);
  Lib::BEGIN();
  Graph::BEGIN();
  MsMouse::BEGIN();
  IO::BEGIN();

  IO::WrLn();
  if (!Graph::Init(1, 1, 500, 500)) K2C_HALT(9);
  MsMouse::InitMouse();
  addStartFigures();
  DrawAllFigures();

  do {
    Lib::Delay(kPollMilliseconds);
    MsMouse::GetStatus(mp);
    if (mp.left_pressed) MouseClick(position(mp.col), position(mp.row));
  } while (!IO::KeyPressed());
}

}  // namespace Shapeboard
