// The graph tests' display on Linux: the in-memory one, whose window pixels
// are read without an X server, and the rasteriser's own surfaces.
#include <memory>

#include "platform/display/DisplayTesting.h"
#include "platform/display/MemoryDisplay.h"
#include "platform/display/Surface.h"
#include "platform/gdi/GdiInternal.h"
#include "tests/graph/GraphTestSupport.h"

namespace graph_test {

void StartGraphForTests() {
  static const bool started = [] {
    win32::detail::SelectDisplay(win32::detail::DisplayKind::Memory);
    Graph::BEGIN();
    InstallRecorders();
    return true;
  }();
  (void)started;
}

Picture WindowPicture() {
  const win32::detail::ScreenImage image =
      win32::detail::MemoryDisplayClientPixels(Graph::detail::Window());
  return Picture{image.width, image.height, image.pixels};
}

struct Canvas::Bitmap {
  std::shared_ptr<win32::detail::Surface> surface;
  win32::HDC dc;
};

Canvas::Canvas(std::int32_t width, std::int32_t height)
    : width_(width), height_(height), bitmap_(std::make_unique<Bitmap>()) {
  bitmap_->surface = std::make_shared<win32::detail::Surface>(width, height);
  bitmap_->dc = win32::detail::CreateSurfaceDC(bitmap_->surface);
}

Canvas::~Canvas() {
  win32::DeleteDC(bitmap_->dc);
}

win32::HDC Canvas::dc() const {
  return bitmap_->dc;
}

Picture Canvas::picture() const {
  const win32::detail::Surface& surface = *bitmap_->surface;
  Picture picture{width_, height_, {}};
  picture.pixels.assign(surface.pixels(),
                        surface.pixels() + static_cast<std::size_t>(width_) * height_);
  return picture;
}

}  // namespace graph_test
