#include "platform/gdi/GdiInternal.h"
#include "platform/gdi/GdiTesting.h"

#include <algorithm>
#include <climits>
#include <cstring>
#include <mutex>
#include <unordered_map>
#include <utility>
#include <variant>
#include <vector>

#include "platform/display/Display.h"
#include "platform/gdi/Raster.h"
#include "platform/kernel/Rects.h"
#include "platform/kernel/ErrorsInternal.h"

namespace win32 {

namespace {

using detail::BrushKind;
using detail::PenStyle;
using detail::ResolvedBrush;
using detail::ResolvedPen;
using detail::Surface;

// A failed call's answer, with the last error set.
template <class Result>
Result failWith(DWORD error, Result result) {
  SetLastError(error);
  return result;
}

// Bitmaps larger than this many pixels are refused rather than allocated.
constexpr std::int64_t kMaxBitmapPixels = std::int64_t{1} << 26;

// Metrics of the classic Windows system font, 8 x 16 cells: 16 pixels high
// with 13 above the base line and 3 below, 7 pixels average and 8 widest.
constexpr TEXTMETRICA kSystemFont{16, 13,   3,    0,    0,    7, 8, 700, 0,    96,
                                  96, 0x20, 0xFF, 0x80, 0x20, 0, 0, 0,   0x21, 0};

// A 1-bit monochrome image (the default bitmap of a memory DC, patterns) or
// a 32-bit surface that DCs draw on.
struct Bitmap {
  std::int32_t width = 1;
  std::int32_t height = 1;
  std::vector<std::uint8_t> monoBits;  // one byte a pixel, 1 = set; empty for colour
  std::shared_ptr<Surface> surface;    // colour bitmaps
  HDC selectedInto = nullptr;
};

struct Palette {
  std::vector<PALETTEENTRY> entries;
};

struct Brush {
  LOGBRUSH log{};
  std::shared_ptr<Bitmap> pattern;  // a copy made when the brush is created
};

using GdiObject = std::variant<LOGPEN, Brush, std::shared_ptr<Bitmap>, Palette>;

struct ObjectEntry {
  GdiObject object;
  bool stock = false;
  int selections = 0;  // DCs that have it selected
};

enum class DCKind { Display, Memory, Surface };

struct DeviceContext {
  DCKind kind = DCKind::Memory;
  std::shared_ptr<Surface> surface;  // window surfaces; memory DCs use their bitmap's
  HGDIOBJ pen = nullptr;
  HGDIOBJ brush = nullptr;
  HGDIOBJ bitmap = nullptr;
  HGDIOBJ palette = nullptr;
  COLORREF bkColour = RGB(255, 255, 255);
  int bkMode = OPAQUE;
  COLORREF textColour = RGB(0, 0, 0);
  POINT position{0, 0};
  bool clipped = false;
  RECT clip{0, 0, 0, 0};
};

// Handles of DCs and GDI objects share one numbering; values are multiples of
// four starting high, so they are never null and never -1.
class GdiTables {
 public:
  GdiTables() {
    stockPen_ = addObject(LOGPEN{PS_SOLID, {1, 0}, RGB(0, 0, 0)}, true);
    stockBrush_ = addObject(Brush{{BS_SOLID, RGB(255, 255, 255), 0}, nullptr}, true);
    auto mono = std::make_shared<Bitmap>();
    mono->monoBits.assign(1, 0);
    stockBitmap_ = addObject(mono, true);
    Palette standard;
    standard.entries.push_back({0, 0, 0, 0});
    standard.entries.push_back({255, 255, 255, 0});
    stockPalette_ = addObject(standard, true);
  }

  std::mutex lock;

  HGDIOBJ addObject(GdiObject object, bool stock = false) {
    const auto handle = nextHandle();
    objects_.emplace(handle, ObjectEntry{std::move(object), stock, 0});
    return reinterpret_cast<HGDIOBJ>(handle);
  }

  ObjectEntry* object(HGDIOBJ handle) {
    auto it = objects_.find(reinterpret_cast<std::uintptr_t>(handle));
    return it == objects_.end() ? nullptr : &it->second;
  }

  void removeObject(HGDIOBJ handle) { objects_.erase(reinterpret_cast<std::uintptr_t>(handle)); }
  std::size_t objectCount() const { return objects_.size(); }

  HDC addDC(DeviceContext dc) {
    dc.pen = stockPen_;
    dc.brush = stockBrush_;
    dc.palette = stockPalette_;
    if (dc.kind == DCKind::Memory) dc.bitmap = stockBitmap_;
    for (HGDIOBJ each : {dc.pen, dc.brush, dc.palette, dc.bitmap}) {
      if (ObjectEntry* entry = object(each)) ++entry->selections;
    }
    const auto handle = nextHandle();
    dcs_.emplace(handle, std::move(dc));
    return reinterpret_cast<HDC>(handle);
  }

  DeviceContext* dc(HDC handle) {
    auto it = dcs_.find(reinterpret_cast<std::uintptr_t>(handle));
    return it == dcs_.end() ? nullptr : &it->second;
  }

  void removeDC(HDC handle) { dcs_.erase(reinterpret_cast<std::uintptr_t>(handle)); }

 private:
  std::uintptr_t nextHandle() {
    counter_ += 4;
    return counter_;
  }

  std::uintptr_t counter_ = 0x10000;
  std::unordered_map<std::uintptr_t, ObjectEntry> objects_;
  std::unordered_map<std::uintptr_t, DeviceContext> dcs_;
  HGDIOBJ stockPen_;
  HGDIOBJ stockBrush_;
  HGDIOBJ stockBitmap_;
  HGDIOBJ stockPalette_;
};

GdiTables& tables() {
  static GdiTables* instance = new GdiTables;  // used until the process ends
  return *instance;
}

template <class T>
T* objectAs(HGDIOBJ handle) {
  ObjectEntry* entry = tables().object(handle);
  return entry == nullptr ? nullptr : std::get_if<T>(&entry->object);
}

std::shared_ptr<Bitmap> bitmapOf(HGDIOBJ handle) {
  auto* bitmap = objectAs<std::shared_ptr<Bitmap>>(handle);
  return bitmap == nullptr ? nullptr : *bitmap;
}

std::uint32_t xrgb(BYTE r, BYTE g, BYTE b) {
  return (std::uint32_t{r} << 16) | (std::uint32_t{g} << 8) | b;
}

// COLORREF to surface pixel; palette indices go through the DC's palette
// (an index past its end takes entry 0).
std::uint32_t resolveColour(const std::vector<PALETTEENTRY>& palette, COLORREF colour) {
  if ((colour >> 24) == 0x01) {
    if (palette.empty()) return 0;
    const std::size_t index = colour & 0xFFFF;
    const PALETTEENTRY& e = palette[index < palette.size() ? index : 0];
    return xrgb(e.peRed, e.peGreen, e.peBlue);
  }
  return xrgb(GetRValue(colour), GetGValue(colour), GetBValue(colour));
}

// The DC's palette entries; the caller holds the table lock.
const std::vector<PALETTEENTRY>& paletteOf(const DeviceContext& dc) {
  static const std::vector<PALETTEENTRY> none;
  const Palette* palette = objectAs<Palette>(dc.palette);
  return palette == nullptr ? none : palette->entries;
}

std::uint32_t resolveColour(const DeviceContext& dc, COLORREF colour) {
  return resolveColour(paletteOf(dc), colour);
}

std::shared_ptr<Surface> surfaceOf(const DeviceContext& dc) {
  if (dc.kind == DCKind::Memory) {
    auto bitmap = bitmapOf(dc.bitmap);
    return bitmap ? bitmap->surface : nullptr;
  }
  return dc.surface;
}

ResolvedPen resolvedPenOf(const DeviceContext& dc) {
  const LOGPEN* pen = objectAs<LOGPEN>(dc.pen);
  ResolvedPen resolved{PenStyle::Null, 0, resolveColour(dc, dc.bkColour), dc.bkMode == OPAQUE};
  if (pen == nullptr) return resolved;
  resolved.colour = resolveColour(dc, pen->lopnColor);
  switch (pen->lopnStyle) {
    case PS_SOLID:
      resolved.style = PenStyle::Solid;
      break;
    case PS_DASH:
      resolved.style = PenStyle::Dash;
      break;
    case PS_DOT:
      resolved.style = PenStyle::Dot;
      break;
    case PS_DASHDOT:
      resolved.style = PenStyle::DashDot;
      break;
    case PS_DASHDOTDOT:
      resolved.style = PenStyle::DashDotDot;
      break;
    default:
      resolved.style = PenStyle::Null;
      break;
  }
  return resolved;
}

ResolvedBrush resolvedBrushOf(const DeviceContext& dc, const Brush* brush) {
  ResolvedBrush resolved{};
  resolved.kind = BrushKind::Null;
  resolved.background = resolveColour(dc, dc.bkColour);
  resolved.opaque = dc.bkMode == OPAQUE;
  resolved.foreground = resolveColour(dc, dc.textColour);
  if (brush == nullptr) return resolved;
  resolved.colour = resolveColour(dc, brush->log.lbColor);
  switch (brush->log.lbStyle) {
    case BS_SOLID:
      resolved.kind = BrushKind::Solid;
      break;
    case BS_HATCHED:
      resolved.kind = BrushKind::Hatched;
      resolved.hatch = static_cast<int>(brush->log.lbHatch);
      break;
    case BS_PATTERN:
      if (brush->pattern) {
        resolved.kind = BrushKind::Pattern;
        resolved.patternWidth = brush->pattern->width;
        resolved.patternHeight = brush->pattern->height;
        if (brush->pattern->surface) {
          const auto& s = *brush->pattern->surface;
          resolved.colourBits.assign(s.pixels(), s.pixels() + std::size_t(s.width()) * s.height());
        } else {
          resolved.monoBits = brush->pattern->monoBits;
        }
      }
      break;
    default:
      break;
  }
  return resolved;
}

// What one drawing call needs, taken from the DC under the table lock so
// that the pixels can be drawn under the surface lock alone: nothing in the
// tables may be looked at while drawing.
struct DrawingState {
  std::shared_ptr<Surface> surface;
  RECT clip{0, 0, 0, 0};
  ResolvedPen pen{};
  ResolvedBrush brush{};
  DeviceContext dc{};
  std::vector<PALETTEENTRY> palette;
};

bool takeDrawingState(HDC handle, DrawingState& state) {
  std::lock_guard guard(tables().lock);
  DeviceContext* dc = tables().dc(handle);
  if (dc == nullptr) {
    SetLastError(ERROR_INVALID_HANDLE);
    return false;
  }
  state.dc = *dc;
  state.palette = paletteOf(*dc);
  state.surface = surfaceOf(*dc);
  state.pen = resolvedPenOf(*dc);
  state.brush = resolvedBrushOf(*dc, objectAs<Brush>(dc->brush));
  if (state.surface) {
    state.clip = {0, 0, state.surface->width(), state.surface->height()};
    if (dc->clipped) state.clip = detail::IntersectRects(state.clip, dc->clip);
  }
  return true;
}

// Runs a drawing on the DC's pixels and tells the surface what changed. A DC
// without a colour surface (display information DC, monochrome bitmap)
// draws nothing.
template <class Draw>
BOOL drawOn(HDC handle, Draw&& draw) {
  DrawingState state;
  if (!takeDrawingState(handle, state)) return FALSE;
  if (!state.surface || state.clip.right <= state.clip.left ||
      state.clip.bottom <= state.clip.top) {
    return TRUE;
  }
  detail::Target target{{state.surface.get(), state.clip}, {0, 0, 0, 0}};
  {
    std::lock_guard pixels(state.surface->lock());
    draw(target, state);
  }
  if (target.touched.right > target.touched.left) state.surface->changed(target.touched);
  return TRUE;
}

// Selecting moves one selection count from the old object to the new one.
HGDIOBJ swapSelection(HGDIOBJ& slot, HGDIOBJ next) {
  HGDIOBJ previous = slot;
  if (ObjectEntry* old = tables().object(previous)) --old->selections;
  if (ObjectEntry* now = tables().object(next)) ++now->selections;
  slot = next;
  return previous;
}

HGDIOBJ selectBitmap(HDC handle, DeviceContext& dc, HGDIOBJ object) {
  auto bitmap = bitmapOf(object);
  if (dc.kind != DCKind::Memory) return nullptr;
  if (bitmap->selectedInto != nullptr && bitmap->selectedInto != handle) return nullptr;
  if (auto old = bitmapOf(dc.bitmap)) old->selectedInto = nullptr;
  bitmap->selectedInto = handle;
  return swapSelection(dc.bitmap, object);
}

void releaseSelections(DeviceContext& dc) {
  for (HGDIOBJ each : {dc.pen, dc.brush, dc.palette, dc.bitmap}) {
    if (ObjectEntry* entry = tables().object(each)) --entry->selections;
  }
  if (auto bitmap = bitmapOf(dc.bitmap)) bitmap->selectedInto = nullptr;
}

std::shared_ptr<Bitmap> makeColourBitmap(std::int64_t width, std::int64_t height) {
  if (width < 0 || height < 0 || width * height > kMaxBitmapPixels) return nullptr;
  auto bitmap = std::make_shared<Bitmap>();
  bitmap->width = static_cast<std::int32_t>(width);
  bitmap->height = static_cast<std::int32_t>(height);
  bitmap->surface = std::make_shared<Surface>(bitmap->width, bitmap->height);
  return bitmap;
}

std::shared_ptr<Bitmap> makeMonoBitmap(std::int64_t width, std::int64_t height) {
  if (width < 0 || height < 0 || width * height > kMaxBitmapPixels) return nullptr;
  auto bitmap = std::make_shared<Bitmap>();
  bitmap->width = static_cast<std::int32_t>(width);
  bitmap->height = static_cast<std::int32_t>(height);
  bitmap->monoBits.assign(static_cast<std::size_t>(width * height), 0);
  return bitmap;
}

// Monochrome rows are padded to 16 bits; bit 7 of a byte is its leftmost
// pixel.
void readMonoRows(Bitmap& bitmap, const std::uint8_t* bits) {
  const std::size_t stride = ((static_cast<std::size_t>(bitmap.width) + 15) / 16) * 2;
  for (std::int32_t y = 0; y < bitmap.height; ++y) {
    for (std::int32_t x = 0; x < bitmap.width; ++x) {
      const std::uint8_t byte = bits[y * stride + static_cast<std::size_t>(x / 8)];
      bitmap.monoBits[static_cast<std::size_t>(y) * bitmap.width + x] = (byte >> (7 - x % 8)) & 1;
    }
  }
}

std::shared_ptr<Bitmap> copyOf(const Bitmap& source) {
  auto copy = std::make_shared<Bitmap>();
  copy->width = source.width;
  copy->height = source.height;
  copy->monoBits = source.monoBits;
  if (source.surface) {
    copy->surface = std::make_shared<Surface>(source.width, source.height);
    std::lock_guard guard(source.surface->lock());
    std::copy(source.surface->pixels(),
              source.surface->pixels() + std::size_t(source.width) * source.height,
              copy->surface->pixels());
  }
  return copy;
}

SIZE screenSize() {
  detail::Display* display = detail::DisplayInUse();
  return display != nullptr ? display->screenSize() : detail::CurrentDisplay().screenSize();
}

// Copies width x height pixels, both rectangles clipped together.
RECT copyPixels(Surface& to, const RECT& toClip, int x, int y, int width, int height, Surface& from,
                int xFrom, int yFrom) {
  std::int64_t left = x, top = y, right = std::int64_t{x} + width,
               bottom = std::int64_t{y} + height;
  const std::int64_t dx = std::int64_t{xFrom} - x;
  const std::int64_t dy = std::int64_t{yFrom} - y;
  left = std::max({left, std::int64_t{toClip.left}, -dx});
  top = std::max({top, std::int64_t{toClip.top}, -dy});
  right = std::min({right, std::int64_t{toClip.right}, std::int64_t{from.width()} - dx});
  bottom = std::min({bottom, std::int64_t{toClip.bottom}, std::int64_t{from.height()} - dy});
  if (left >= right || top >= bottom) return {0, 0, 0, 0};
  const std::size_t count = static_cast<std::size_t>(right - left);
  const bool upwards = &to == &from && dy < 0;  // same surface: copy rows in a safe order
  for (std::int64_t k = 0; k < bottom - top; ++k) {
    const std::int64_t row = upwards ? bottom - 1 - k : top + k;
    std::uint32_t* target = to.row(static_cast<std::int32_t>(row)) + left;
    const std::uint32_t* source = from.row(static_cast<std::int32_t>(row + dy)) + (left + dx);
    std::memmove(target, source, count * sizeof(std::uint32_t));
  }
  return {static_cast<LONG>(left), static_cast<LONG>(top), static_cast<LONG>(right),
          static_cast<LONG>(bottom)};
}

}  // namespace

HDC CreateDCA(LPCSTR driver, LPCSTR, LPCSTR, const void*) {
  if (driver == nullptr || std::strcmp(driver, "DISPLAY") != 0) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  std::lock_guard guard(tables().lock);
  DeviceContext dc;
  dc.kind = DCKind::Display;
  return tables().addDC(std::move(dc));
}

HDC CreateCompatibleDC(HDC source) {
  std::lock_guard guard(tables().lock);
  if (source != nullptr && tables().dc(source) == nullptr) {
    SetLastError(ERROR_INVALID_HANDLE);
    return nullptr;
  }
  return tables().addDC(DeviceContext{});
}

BOOL DeleteDC(HDC handle) {
  std::lock_guard guard(tables().lock);
  DeviceContext* dc = tables().dc(handle);
  if (dc == nullptr) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  releaseSelections(*dc);
  tables().removeDC(handle);
  return TRUE;
}

int GetDeviceCaps(HDC handle, int index) {
  std::shared_ptr<Surface> surface;
  {
    std::lock_guard guard(tables().lock);
    DeviceContext* dc = tables().dc(handle);
    if (dc == nullptr) return 0;
    surface = surfaceOf(*dc);
  }
  auto resolution = [&]() -> SIZE {
    if (surface) return {surface->width(), surface->height()};
    return screenSize();
  };
  switch (index) {
    case TECHNOLOGY:
      return DT_RASDISPLAY;
    case BITSPIXEL:
      return 32;
    case PLANES:
      return 1;
    case HORZRES:
      return resolution().cx;
    case VERTRES:
      return resolution().cy;
    case HORZSIZE:
      return static_cast<int>(resolution().cx * 254 / 960);
    case VERTSIZE:
      return static_cast<int>(resolution().cy * 254 / 960);
    case LOGPIXELSX:
    case LOGPIXELSY:
      return 96;
    case NUMCOLORS:
    case NUMBRUSHES:
    case NUMPENS:
      return -1;  // more colours than an index can hold
    case NUMFONTS:
      return 1;
    case RASTERCAPS:
      return RC_BITBLT;
    default:
      return 0;
  }
}

BOOL GetTextMetricsA(HDC handle, TEXTMETRICA* metrics) {
  std::lock_guard guard(tables().lock);
  if (tables().dc(handle) == nullptr || metrics == nullptr) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  *metrics = kSystemFont;
  return TRUE;
}

BOOL GdiFlush() {
  return TRUE;
}  // drawing is never batched

HBITMAP CreateCompatibleBitmap(HDC handle, int width, int height) {
  std::lock_guard guard(tables().lock);
  DeviceContext* dc = tables().dc(handle);
  if (dc == nullptr) {
    SetLastError(ERROR_INVALID_HANDLE);
    return nullptr;
  }
  // As on Windows, a memory DC that still holds its monochrome default
  // bitmap makes monochrome bitmaps; no size gives a 1 x 1 monochrome one.
  const auto selected = dc->kind == DCKind::Memory ? bitmapOf(dc->bitmap) : nullptr;
  const bool mono = width == 0 || height == 0 || (selected && !selected->surface);
  auto bitmap = mono ? makeMonoBitmap(std::max(width, 1), std::max(height, 1))
                     : makeColourBitmap(width, height);
  if (!bitmap) {
    SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return nullptr;
  }
  return static_cast<HBITMAP>(tables().addObject(bitmap));
}

HBITMAP CreateBitmap(int width, int height, UINT planes, UINT bitsPerPixel, const void* bits) {
  if (planes != 1 || (bitsPerPixel != 1 && bitsPerPixel != 32) || width <= 0 || height <= 0) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  auto bitmap = bitsPerPixel == 1 ? makeMonoBitmap(width, height) : makeColourBitmap(width, height);
  if (!bitmap) {
    SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return nullptr;
  }
  if (bits != nullptr) {
    if (bitsPerPixel == 1) {
      readMonoRows(*bitmap, static_cast<const std::uint8_t*>(bits));
    } else {
      std::memcpy(bitmap->surface->pixels(), bits, std::size_t(width) * height * 4);
      for (std::size_t k = 0; k < std::size_t(width) * height; ++k) {
        bitmap->surface->pixels()[k] &= 0x00FFFFFFu;
      }
    }
  }
  std::lock_guard guard(tables().lock);
  return static_cast<HBITMAP>(tables().addObject(bitmap));
}

HPEN CreatePenIndirect(const LOGPEN* pen) {
  if (pen == nullptr || pen->lopnStyle > PS_NULL) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  std::lock_guard guard(tables().lock);
  return static_cast<HPEN>(tables().addObject(*pen));
}

HPEN CreatePen(int style, int width, COLORREF colour) {
  const LOGPEN pen{static_cast<UINT>(style), {width, 0}, colour};
  return CreatePenIndirect(&pen);
}

HBRUSH CreateBrushIndirect(const LOGBRUSH* brush) {
  if (brush == nullptr || brush->lbStyle > BS_PATTERN ||
      (brush->lbStyle == BS_HATCHED && brush->lbHatch > HS_DIAGCROSS)) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  std::lock_guard guard(tables().lock);
  Brush made{*brush, nullptr};
  if (brush->lbStyle == BS_PATTERN) {
    auto source = bitmapOf(reinterpret_cast<HGDIOBJ>(brush->lbHatch));
    if (!source || source->width == 0 || source->height == 0) {
      SetLastError(ERROR_INVALID_HANDLE);
      return nullptr;
    }
    made.pattern = copyOf(*source);  // the brush keeps its own copy
  }
  return static_cast<HBRUSH>(tables().addObject(std::move(made)));
}

HBRUSH CreateSolidBrush(COLORREF colour) {
  const LOGBRUSH brush{BS_SOLID, colour, 0};
  return CreateBrushIndirect(&brush);
}

HPALETTE CreatePalette(const LOGPALETTE* palette) {
  if (palette == nullptr || palette->palVersion != 0x300 || palette->palNumEntries == 0) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  Palette made;
  const PALETTEENTRY* entries = palette->palPalEntry;
  made.entries.assign(entries, entries + palette->palNumEntries);
  std::lock_guard guard(tables().lock);
  return static_cast<HPALETTE>(tables().addObject(std::move(made)));
}

HGDIOBJ SelectObject(HDC handle, HGDIOBJ object) {
  std::lock_guard guard(tables().lock);
  DeviceContext* dc = tables().dc(handle);
  ObjectEntry* entry = tables().object(object);
  if (dc == nullptr || entry == nullptr) {
    SetLastError(ERROR_INVALID_HANDLE);
    return nullptr;
  }
  if (std::holds_alternative<LOGPEN>(entry->object)) return swapSelection(dc->pen, object);
  if (std::holds_alternative<Brush>(entry->object)) return swapSelection(dc->brush, object);
  if (std::holds_alternative<std::shared_ptr<Bitmap>>(entry->object)) {
    return selectBitmap(handle, *dc, object);
  }
  return nullptr;  // palettes go through SelectPalette
}

// Stock objects stay; objects selected into a DC cannot be deleted.
BOOL DeleteObject(HGDIOBJ object) {
  std::lock_guard guard(tables().lock);
  ObjectEntry* entry = tables().object(object);
  if (entry == nullptr) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  if (entry->stock) return TRUE;
  if (entry->selections > 0) return FALSE;
  tables().removeObject(object);
  return TRUE;
}

HPALETTE SelectPalette(HDC handle, HPALETTE palette, BOOL) {
  std::lock_guard guard(tables().lock);
  DeviceContext* dc = tables().dc(handle);
  if (dc == nullptr || objectAs<Palette>(palette) == nullptr) {
    SetLastError(ERROR_INVALID_HANDLE);
    return nullptr;
  }
  return static_cast<HPALETTE>(swapSelection(dc->palette, palette));
}

// Surfaces hold true colours: realising only reports the palette's size.
UINT RealizePalette(HDC handle) {
  std::lock_guard guard(tables().lock);
  DeviceContext* dc = tables().dc(handle);
  const Palette* palette = dc == nullptr ? nullptr : objectAs<Palette>(dc->palette);
  return palette == nullptr ? 0xFFFFFFFF : static_cast<UINT>(palette->entries.size());
}

COLORREF SetBkColor(HDC handle, COLORREF colour) {
  std::lock_guard guard(tables().lock);
  DeviceContext* dc = tables().dc(handle);
  if (dc == nullptr) return failWith(ERROR_INVALID_HANDLE, CLR_INVALID);
  return std::exchange(dc->bkColour, colour);
}

int SetBkMode(HDC handle, int mode) {
  std::lock_guard guard(tables().lock);
  DeviceContext* dc = tables().dc(handle);
  if (dc == nullptr) return failWith(ERROR_INVALID_HANDLE, 0);
  if (mode != TRANSPARENT && mode != OPAQUE) return failWith(ERROR_INVALID_PARAMETER, 0);
  return std::exchange(dc->bkMode, mode);
}

COLORREF SetTextColor(HDC handle, COLORREF colour) {
  std::lock_guard guard(tables().lock);
  DeviceContext* dc = tables().dc(handle);
  if (dc == nullptr) return failWith(ERROR_INVALID_HANDLE, CLR_INVALID);
  return std::exchange(dc->textColour, colour);
}

BOOL SetPixelV(HDC dc, int x, int y, COLORREF colour) {
  return drawOn(dc, [&](detail::Target& target, const DrawingState& state) {
    detail::SetPixelAt(target, x, y, resolveColour(state.palette, colour));
  });
}

COLORREF SetPixel(HDC dc, int x, int y, COLORREF colour) {
  COLORREF result = CLR_INVALID;
  drawOn(dc, [&](detail::Target& target, const DrawingState& state) {
    const std::uint32_t pixel = resolveColour(state.palette, colour);
    if (!detail::RectContains(target.canvas.clip, x, y)) return;
    detail::SetPixelAt(target, x, y, pixel);
    result = RGB(static_cast<BYTE>(pixel >> 16), static_cast<BYTE>(pixel >> 8),
                 static_cast<BYTE>(pixel));
  });
  return result;
}

COLORREF GetPixel(HDC handle, int x, int y) {
  DrawingState state;
  if (!takeDrawingState(handle, state) || !state.surface) return CLR_INVALID;
  if (x < 0 || y < 0 || x >= state.surface->width() || y >= state.surface->height()) {
    return CLR_INVALID;
  }
  std::lock_guard pixels(state.surface->lock());
  const std::uint32_t pixel = state.surface->row(y)[x];
  return RGB(static_cast<BYTE>(pixel >> 16), static_cast<BYTE>(pixel >> 8),
             static_cast<BYTE>(pixel));
}

BOOL MoveToEx(HDC handle, int x, int y, POINT* previous) {
  std::lock_guard guard(tables().lock);
  DeviceContext* dc = tables().dc(handle);
  if (dc == nullptr) return failWith(ERROR_INVALID_HANDLE, FALSE);
  if (previous != nullptr) *previous = dc->position;
  dc->position = {x, y};
  return TRUE;
}

BOOL LineTo(HDC handle, int x, int y) {
  const BOOL drawn = drawOn(handle, [&](detail::Target& target, const DrawingState& state) {
    detail::DrawLine(target, state.pen, state.dc.position.x, state.dc.position.y, x, y);
  });
  if (drawn == FALSE) return FALSE;
  return MoveToEx(handle, x, y, nullptr);
}

BOOL Rectangle(HDC dc, int left, int top, int right, int bottom) {
  return drawOn(dc, [&](detail::Target& target, const DrawingState& state) {
    detail::DrawRectangle(target, state.pen, state.brush, {left, top, right, bottom});
  });
}

BOOL Ellipse(HDC dc, int left, int top, int right, int bottom) {
  return drawOn(dc, [&](detail::Target& target, const DrawingState& state) {
    detail::DrawEllipse(target, state.pen, state.brush, {left, top, right, bottom});
  });
}

BOOL Arc(HDC dc, int left, int top, int right, int bottom, int xStart, int yStart, int xEnd,
         int yEnd) {
  return drawOn(dc, [&](detail::Target& target, const DrawingState& state) {
    detail::DrawArc(target, state.pen, {left, top, right, bottom}, {xStart, yStart}, {xEnd, yEnd});
  });
}

int FillRect(HDC dc, const RECT* rect, HBRUSH brush) {
  if (rect == nullptr) return 0;
  ResolvedBrush chosen{};
  {
    std::lock_guard guard(tables().lock);
    const Brush* found = objectAs<Brush>(brush);
    const DeviceContext* context = tables().dc(dc);
    if (found == nullptr || context == nullptr) {
      SetLastError(ERROR_INVALID_HANDLE);
      return 0;
    }
    chosen = resolvedBrushOf(*context, found);
  }
  return drawOn(dc, [&](detail::Target& target, const DrawingState&) {
    detail::FillBox(target, *rect, chosen);
  });
}

BOOL InvertRect(HDC dc, const RECT* rect) {
  if (rect == nullptr) return FALSE;
  return drawOn(
      dc, [&](detail::Target& target, const DrawingState&) { detail::InvertBox(target, *rect); });
}

BOOL BitBlt(HDC dest, int x, int y, int width, int height, HDC source, int xSource, int ySource,
            DWORD rop) {
  if (rop != SRCCOPY) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  DrawingState to;
  DrawingState from;
  if (!takeDrawingState(dest, to) || !takeDrawingState(source, from)) return FALSE;
  if (!to.surface || !from.surface || width == 0 || height == 0) return TRUE;
  // A negative width or height copies the same pixels as its positive
  // counterpart ending at x (or y) on both sides, not a mirror image.
  if (width < 0) {
    x = static_cast<int>(std::int64_t{x} + width + 1);
    xSource = static_cast<int>(std::int64_t{xSource} + width + 1);
    width = static_cast<int>(std::min<std::int64_t>(-std::int64_t{width}, INT_MAX));
  }
  if (height < 0) {
    y = static_cast<int>(std::int64_t{y} + height + 1);
    ySource = static_cast<int>(std::int64_t{ySource} + height + 1);
    height = static_cast<int>(std::min<std::int64_t>(-std::int64_t{height}, INT_MAX));
  }
  RECT changed{0, 0, 0, 0};
  if (to.surface == from.surface) {
    std::lock_guard pixels(to.surface->lock());
    changed =
        copyPixels(*to.surface, to.clip, x, y, width, height, *from.surface, xSource, ySource);
  } else {
    std::scoped_lock pixels(to.surface->lock(), from.surface->lock());
    changed =
        copyPixels(*to.surface, to.clip, x, y, width, height, *from.surface, xSource, ySource);
  }
  if (changed.right > changed.left) to.surface->changed(changed);
  return TRUE;
}

namespace detail {

HDC CreateSurfaceDC(std::shared_ptr<Surface> surface) {
  if (!surface) return nullptr;
  std::lock_guard guard(tables().lock);
  DeviceContext dc;
  dc.kind = DCKind::Surface;
  dc.surface = std::move(surface);
  return tables().addDC(std::move(dc));
}

void SetDCClip(HDC handle, const RECT* clip) {
  std::lock_guard guard(tables().lock);
  DeviceContext* dc = tables().dc(handle);
  if (dc == nullptr) return;
  dc->clipped = clip != nullptr;
  if (clip != nullptr) dc->clip = *clip;
}

std::size_t GdiObjectCount() {
  std::lock_guard guard(tables().lock);
  return tables().objectCount();
}

}  // namespace detail

}  // namespace win32
