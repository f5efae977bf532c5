#include "platform/display/MemoryDisplay.h"

#include <algorithm>
#include <atomic>
#include <map>
#include <mutex>

#include "platform/kernel/Rects.h"
#include "platform/kernel/Threads.h"

namespace win32::detail {

namespace {

constexpr std::int32_t kScreenWidth = 1024;
constexpr std::int32_t kMaxWindowSide = 32767;
constexpr std::int32_t kScreenHeight = 768;
// What the screen shows where no window is.
constexpr std::uint32_t kDesktopColour = 0x00008080u;

void Fill(Surface& surface, const RECT& area, std::uint32_t colour) {
  const RECT whole{0, 0, surface.width(), surface.height()};
  const RECT r = IntersectRects(area, whole);
  for (LONG y = r.top; y < r.bottom; ++y) {
    std::fill_n(surface.row(y) + r.left, r.right - r.left, colour);
  }
}

class MemoryDisplay;

// A window's client area; what is drawn reaches the virtual screen at once.
class MemorySurface : public Surface {
 public:
  MemorySurface(MemoryDisplay& display, HWND window, std::int32_t width, std::int32_t height)
      : Surface(width, height), display_(display), window_(window) {}
  void changed(const RECT& area) override;
  void detach() { attached_ = false; }

 private:
  MemoryDisplay& display_;
  HWND window_;
  std::atomic<bool> attached_{true};
};

struct ScreenWindow {
  RECT client;  // screen coordinates
  std::shared_ptr<MemorySurface> surface;
  std::vector<RECT> covers;  // screen coordinates, inside the client area
  std::string title;
};

class MemoryDisplay : public Display {
 public:
  MemoryDisplay() : screen_(std::make_shared<Surface>(kScreenWidth, kScreenHeight)) {
    Fill(*screen_, {0, 0, kScreenWidth, kScreenHeight}, kDesktopColour);
  }

  std::shared_ptr<Surface> openWindow(HWND window, const WindowPlacement& placement) override {
    const RECT& c = placement.client;
    // As an X server: a window's sides are 16-bit numbers.
    if (c.right - c.left > kMaxWindowSide || c.bottom - c.top > kMaxWindowSide) return nullptr;
    auto surface =
        std::make_shared<MemorySurface>(*this, window, c.right - c.left, c.bottom - c.top);
    std::lock_guard guard(lock_);
    windows_[window] = ScreenWindow{c, surface, {}, placement.title};
    return surface;
  }

  void closeWindow(HWND window) override {
    std::lock_guard guard(lock_);
    auto found = windows_.find(window);
    if (found == windows_.end()) return;
    found->second.surface->detach();
    std::lock_guard screenGuard(screen_->lock());
    Fill(*screen_, found->second.client, kDesktopColour);
    windows_.erase(found);
  }

  void setTitle(HWND window, const std::string& title) override {
    std::lock_guard guard(lock_);
    if (auto* entry = find(window)) entry->title = title;
  }

  std::shared_ptr<Surface> screen() override { return screen_; }
  SIZE screenSize() override { return {kScreenWidth, kScreenHeight}; }
  bool waitsForThread() override { return false; }
  void pumpEvents() override {}
  void waitEvents() override {}
  void wakeThread(DWORD) override {}
  // Nothing is shown; the dialog and the thread that showed it are kept.
  bool showMessage(const std::string& caption, const std::string& text, bool) override {
    std::lock_guard guard(lock_);
    messages_.push_back(ShownMessage{caption, text, GetCurrentThreadId()});
    return true;
  }

  std::vector<ShownMessage> messages() {
    std::lock_guard guard(lock_);
    return messages_;
  }

  // Copies the changed area of a window's surface to the screen, except
  // where the window is covered.
  void show(HWND window, const RECT& area) {
    std::lock_guard guard(lock_);
    auto* entry = find(window);
    if (entry == nullptr) return;
    Surface& surface = *entry->surface;
    const RECT onScreen =
        IntersectRects(OffsetRectBy(area, entry->client.left, entry->client.top),
                       IntersectRects(entry->client, {0, 0, kScreenWidth, kScreenHeight}));
    std::lock_guard surfaceGuard(surface.lock());
    std::lock_guard screenGuard(screen_->lock());
    for (LONG y = onScreen.top; y < onScreen.bottom; ++y) {
      if (entry->covers.empty()) {
        std::copy_n(surface.row(y - entry->client.top) + (onScreen.left - entry->client.left),
                    onScreen.right - onScreen.left, screen_->row(y) + onScreen.left);
        continue;
      }
      for (LONG x = onScreen.left; x < onScreen.right; ++x) {
        if (covered(*entry, x, y)) continue;
        screen_->row(y)[x] = surface.row(y - entry->client.top)[x - entry->client.left];
      }
    }
  }

  ScreenImage clientPixels(HWND window) {
    std::lock_guard guard(lock_);
    auto* entry = find(window);
    if (entry == nullptr) return {};
    return copyScreen(entry->client);
  }

  ScreenImage screenPixels() {
    std::lock_guard guard(lock_);
    return copyScreen({0, 0, kScreenWidth, kScreenHeight});
  }

  void cover(HWND window, const RECT& clientArea) {
    std::lock_guard guard(lock_);
    auto* entry = find(window);
    if (entry == nullptr) return;
    const RECT area = IntersectRects(
        OffsetRectBy(clientArea, entry->client.left, entry->client.top), entry->client);
    if (area.right == area.left) return;
    entry->covers.push_back(area);
    {
      // The window's own pixels under the cover are gone, as on a screen
      // that is the only copy of them.
      std::lock_guard surfaceGuard(entry->surface->lock());
      Fill(*entry->surface, OffsetRectBy(area, -entry->client.left, -entry->client.top),
           kCoverColour);
    }
    std::lock_guard screenGuard(screen_->lock());
    Fill(*screen_, area, kCoverColour);
  }

  // The covered areas, in client coordinates, now uncovered.
  std::vector<RECT> uncover(HWND window) {
    std::lock_guard guard(lock_);
    auto* entry = find(window);
    if (entry == nullptr) return {};
    std::vector<RECT> areas;
    for (const RECT& r : entry->covers) {
      areas.push_back(OffsetRectBy(r, -entry->client.left, -entry->client.top));
    }
    entry->covers.clear();
    return areas;
  }

  bool knows(HWND window) {
    std::lock_guard guard(lock_);
    return find(window) != nullptr;
  }

 private:
  ScreenWindow* find(HWND window) {
    auto found = windows_.find(window);
    return found == windows_.end() ? nullptr : &found->second;
  }

  static bool covered(const ScreenWindow& entry, LONG x, LONG y) {
    return std::any_of(entry.covers.begin(), entry.covers.end(),
                       [&](const RECT& r) { return RectContains(r, x, y); });
  }

  // The pixels of a screen rectangle; parts off the screen read as 0.
  ScreenImage copyScreen(const RECT& area) {
    ScreenImage image;
    image.width = area.right - area.left;
    image.height = area.bottom - area.top;
    image.pixels.assign(static_cast<std::size_t>(image.width) * image.height, 0);
    const RECT visible = IntersectRects(area, {0, 0, kScreenWidth, kScreenHeight});
    std::lock_guard screenGuard(screen_->lock());
    for (LONG y = visible.top; y < visible.bottom; ++y) {
      for (LONG x = visible.left; x < visible.right; ++x) {
        image.pixels[static_cast<std::size_t>(y - area.top) * image.width + (x - area.left)] =
            screen_->row(y)[x];
      }
    }
    return image;
  }

  std::mutex lock_;
  std::shared_ptr<Surface> screen_;
  std::map<HWND, ScreenWindow> windows_;
  std::vector<ShownMessage> messages_;
};

void MemorySurface::changed(const RECT& area) {
  if (attached_) display_.show(window_, area);
}

MemoryDisplay* ActiveMemoryDisplay() {
  return dynamic_cast<MemoryDisplay*>(DisplayInUse());
}

// The memory display if it shows the window, else null.
MemoryDisplay* DisplayOf(HWND window) {
  MemoryDisplay* display = ActiveMemoryDisplay();
  return display != nullptr && display->knows(window) ? display : nullptr;
}

}  // namespace

std::unique_ptr<Display> MakeMemoryDisplay() {
  return std::make_unique<MemoryDisplay>();
}

ScreenImage MemoryDisplayClientPixels(HWND window) {
  MemoryDisplay* display = ActiveMemoryDisplay();
  return display != nullptr ? display->clientPixels(window) : ScreenImage{};
}

ScreenImage MemoryDisplayScreenPixels() {
  MemoryDisplay* display = ActiveMemoryDisplay();
  return display != nullptr ? display->screenPixels() : ScreenImage{};
}

void MemoryDisplayCover(HWND window, const RECT& clientArea) {
  if (MemoryDisplay* display = DisplayOf(window)) display->cover(window, clientArea);
}

void MemoryDisplayUncover(HWND window) {
  MemoryDisplay* display = DisplayOf(window);
  if (display == nullptr) return;
  for (const RECT& area : display->uncover(window)) ReportExposure(window, area);
}

void MemoryDisplayCloseRequest(HWND window) {
  if (DisplayOf(window) != nullptr) ReportClose(window);
}

void MemoryDisplayMouseMove(HWND window, std::int32_t x, std::int32_t y) {
  if (DisplayOf(window) != nullptr) ReportMouseMove(window, x, y);
}

void MemoryDisplayMouseButton(HWND window, MouseButton button, bool down, std::int32_t x,
                              std::int32_t y) {
  if (DisplayOf(window) != nullptr) ReportMouseButton(window, button, down, x, y);
}

void MemoryDisplayKey(HWND window, std::uint8_t scanCode, bool extended, bool down) {
  if (DisplayOf(window) == nullptr) return;
  KeyFact key;
  key.scan = scanCode;
  key.extended = extended;
  key.down = down;
  ReportKey(window, key);
}

std::vector<ShownMessage> MemoryDisplayMessages() {
  MemoryDisplay* display = ActiveMemoryDisplay();
  return display != nullptr ? display->messages() : std::vector<ShownMessage>{};
}

void MemoryDisplayActivate(HWND window, bool active) {
  if (DisplayOf(window) != nullptr) ReportFocus(window, active);
}

}  // namespace win32::detail
