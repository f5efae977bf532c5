#include "tests/platform/gdi/GdiTestSupport.h"

#include <lzma.h>

#include <array>
#include <fstream>
#include <iterator>
#include <sstream>
#include <stdexcept>

#include "tests/support/TestFiles.h"
#include "platform/gdi/GdiInternal.h"

using namespace win32;

namespace gditest {

Picture DecodeReference(const std::vector<std::uint8_t>& bytes, std::size_t& at) {
  return testing_support::DecodeReferencePicture(bytes, at);
}

Picture LoadReference(const std::string& name) {
  const std::string path = std::string(GDI_REFERENCE_DIR) + "/" + name + ".rle";
  std::ifstream file(path, std::ios::binary);
  if (!file) throw std::runtime_error("cannot open " + path);
  const std::vector<std::uint8_t> bytes(std::istreambuf_iterator<char>(file), {});
  std::size_t at = 0;
  try {
    return DecodeReference(bytes, at);
  } catch (const std::runtime_error& e) {
    throw std::runtime_error(path + ": " + e.what());
  }
}

std::vector<std::uint8_t> ReadXzFile(const std::string& path) {
  std::ifstream file(path, std::ios::binary);
  if (!file) throw std::runtime_error("cannot open " + path);
  const std::vector<std::uint8_t> packed(std::istreambuf_iterator<char>(file), {});
  lzma_stream stream = LZMA_STREAM_INIT;
  if (lzma_stream_decoder(&stream, UINT64_MAX, 0) != LZMA_OK) {
    throw std::runtime_error("cannot start the xz decoder");
  }
  std::vector<std::uint8_t> result;
  std::vector<std::uint8_t> chunk(std::size_t{1} << 16);
  stream.next_in = packed.data();
  stream.avail_in = packed.size();
  lzma_ret status = LZMA_OK;
  while (status == LZMA_OK) {
    stream.next_out = chunk.data();
    stream.avail_out = chunk.size();
    status = lzma_code(&stream, LZMA_FINISH);
    result.insert(result.end(), chunk.begin(),
                  chunk.begin() + static_cast<std::ptrdiff_t>(chunk.size() - stream.avail_out));
  }
  lzma_end(&stream);
  if (status != LZMA_STREAM_END) throw std::runtime_error(path + " is not a whole xz stream");
  return result;
}

std::uint32_t StdColour(int n) {
  return testing_support::kStandardPalette.at(static_cast<std::size_t>(n));
}

Canvas::Canvas(int width, int height) {
  HDC display = CreateDCA("DISPLAY", nullptr, nullptr, nullptr);
  dc_ = CreateCompatibleDC(display);
  bitmap_ = CreateCompatibleBitmap(display, width, height);
  DeleteDC(display);
  oldBitmap_ = SelectObject(dc_, bitmap_);
  std::vector<std::uint8_t> storage(sizeof(LOGPALETTE) + 16 * sizeof(PALETTEENTRY));
  auto* log = reinterpret_cast<LOGPALETTE*>(storage.data());
  log->palVersion = 0x300;
  log->palNumEntries = 16;
  for (int n = 0; n < 16; ++n) {
    const std::uint32_t c = StdColour(n);
    log->palPalEntry[n] = {static_cast<BYTE>(c >> 16), static_cast<BYTE>(c >> 8),
                           static_cast<BYTE>(c), 0};
  }
  palette_ = CreatePalette(log);
  SelectPalette(dc_, palette_, TRUE);
  RealizePalette(dc_);
  SetBkColor(dc_, C(0));
  SetBkMode(dc_, OPAQUE);
  fillRect(0, 0, width - 1, height - 1, 0);
}

Canvas::~Canvas() {
  SelectObject(dc_, oldBitmap_);
  DeleteDC(dc_);
  DeleteObject(bitmap_);
  DeleteObject(palette_);
}

// Copied out through BitBlt onto a surface the test can read.
Picture Canvas::picture() const {
  Picture result;
  result.width = GetDeviceCaps(dc_, HORZRES);
  result.height = GetDeviceCaps(dc_, VERTRES);
  auto surface = std::make_shared<detail::Surface>(result.width, result.height);
  HDC copy = detail::CreateSurfaceDC(surface);
  BitBlt(copy, 0, 0, result.width, result.height, dc_, 0, 0, SRCCOPY);
  DeleteDC(copy);
  result.pixels.assign(surface->pixels(),
                       surface->pixels() + static_cast<std::size_t>(result.width) * result.height);
  return result;
}

std::uint32_t Canvas::pixel(int x, int y) const {
  const COLORREF c = GetPixel(dc_, x, y);
  return (std::uint32_t{GetRValue(c)} << 16) | (std::uint32_t{GetGValue(c)} << 8) | GetBValue(c);
}

void Canvas::draw(Shape shape, int l, int t, int r, int b, UINT penStyle, int colour,
                  const LOGBRUSH& brush) {
  const LOGPEN logPen{penStyle, {1, 0}, C(colour)};
  HPEN pen = CreatePenIndirect(&logPen);
  HBRUSH made = CreateBrushIndirect(&brush);
  HGDIOBJ oldPen = SelectObject(dc_, pen);
  HGDIOBJ oldBrush = SelectObject(dc_, made);
  switch (shape) {
    case Shape::Rect:
      Rectangle(dc_, l, t, r + 1, b + 1);
      break;
    case Shape::Ellipse:
      Ellipse(dc_, l, t, r, b);
      break;
    case Shape::Arc:
      Arc(dc_, l, t, r, b, 0, 0, 0, 0);
      break;
  }
  SelectObject(dc_, oldPen);
  SelectObject(dc_, oldBrush);
  DeleteObject(pen);
  DeleteObject(made);
}

void Canvas::outlineRect(int l, int t, int r, int b, int colour, UINT style) {
  draw(Shape::Rect, l, t, r, b, style, colour, {BS_NULL, 0, 0});
}

void Canvas::outlineEllipse(int l, int t, int r, int b, int colour, UINT style) {
  draw(Shape::Arc, l, t, r, b, style, colour, {BS_NULL, 0, 0});
}

void Canvas::fillRect(int l, int t, int r, int b, int colour) {
  draw(Shape::Rect, l, t, r, b, PS_SOLID, colour, {BS_SOLID, C(colour), 0});
}

void Canvas::fillEllipse(int l, int t, int r, int b, int colour) {
  draw(Shape::Ellipse, l, t, r, b, PS_SOLID, colour, {BS_SOLID, C(colour), 0});
}

void Canvas::hatchRect(int l, int t, int r, int b, int colour, int hatch) {
  draw(Shape::Rect, l, t, r, b, PS_SOLID, colour,
       {BS_HATCHED, C(colour), static_cast<ULONG_PTR>(hatch)});
}

void Canvas::hatchEllipse(int l, int t, int r, int b, int colour, int hatch) {
  draw(Shape::Ellipse, l, t, r, b, PS_SOLID, colour,
       {BS_HATCHED, C(colour), static_cast<ULONG_PTR>(hatch)});
}

void Canvas::patterned(Shape shape, int l, int t, int r, int b, int colour,
                       const std::uint8_t mask[8]) {
  std::array<WORD, 8> rows{};
  for (std::size_t i = 0; i < 8; ++i) rows[i] = static_cast<WORD>(255 - mask[i]);
  HBITMAP bits = CreateBitmap(8, 8, 1, 1, rows.data());
  SetTextColor(dc_, C(colour));
  draw(shape, l, t, r, b, PS_SOLID, colour, {BS_PATTERN, 0, reinterpret_cast<ULONG_PTR>(bits)});
  DeleteObject(bits);
}

void Canvas::patternRect(int l, int t, int r, int b, int colour, const std::uint8_t mask[8]) {
  patterned(Shape::Rect, l, t, r, b, colour, mask);
}

void Canvas::patternEllipse(int l, int t, int r, int b, int colour, const std::uint8_t mask[8]) {
  patterned(Shape::Ellipse, l, t, r, b, colour, mask);
}

void Canvas::line(int x1, int y1, int x2, int y2, int colour, UINT style) {
  if (x1 != x2 || y1 != y2) {
    const LOGPEN logPen{style, {1, 0}, C(colour)};
    const LOGBRUSH logBrush{BS_NULL, 0, 0};
    HPEN pen = CreatePenIndirect(&logPen);
    HBRUSH brush = CreateBrushIndirect(&logBrush);
    HGDIOBJ oldPen = SelectObject(dc_, pen);
    HGDIOBJ oldBrush = SelectObject(dc_, brush);
    MoveToEx(dc_, x1, y1, nullptr);
    LineTo(dc_, x2, y2);
    SelectObject(dc_, oldPen);
    SelectObject(dc_, oldBrush);
    DeleteObject(pen);
    DeleteObject(brush);
  }
  SetPixelV(dc_, x2, y2, C(colour));
}

void Canvas::invert(int l, int t, int r, int b) {
  const RECT rect{l, t, r, b};
  InvertRect(dc_, &rect);
}

}  // namespace gditest
