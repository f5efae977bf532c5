// GDI rasteriser costs: a radius-250 circle against huge figures clipped to a
// 500 x 500 surface (their cost should follow what is visible), the start-up
// figures, and one repaint-sized BitBlt.
#include <benchmark/benchmark.h>

#include <climits>
#include <memory>
#include <vector>

#include "platform/gdi/Gdi.h"
#include "platform/gdi/GdiInternal.h"

using namespace win32;

namespace {

// A 500 x 500 memory DC with a 16-colour palette, pen colour 7 and either no
// brush or a solid colour-2 brush.
class Board {
 public:
  explicit Board(bool filled, UINT penStyle = PS_SOLID) {
    HDC display = CreateDCA("DISPLAY", nullptr, nullptr, nullptr);
    dc_ = CreateCompatibleDC(display);
    bitmap_ = CreateCompatibleBitmap(display, 500, 500);
    DeleteDC(display);
    oldBitmap_ = SelectObject(dc_, bitmap_);
    std::vector<std::uint8_t> storage(sizeof(LOGPALETTE) + 16 * sizeof(PALETTEENTRY));
    auto* log = reinterpret_cast<LOGPALETTE*>(storage.data());
    log->palVersion = 0x300;
    log->palNumEntries = 16;
    for (int n = 0; n < 16; ++n) {
      const auto level = static_cast<BYTE>(n * 16);
      log->palPalEntry[n] = {level, level, level, 0};
    }
    palette_ = CreatePalette(log);
    SelectPalette(dc_, palette_, TRUE);
    RealizePalette(dc_);
    const LOGPEN logPen{penStyle, {1, 0}, PALETTEINDEX(7)};
    const LOGBRUSH logBrush{filled ? BS_SOLID : BS_NULL, PALETTEINDEX(2), 0};
    pen_ = CreatePenIndirect(&logPen);
    brush_ = CreateBrushIndirect(&logBrush);
    oldPen_ = SelectObject(dc_, pen_);
    oldBrush_ = SelectObject(dc_, brush_);
  }
  ~Board() {
    SelectObject(dc_, oldPen_);
    SelectObject(dc_, oldBrush_);
    SelectObject(dc_, oldBitmap_);
    DeleteDC(dc_);
    DeleteObject(pen_);
    DeleteObject(brush_);
    DeleteObject(bitmap_);
    DeleteObject(palette_);
  }
  HDC dc() const { return dc_; }

 private:
  HDC dc_;
  HBITMAP bitmap_;
  HPALETTE palette_;
  HPEN pen_;
  HBRUSH brush_;
  HGDIOBJ oldBitmap_, oldPen_, oldBrush_;
};

void BM_Circle250Arc(benchmark::State& state) {
  Board board(false);
  for (auto _ : state) Arc(board.dc(), 0, 0, 500, 500, 0, 0, 0, 0);
}
BENCHMARK(BM_Circle250Arc);

void BM_Circle250Outline(benchmark::State& state) {
  Board board(false);
  for (auto _ : state) Ellipse(board.dc(), 0, 0, 500, 500);
}
BENCHMARK(BM_Circle250Outline);

void BM_Circle250Filled(benchmark::State& state) {
  Board board(true);
  for (auto _ : state) Ellipse(board.dc(), 0, 0, 500, 500);
}
BENCHMARK(BM_Circle250Filled);

void BM_HugeCircleAroundSurface(benchmark::State& state) {
  Board board(false);
  for (auto _ : state) Ellipse(board.dc(), -2000000000, -2000000000, 2000000000, 2000000000);
}
BENCHMARK(BM_HugeCircleAroundSurface);

void BM_HugeCircleCrossingSurface(benchmark::State& state) {
  Board board(false);
  for (auto _ : state) Ellipse(board.dc(), -2000000000, -2000000000, 251, 2000000500);
}
BENCHMARK(BM_HugeCircleCrossingSurface);

void BM_HugeArcCrossingSurface(benchmark::State& state) {
  Board board(false);
  for (auto _ : state) Arc(board.dc(), -2000000000, -2000000000, 251, 2000000500, 0, 0, 0, 0);
}
BENCHMARK(BM_HugeArcCrossingSurface);

// Styled pens count the style along the whole outline from its start, which
// lies far off the surface: the count must come without walking there.
void BM_Circle250DottedArc(benchmark::State& state) {
  Board board(false, PS_DOT);
  for (auto _ : state) Arc(board.dc(), 0, 0, 500, 500, 0, 0, 0, 0);
}
BENCHMARK(BM_Circle250DottedArc);

void BM_HugeDottedCircleCrossingSurface(benchmark::State& state) {
  Board board(false, PS_DOT);
  for (auto _ : state) Ellipse(board.dc(), -2000000000, -2000000000, 251, 2000000500);
}
BENCHMARK(BM_HugeDottedCircleCrossingSurface);

void BM_HugeDottedArcCrossingSurface(benchmark::State& state) {
  Board board(false, PS_DASHDOTDOT);
  for (auto _ : state) {
    Arc(board.dc(), -2000000000, -2000000000, 251, 2000000500, 300, 100, 300, 400);
  }
}
BENCHMARK(BM_HugeDottedArcCrossingSurface);

void BM_HugeFlatDottedEllipse(benchmark::State& state) {
  Board board(false, PS_DOT);
  for (auto _ : state) Ellipse(board.dc(), -2000000000, -300, 400, 700);
}
BENCHMARK(BM_HugeFlatDottedEllipse);

void BM_HugeCircleFilled(benchmark::State& state) {
  Board board(true);
  for (auto _ : state) Ellipse(board.dc(), INT_MIN, INT_MIN, INT_MAX, INT_MAX);
}
BENCHMARK(BM_HugeCircleFilled);

void BM_HugeRectangleOutline(benchmark::State& state) {
  Board board(false);
  for (auto _ : state) Rectangle(board.dc(), -2000000000, -2000000000, 300, 2000000000);
}
BENCHMARK(BM_HugeRectangleOutline);

void BM_HugeRectangleFilled(benchmark::State& state) {
  Board board(true);
  for (auto _ : state) Rectangle(board.dc(), INT_MIN, INT_MIN, INT_MAX, INT_MAX);
}
BENCHMARK(BM_HugeRectangleFilled);

// What the program draws at start: the four figures as Graph draws outlines.
void BM_StartupFigures(benchmark::State& state) {
  Board board(false);
  for (auto _ : state) {
    Arc(board.dc(), 50, 50, 150, 150, 0, 0, 0, 0);
    Rectangle(board.dc(), 180, 180, 221, 221);
    Arc(board.dc(), 280, 280, 320, 320, 0, 0, 0, 0);
    Arc(board.dc(), 80, 290, 120, 310, 0, 0, 0, 0);
  }
}
BENCHMARK(BM_StartupFigures);

void BM_Repaint500(benchmark::State& state) {
  Board board(false);
  auto window = std::make_shared<detail::Surface>(500, 500);
  HDC windowDC = detail::CreateSurfaceDC(window);
  for (auto _ : state) BitBlt(windowDC, 0, 0, 500, 500, board.dc(), 0, 0, SRCCOPY);
  DeleteDC(windowDC);
}
BENCHMARK(BM_Repaint500);

}  // namespace
