// Helpers for the GDI tests: reference pictures, a 500 x 500 canvas set up as
// the reference scenes were drawn, and the scenes' drawing helpers.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/gdi/Gdi.h"
#include "tests/support/TestFiles.h"

namespace gditest {

using Picture = testing_support::Image;
using testing_support::Differences;

// Reads tests/data/gdi-reference/<name>.rle; throws when it cannot.
Picture LoadReference(const std::string& name);

// Decodes one .rle picture from bytes starting at `at`, which moves past it;
// throws on a malformed or cut-short picture.
Picture DecodeReference(const std::vector<std::uint8_t>& bytes, std::size_t& at);

// The whole contents of an xz-compressed file; throws when it cannot be read
// or is not a valid xz stream.
std::vector<std::uint8_t> ReadXzFile(const std::string& path);

// The reference palette: colour n of the 16 standard colours as 0x00RRGGBB.
std::uint32_t StdColour(int n);
inline win32::COLORREF C(int n) {
  return win32::PALETTEINDEX(static_cast<win32::WORD>(n));
}

// A memory DC on a 500 x 500 bitmap with the reference palette, background
// colour 0 and OPAQUE, cleared to colour 0 (the scenes' start).
class Canvas {
 public:
  explicit Canvas(int width = 500, int height = 500);
  ~Canvas();
  Canvas(const Canvas&) = delete;
  Canvas& operator=(const Canvas&) = delete;

  win32::HDC dc() const { return dc_; }
  Picture picture() const;
  std::uint32_t pixel(int x, int y) const;

  // The scene helpers: tools made, selected, used, released and deleted.
  void outlineRect(int l, int t, int r, int b, int colour, win32::UINT style = win32::PS_SOLID);
  void outlineEllipse(int l, int t, int r, int b, int colour, win32::UINT style = win32::PS_SOLID);
  void fillRect(int l, int t, int r, int b, int colour);
  void fillEllipse(int l, int t, int r, int b, int colour);
  void hatchRect(int l, int t, int r, int b, int colour, int hatch);
  void hatchEllipse(int l, int t, int r, int b, int colour, int hatch);
  void patternRect(int l, int t, int r, int b, int colour, const std::uint8_t mask[8]);
  void patternEllipse(int l, int t, int r, int b, int colour, const std::uint8_t mask[8]);
  void line(int x1, int y1, int x2, int y2, int colour, win32::UINT style = win32::PS_SOLID);
  void invert(int l, int t, int r, int b);

 private:
  enum class Shape { Rect, Ellipse, Arc };
  void draw(Shape shape, int l, int t, int r, int b, win32::UINT penStyle, int colour,
            const win32::LOGBRUSH& brush);
  void patterned(Shape shape, int l, int t, int r, int b, int colour, const std::uint8_t mask[8]);

  win32::HDC dc_;
  win32::HBITMAP bitmap_;
  win32::HGDIOBJ oldBitmap_;
  win32::HPALETTE palette_;
};

}  // namespace gditest
