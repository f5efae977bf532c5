// A 32-bit XRGB pixel surface: what GDI draws on and a display shows.
// Memory bitmaps own a plain surface; a window's surface belongs to the
// display back-end, which shows the changed area after every drawing call.
#pragma once

#include <sys/mman.h>

#include <cstdint>
#include <memory>
#include <mutex>
#include <vector>

#include "platform/kernel/WinTypes.h"

namespace win32::detail {

// Makes the whole pages of a block present in one call. On virtual machines
// a first touch of a page is a costly fault (15 us each on the project's),
// and a window's surfaces are megabytes of them before it first shows. Pages present
// already cost nothing; before Linux 5.14 the call is refused, and the pages
// come one fault at a time, as they would without it.
inline void MakePresent(void* start, std::size_t bytes) {
  constexpr std::uintptr_t kPage = 4096;
  const auto first = (reinterpret_cast<std::uintptr_t>(start) + kPage - 1) & ~(kPage - 1);
  const auto end = (reinterpret_cast<std::uintptr_t>(start) + bytes) & ~(kPage - 1);
  if (end > first) ::madvise(reinterpret_cast<void*>(first), end - first, MADV_POPULATE_WRITE);
}

// The pixels come from the C library's heap, as any vector's; a large block
// is made present before the surface is cleared.
template <class T>
struct PresentPixelAllocator {
  using value_type = T;
  PresentPixelAllocator() = default;
  template <class U>
  PresentPixelAllocator(const PresentPixelAllocator<U>&) {}

  T* allocate(std::size_t count) {
    T* block = std::allocator<T>().allocate(count);
    if (count * sizeof(T) >= 256 * 1024) MakePresent(block, count * sizeof(T));
    return block;
  }
  void deallocate(T* block, std::size_t count) { std::allocator<T>().deallocate(block, count); }

  template <class U>
  bool operator==(const PresentPixelAllocator<U>&) const {
    return true;
  }
};

class Surface {
 public:
  Surface(std::int32_t width, std::int32_t height)
      : width_(width), height_(height), pixels_(static_cast<std::size_t>(width) * height) {}
  virtual ~Surface() = default;
  Surface(const Surface&) = delete;
  Surface& operator=(const Surface&) = delete;

  std::int32_t width() const { return width_; }
  std::int32_t height() const { return height_; }
  // Row-major, width() pixels a row, 0x00RRGGBB each.
  std::uint32_t* pixels() { return pixels_.data(); }
  const std::uint32_t* pixels() const { return pixels_.data(); }
  // Row y (0 <= y < height()): width() pixels, left to right.
  std::uint32_t* row(std::int32_t y) {
    return pixels_.data() + static_cast<std::size_t>(y) * width_;
  }
  const std::uint32_t* row(std::int32_t y) const {
    return pixels_.data() + static_cast<std::size_t>(y) * width_;
  }

  // Held by whoever reads or writes the pixels: the drawing thread for one
  // drawing call, the display while it copies the surface to the screen.
  std::mutex& lock() { return lock_; }

  // Told after a drawing call changed the pixels in the area (clipped to the
  // surface; right and bottom exclusive). Called without the lock held.
  virtual void changed(const RECT& area) { (void)area; }

 private:
  std::int32_t width_;
  std::int32_t height_;
  std::vector<std::uint32_t, PresentPixelAllocator<std::uint32_t>> pixels_;
  std::mutex lock_;
};

}  // namespace win32::detail
