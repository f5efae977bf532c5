// DCs and GDI objects: selection and deletion rules, palettes and colours,
// brushes' phases, BitBlt, device capabilities, change notices, threads.
#include <gtest/gtest.h>

#include <functional>
#include <thread>
#include <vector>

#include "platform/kernel/Errors.h"
#include "tests/platform/gdi/GdiTestSupport.h"
#include "platform/gdi/GdiInternal.h"

using namespace win32;
using gditest::C;
using gditest::Canvas;
using gditest::StdColour;

namespace {

// A surface that records what it is told has changed.
class RecordingSurface : public detail::Surface {
 public:
  using Surface::Surface;
  void changed(const RECT& area) override { areas.push_back(area); }
  std::vector<RECT> areas;
};

TEST(GdiSelection, SelectObjectReturnsWhatWasSelectedBefore) {
  Canvas canvas;
  const LOGPEN logPen{PS_SOLID, {1, 0}, C(3)};
  HPEN first = CreatePenIndirect(&logPen);
  HPEN second = CreatePenIndirect(&logPen);
  HGDIOBJ stock = SelectObject(canvas.dc(), first);
  ASSERT_NE(stock, nullptr);
  EXPECT_EQ(SelectObject(canvas.dc(), second), first);
  EXPECT_EQ(SelectObject(canvas.dc(), stock), second);
  EXPECT_TRUE(DeleteObject(first));
  EXPECT_TRUE(DeleteObject(second));
}

TEST(GdiSelection, SelectedObjectsCannotBeDeletedUntilReleased) {
  Canvas canvas;
  const LOGBRUSH logBrush{BS_SOLID, C(2), 0};
  HBRUSH brush = CreateBrushIndirect(&logBrush);
  HGDIOBJ old = SelectObject(canvas.dc(), brush);
  EXPECT_FALSE(DeleteObject(brush));
  SelectObject(canvas.dc(), old);
  EXPECT_TRUE(DeleteObject(brush));
  EXPECT_FALSE(DeleteObject(brush));  // gone
  EXPECT_EQ(SelectObject(canvas.dc(), brush), nullptr);
}

TEST(GdiSelection, StockObjectsSurviveDeletion) {
  Canvas canvas;
  const LOGPEN logPen{PS_SOLID, {1, 0}, C(3)};
  HPEN pen = CreatePenIndirect(&logPen);
  HGDIOBJ stockPen = SelectObject(canvas.dc(), pen);
  SelectObject(canvas.dc(), stockPen);
  EXPECT_TRUE(DeleteObject(stockPen));
  EXPECT_EQ(SelectObject(canvas.dc(), pen), stockPen);  // still there
  EXPECT_EQ(SelectObject(canvas.dc(), stockPen), pen);
  EXPECT_TRUE(DeleteObject(pen));
}

TEST(GdiSelection, ABitmapLivesInOneDCAtATime) {
  HDC display = CreateDCA("DISPLAY", nullptr, nullptr, nullptr);
  HDC first = CreateCompatibleDC(display);
  HDC second = CreateCompatibleDC(display);
  HBITMAP bitmap = CreateCompatibleBitmap(display, 10, 10);
  HGDIOBJ firstDefault = SelectObject(first, bitmap);
  ASSERT_NE(firstDefault, nullptr);
  EXPECT_EQ(SelectObject(second, bitmap), nullptr);
  EXPECT_FALSE(DeleteObject(bitmap));
  EXPECT_TRUE(DeleteDC(first));  // releases the bitmap
  EXPECT_NE(SelectObject(second, bitmap), nullptr);
  EXPECT_TRUE(DeleteDC(second));
  EXPECT_TRUE(DeleteObject(bitmap));
  EXPECT_FALSE(DeleteDC(first));
  EXPECT_EQ(SelectObject(display, bitmap), nullptr);
  DeleteDC(display);
}

TEST(GdiSelection, AFreshMemoryDCMakesMonochromeBitmapsThatDrawNothing) {
  HDC memory = CreateCompatibleDC(nullptr);
  HBITMAP mono = CreateCompatibleBitmap(memory, 16, 16);
  ASSERT_NE(mono, nullptr);
  HDC target = CreateCompatibleDC(nullptr);
  SelectObject(target, mono);
  EXPECT_TRUE(SetPixelV(target, 1, 1, RGB(255, 0, 0)));
  EXPECT_EQ(GetPixel(target, 1, 1), CLR_INVALID);
  DeleteDC(target);
  DeleteDC(memory);
  DeleteObject(mono);
}

TEST(GdiSelection, InvalidHandlesAreRefused) {
  EXPECT_FALSE(Rectangle(nullptr, 0, 0, 10, 10));
  EXPECT_FALSE(DeleteDC(nullptr));
  EXPECT_FALSE(DeleteObject(nullptr));
  EXPECT_EQ(SetBkMode(nullptr, OPAQUE), 0);
  EXPECT_EQ(CreateDCA("PRINTER", nullptr, nullptr, nullptr), nullptr);
  const LOGPEN badPen{9, {1, 0}, 0};
  EXPECT_EQ(CreatePenIndirect(&badPen), nullptr);
  const LOGBRUSH badHatch{BS_HATCHED, 0, 6};
  EXPECT_EQ(CreateBrushIndirect(&badHatch), nullptr);
  const LOGBRUSH noPattern{BS_PATTERN, 0, 12345};
  EXPECT_EQ(CreateBrushIndirect(&noPattern), nullptr);
  EXPECT_EQ(CreateBitmap(8, 8, 1, 8, nullptr), nullptr);
  HDC display = CreateDCA("DISPLAY", nullptr, nullptr, nullptr);
  EXPECT_EQ(CreateCompatibleBitmap(display, 100000, 100000), nullptr);
  EXPECT_EQ(CreateCompatibleBitmap(display, -5, 10), nullptr);
  DeleteDC(display);
}

// The DC setters on a handle that is no DC (none, a deleted one, a pen):
// the failure value and ERROR_INVALID_HANDLE.
TEST(GdiSelection, SettersOnABadDCSetInvalidHandle) {
  HDC deleted = CreateCompatibleDC(nullptr);
  ASSERT_TRUE(DeleteDC(deleted));
  HPEN pen = CreatePen(PS_SOLID, 1, 0);
  struct Row {
    const char* call;
    std::function<bool(HDC)> fails;
  };
  const Row rows[] = {
      {"SetBkColor", [](HDC dc) { return SetBkColor(dc, C(3)) == CLR_INVALID; }},
      {"SetBkMode", [](HDC dc) { return SetBkMode(dc, OPAQUE) == 0; }},
      {"SetTextColor", [](HDC dc) { return SetTextColor(dc, C(3)) == CLR_INVALID; }},
      {"MoveToEx",
       [](HDC dc) {
         POINT previous{7, 7};
         return MoveToEx(dc, 1, 2, &previous) == FALSE && previous.x == 7;
       }},
  };
  for (const Row& row : rows) {
    for (HDC bad : {HDC{nullptr}, deleted, reinterpret_cast<HDC>(pen)}) {
      SetLastError(0);
      EXPECT_TRUE(row.fails(bad)) << row.call;
      EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE) << row.call;
    }
  }
  DeleteObject(pen);
  Canvas canvas;
  SetLastError(0);
  EXPECT_EQ(SetBkMode(canvas.dc(), 3), 0);
  EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
  EXPECT_EQ(SetBkMode(canvas.dc(), TRANSPARENT), OPAQUE);  // unchanged by the bad mode
}

TEST(GdiColours, PaletteIndicesGoThroughTheSelectedPaletteAndRgbWorksToo) {
  Canvas canvas;
  SetPixelV(canvas.dc(), 1, 1, C(12));
  SetPixelV(canvas.dc(), 2, 1, RGB(1, 2, 3));
  SetPixelV(canvas.dc(), 3, 1, PALETTEINDEX(200));  // past the end: entry 0
  EXPECT_EQ(canvas.pixel(1, 1), 0xFF0000u);
  EXPECT_EQ(canvas.pixel(2, 1), 0x010203u);
  EXPECT_EQ(canvas.pixel(3, 1), StdColour(0));

  std::vector<std::uint8_t> storage(sizeof(LOGPALETTE) + 2 * sizeof(PALETTEENTRY));
  auto* log = reinterpret_cast<LOGPALETTE*>(storage.data());
  log->palVersion = 0x300;
  log->palNumEntries = 2;
  log->palPalEntry[0] = {10, 20, 30, 0};
  log->palPalEntry[1] = {40, 50, 60, 0};
  HPALETTE other = CreatePalette(log);
  HPALETTE standard = SelectPalette(canvas.dc(), other, TRUE);
  ASSERT_NE(standard, nullptr);
  EXPECT_EQ(RealizePalette(canvas.dc()), 2u);
  SetPixelV(canvas.dc(), 4, 1, PALETTEINDEX(1));
  EXPECT_EQ(canvas.pixel(4, 1), 0x28323Cu);
  EXPECT_EQ(canvas.pixel(1, 1), 0xFF0000u);  // drawn pixels keep their colour
  EXPECT_FALSE(DeleteObject(other));         // still selected
  EXPECT_EQ(SelectPalette(canvas.dc(), standard, TRUE), other);
  EXPECT_TRUE(DeleteObject(other));
}

TEST(GdiColours, SettersReturnThePreviousValues) {
  Canvas canvas;
  EXPECT_EQ(SetBkColor(canvas.dc(), C(3)), C(0));
  EXPECT_EQ(SetBkColor(canvas.dc(), C(5)), C(3));
  EXPECT_EQ(SetBkMode(canvas.dc(), TRANSPARENT), OPAQUE);
  EXPECT_EQ(SetBkMode(canvas.dc(), 7), 0);
  EXPECT_EQ(SetBkMode(canvas.dc(), OPAQUE), TRANSPARENT);
  const COLORREF text = SetTextColor(canvas.dc(), C(9));
  EXPECT_EQ(SetTextColor(canvas.dc(), text), C(9));
}

TEST(GdiBrushes, HatchesAreAnchoredAtTheDeviceOrigin) {
  Canvas canvas;
  SetBkColor(canvas.dc(), C(1));
  const int hatches[] = {HS_HORIZONTAL, HS_VERTICAL, HS_FDIAGONAL, HS_BDIAGONAL};
  auto on = [](int hatch, int x, int y) {
    switch (hatch) {
      case HS_HORIZONTAL:
        return y % 8 == 3;
      case HS_VERTICAL:
        return x % 8 == 4;
      case HS_FDIAGONAL:
        return x % 8 == y % 8;
      default:
        return (x + y) % 8 == 7;
    }
  };
  int left = 13;
  for (int hatch : hatches) {
    const LOGBRUSH logBrush{BS_HATCHED, C(14), static_cast<ULONG_PTR>(hatch)};
    HBRUSH brush = CreateBrushIndirect(&logBrush);
    RECT box{left, 21, left + 37, 60};
    FillRect(canvas.dc(), &box, brush);
    DeleteObject(brush);
    for (int y = box.top; y < box.bottom; ++y) {
      for (int x = box.left; x < box.right; ++x) {
        ASSERT_EQ(canvas.pixel(x, y), on(hatch, x, y) ? StdColour(14) : StdColour(1))
            << "hatch " << hatch << " at " << x << "," << y;
      }
    }
    left += 50;
  }
}

TEST(GdiBrushes, PatternsAreAnchoredAtTheDeviceOriginAndKeepTheirBits) {
  Canvas canvas;
  SetBkColor(canvas.dc(), C(1));
  SetTextColor(canvas.dc(), C(14));
  const WORD rows[8] = {0x7F, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFE};
  HBITMAP bits = CreateBitmap(8, 8, 1, 1, rows);
  const LOGBRUSH logBrush{BS_PATTERN, 0, reinterpret_cast<ULONG_PTR>(bits)};
  HBRUSH brush = CreateBrushIndirect(&logBrush);
  DeleteObject(bits);  // the brush has its own copy
  RECT box{5, 5, 40, 40};
  FillRect(canvas.dc(), &box, brush);
  DeleteObject(brush);
  for (int y = 5; y < 40; ++y) {
    for (int x = 5; x < 40; ++x) {
      const bool set = (x % 8 == 0 && y % 8 == 0) || (x % 8 == 7 && y % 8 == 7);
      ASSERT_EQ(canvas.pixel(x, y), set ? StdColour(14) : StdColour(1)) << x << "," << y;
    }
  }
}

TEST(GdiBitBlt, CopiesBetweenDCsAndClipsBothSides) {
  Canvas source, target;
  for (int y = 0; y < 500; y += 7) source.line(0, y, 499, y, y % 16);
  BitBlt(target.dc(), -20, 30, 100, 600, source.dc(), 450, -10, SRCCOPY);
  for (int y = 0; y < 500; ++y) {
    for (int x = 0; x < 100; ++x) {
      const int sx = x + 470, sy = y - 40;
      const bool copied = x < 80 && y >= 40 && sy < 500 && sx < 500;
      ASSERT_EQ(target.pixel(x, y), copied ? source.pixel(sx, sy) : StdColour(0)) << x << "," << y;
    }
  }
  EXPECT_FALSE(BitBlt(target.dc(), 0, 0, 10, 10, source.dc(), 0, 0, 0x00EE0086));
}

// A negative width or height copies the block ending at x (or y) on both
// sides, the same way round, not mirrored (random scene 1084:
// BitBlt(172,389,-3,233, sprite,142,245)).
TEST(GdiBitBlt, NegativeSizesCopyTheBlockEndingThereUnmirrored) {
  Canvas source(40, 40), target(40, 40);
  for (int y = 0; y < 40; ++y) {
    for (int x = 0; x < 40; ++x) SetPixelV(source.dc(), x, y, C((x + 3 * y) % 15 + 1));
  }
  EXPECT_TRUE(BitBlt(target.dc(), 20, 25, -6, -4, source.dc(), 30, 12, SRCCOPY));
  for (int y = 0; y < 40; ++y) {
    for (int x = 0; x < 40; ++x) {
      const bool inside = x >= 15 && x <= 20 && y >= 22 && y <= 25;
      const std::uint32_t expected = inside ? source.pixel(x + 10, y - 13) : StdColour(0);
      ASSERT_EQ(target.pixel(x, y), expected) << x << "," << y;
    }
  }
}

TEST(GdiBitBlt, OverlappingCopyWithinOneSurface) {
  Canvas canvas;
  for (int y = 0; y < 100; ++y) SetPixelV(canvas.dc(), 10, y, RGB(0, 0, static_cast<BYTE>(y)));
  BitBlt(canvas.dc(), 10, 5, 1, 100, canvas.dc(), 10, 0, SRCCOPY);
  for (int y = 5; y < 100; ++y) ASSERT_EQ(canvas.pixel(10, y), static_cast<std::uint32_t>(y - 5));
  BitBlt(canvas.dc(), 10, 0, 1, 100, canvas.dc(), 10, 5, SRCCOPY);
  for (int y = 0; y < 95; ++y) ASSERT_EQ(canvas.pixel(10, y), static_cast<std::uint32_t>(y));
}

TEST(GdiSurfaceDCs, TellTheSurfaceWhatChanged) {
  auto surface = std::make_shared<RecordingSurface>(100, 80);
  HDC dc = detail::CreateSurfaceDC(surface);
  const LOGPEN logPen{PS_SOLID, {1, 0}, RGB(255, 255, 255)};
  HPEN pen = CreatePenIndirect(&logPen);
  HGDIOBJ old = SelectObject(dc, pen);
  Rectangle(dc, 10, 20, 30, 40);
  Rectangle(dc, 200, 200, 300, 300);  // out of sight: nothing changes
  SelectObject(dc, old);
  DeleteObject(pen);
  ASSERT_EQ(surface->areas.size(), 1u);
  const RECT& area = surface->areas[0];
  EXPECT_EQ(area.left, 10);
  EXPECT_EQ(area.top, 20);
  EXPECT_EQ(area.right, 30);
  EXPECT_EQ(area.bottom, 40);
  const RECT clip{0, 0, 50, 50};
  detail::SetDCClip(dc, &clip);
  RECT box{0, 0, 100, 80};
  FillRect(dc, &box, static_cast<HBRUSH>(CreateSolidBrush(RGB(1, 1, 1))));
  ASSERT_EQ(surface->areas.size(), 2u);
  EXPECT_EQ(surface->areas[1].right, 50);
  EXPECT_EQ(surface->pixels()[60], 0u);
  EXPECT_EQ(surface->pixels()[49], 0x010101u);
  EXPECT_EQ(GetDeviceCaps(dc, HORZRES), 100);
  EXPECT_EQ(GetDeviceCaps(dc, VERTRES), 80);
  DeleteDC(dc);
}

TEST(GdiDeviceCaps, DisplayIsTrueColourWithOnePlane) {
  HDC display = CreateDCA("DISPLAY", nullptr, nullptr, nullptr);
  ASSERT_NE(display, nullptr);
  EXPECT_EQ(GetDeviceCaps(display, BITSPIXEL), 32);
  EXPECT_EQ(GetDeviceCaps(display, PLANES), 1);
  EXPECT_EQ(GetDeviceCaps(display, NUMCOLORS), -1);
  EXPECT_EQ(GetDeviceCaps(display, RASTERCAPS) & RC_BITBLT, RC_BITBLT);
  DeleteDC(display);
}

TEST(GdiTextMetrics, TheSystemFontCellIsEightBySixteen) {
  Canvas canvas;
  TEXTMETRICA metrics{};
  ASSERT_TRUE(GetTextMetricsA(canvas.dc(), &metrics));
  EXPECT_EQ(metrics.tmHeight, 16);
  EXPECT_EQ(metrics.tmAscent, 13);
  EXPECT_EQ(metrics.tmDescent, 3);
  EXPECT_EQ(metrics.tmAveCharWidth, 7);
  EXPECT_EQ(metrics.tmMaxCharWidth, 8);
  EXPECT_FALSE(GetTextMetricsA(nullptr, &metrics));
}

TEST(GdiThreads, DrawingAndCopyingFromTwoThreadsAtOnce) {
  auto window = std::make_shared<detail::Surface>(200, 200);
  HDC windowDC = detail::CreateSurfaceDC(window);
  Canvas memory(200, 200);
  std::thread painter([&] {
    for (int k = 0; k < 200; ++k) BitBlt(windowDC, 0, 0, 200, 200, memory.dc(), 0, 0, SRCCOPY);
  });
  for (int k = 0; k < 200; ++k) {
    const LOGPEN logPen{PS_DOT, {1, 0}, C(k % 16)};
    HPEN pen = CreatePenIndirect(&logPen);
    HGDIOBJ old = SelectObject(windowDC, pen);
    Ellipse(memory.dc(), k % 50, k % 50, 150, 150);
    Ellipse(windowDC, k % 50, k % 50, 150, 150);
    SelectObject(windowDC, old);
    DeleteObject(pen);
  }
  painter.join();
  EXPECT_TRUE(DeleteDC(windowDC));
}

}  // namespace
