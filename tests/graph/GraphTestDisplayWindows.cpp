// The graph tests' display on Windows: the real one (under Wine, an X
// server's), with device-independent bitmaps to read pixels back.
#include "tests/graph/GraphTestSupport.h"

namespace graph_test {

void StartGraphForTests() {
  static const bool started = [] {
    Graph::BEGIN();
    InstallRecorders();
    return true;
  }();
  (void)started;
}

struct Canvas::Bitmap {
  win32::HDC dc = nullptr;
  win32::HBITMAP bitmap = nullptr;
  win32::HGDIOBJ old = nullptr;
  const std::uint32_t* bits = nullptr;
};

Canvas::Canvas(std::int32_t width, std::int32_t height)
    : width_(width), height_(height), bitmap_(std::make_unique<Bitmap>()) {
  win32::BITMAPINFO info{};
  info.bmiHeader.biSize = sizeof info.bmiHeader;
  info.bmiHeader.biWidth = width;
  info.bmiHeader.biHeight = -height;  // top row first, as a Picture's
  info.bmiHeader.biPlanes = 1;
  info.bmiHeader.biBitCount = 32;
  info.bmiHeader.biCompression = win32::BI_RGB;
  void* bits = nullptr;
  bitmap_->bitmap =
      win32::CreateDIBSection(nullptr, &info, win32::DIB_RGB_COLORS, &bits, nullptr, 0);
  bitmap_->bits = static_cast<const std::uint32_t*>(bits);
  bitmap_->dc = win32::CreateCompatibleDC(nullptr);
  bitmap_->old = win32::SelectObject(bitmap_->dc, bitmap_->bitmap);
}

Canvas::~Canvas() {
  win32::SelectObject(bitmap_->dc, bitmap_->old);
  win32::DeleteDC(bitmap_->dc);
  win32::DeleteObject(bitmap_->bitmap);
}

win32::HDC Canvas::dc() const {
  return bitmap_->dc;
}

Picture Canvas::picture() const {
  win32::GdiFlush();  // the bits are read directly
  Picture picture{width_, height_, {}};
  picture.pixels.resize(static_cast<std::size_t>(width_) * height_);
  for (std::size_t i = 0; i < picture.pixels.size(); ++i) {
    picture.pixels[i] = bitmap_->bits[i] & 0x00FFFFFFu;  // the fourth byte is not a colour
  }
  return picture;
}

Picture WindowPicture() {
  const win32::HWND window = Graph::detail::Window();
  // What was drawn is painted first: the server thread answers WM_PAINT
  // before this returns.
  win32::UpdateWindow(window);
  win32::RECT client{};
  win32::GetClientRect(window, &client);
  Canvas canvas(client.right, client.bottom);
  win32::HDC screen = win32::GetDC(window);
  win32::BitBlt(canvas.dc(), 0, 0, client.right, client.bottom, screen, 0, 0, win32::SRCCOPY);
  win32::ReleaseDC(window, screen);
  return canvas.picture();
}

}  // namespace graph_test
