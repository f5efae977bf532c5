// Files and pictures for tests that look at what another process wrote or
// what an X server shows.
#pragma once

#include <array>
#include <chrono>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

namespace testing_support {

// A picture: what a window showed, a bitmap, a reference.
struct Image {
  std::int32_t width = 0;
  std::int32_t height = 0;
  std::vector<std::uint32_t> pixels;  // row-major, 0x00RRGGBB
  std::uint32_t at(std::int32_t x, std::int32_t y) const {
    return pixels[static_cast<std::size_t>(y) * width + x];
  }
  bool operator==(const Image&) const = default;
  // Pixels of this colour, counted.
  std::size_t count(std::uint32_t colour) const;
};

// How two pictures differ, for a failure message: their sizes when those
// differ, else the number of differing pixels and the first few ("(x, y)
// RRGGBB vs RRGGBB"). `count`, when given, gets that number (-1 for
// pictures of different sizes).
std::string Differences(const Image& a, const Image& b, int* count = nullptr);

// The 16 colours of the standard palette as 0x00RRGGBB.
inline constexpr std::array<std::uint32_t, 16> kStandardPalette = {
    0x000000, 0x0000B0, 0x00B000, 0x008080, 0xB00000, 0x800080, 0xB06000, 0xC0C0C0,
    0x808080, 0x0000FF, 0x00FF00, 0x00FFFF, 0xFF0000, 0xFF00FF, 0xFFFF00, 0xFFFFFF,
};

std::string ReadFile(const std::string& path);
// A binary PPM (P6, maxval 255); empty when the file is not one.
Image ReadPpm(const std::string& path);
// A run-length coded reference picture (tests/data/gdi-reference): decoded
// from `bytes` at `at`, which moves past it, or read from a file. Both throw
// on a malformed or cut-short picture.
Image DecodeReferencePicture(const std::vector<std::uint8_t>& bytes, std::size_t& at);
Image ReadReferencePicture(const std::string& path);
// Waits until the file exists; false when the time is up first.
bool WaitForFile(const std::string& path, std::chrono::milliseconds limit);

// A fresh entry of the system's temporary directory, named
// "shapeboard-<kind>-" and 16 random hex digits, which `make` managed to
// create (it answers false for a name that is taken); throws when 100 names
// were all taken.
std::string MakeTemporary(const std::string& kind,
                          const std::function<bool(const std::filesystem::path&)>& make);

// A fresh directory in the system's temporary one, removed with everything
// in it.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  const std::string& path() const { return path_; }
  // The path of an entry in the directory.
  std::string file(const std::string& name) const { return path_ + "/" + name; }

 private:
  std::string path_;
};

}  // namespace testing_support
