// Files and pictures for tests that look at what another process wrote or
// what an X server shows.
#pragma once

#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

namespace testing_support {

struct Image {
  std::uint32_t width = 0;
  std::uint32_t height = 0;
  std::vector<std::uint32_t> pixels;  // row-major, 0x00RRGGBB
  std::uint32_t at(std::uint32_t x, std::uint32_t y) const { return pixels[y * width + x]; }
  bool operator==(const Image&) const = default;
};

std::string ReadFile(const std::string& path);
// A binary PPM (P6, maxval 255); empty when the file is not one.
Image ReadPpm(const std::string& path);
// A run-length coded reference picture (tests/data/gdi-reference): decoded
// from `bytes` at `at`, which moves past it, or read from a file. Both throw
// on a malformed or cut-short picture.
Image DecodeReferencePicture(const std::vector<std::uint8_t>& bytes, std::size_t& at);
Image ReadReferencePicture(const std::string& path);
// An X window dump (xwd) of a 32-bit TrueColor window; empty otherwise.
Image ReadXwd(const std::string& path);
// Waits until the file exists; false when the time is up first.
bool WaitForFile(const std::string& path, std::chrono::milliseconds limit);

// A fresh directory under /tmp, removed with everything in it.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  const std::string& path() const { return path_; }

 private:
  std::string path_;
};

}  // namespace testing_support
