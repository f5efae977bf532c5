#include "tests/support/TestFiles.h"

#include "tests/support/Wait.h"

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>
#include <stdexcept>
#include <thread>

namespace testing_support {
namespace {

// The byte stream of a reference picture; throws when it ends early.
class RleReader {
 public:
  RleReader(const std::vector<std::uint8_t>& bytes, std::size_t& at) : bytes_(bytes), at_(at) {}
  std::uint8_t byte() {
    if (at_ >= bytes_.size()) throw std::runtime_error("reference picture cut short");
    return bytes_[at_++];
  }
  std::uint32_t word() {
    const std::uint32_t low = byte();
    return low | (std::uint32_t{byte()} << 8);
  }
  // Seven bits a byte, low first; a set top bit means more follow.
  std::uint64_t number() {
    std::uint64_t value = 0;
    for (int shift = 0; shift < 64; shift += 7) {
      const std::uint8_t b = byte();
      value |= std::uint64_t{b & 0x7Fu} << shift;
      if ((b & 0x80) == 0) return value;
    }
    throw std::runtime_error("reference picture: run length too long");
  }

 private:
  const std::vector<std::uint8_t>& bytes_;
  std::size_t& at_;
};

}  // namespace

Image DecodeReferencePicture(const std::vector<std::uint8_t>& bytes, std::size_t& at) {
  RleReader in(bytes, at);
  if (in.byte() != 'S' || in.byte() != 'B' || in.byte() != 'R' || in.byte() != 'L') {
    throw std::runtime_error("not a reference picture");
  }
  Image image;
  image.width = static_cast<std::int32_t>(in.word());
  image.height = static_cast<std::int32_t>(in.word());
  std::vector<std::uint32_t> colours(in.byte());
  for (auto& c : colours) {
    const std::uint32_t r = in.byte();
    const std::uint32_t g = in.byte();
    c = (r << 16) | (g << 8) | in.byte();
  }
  const std::size_t width = static_cast<std::size_t>(image.width);
  image.pixels.reserve(width * static_cast<std::size_t>(image.height));
  for (std::int32_t y = 0; y < image.height; ++y) {
    // A row is either a repeat of the one so many rows up, or colour runs.
    if (const std::uint8_t repeat = in.byte(); repeat != 0) {
      if (repeat > y) throw std::runtime_error("reference picture repeats a row before its first");
      const std::size_t from = image.pixels.size() - repeat * width;
      for (std::size_t x = 0; x < width; ++x) image.pixels.push_back(image.pixels[from + x]);
      continue;
    }
    const std::size_t rowEnd = image.pixels.size() + width;
    while (image.pixels.size() < rowEnd) {
      const std::uint8_t index = in.byte();
      if (index >= colours.size()) throw std::runtime_error("reference picture: unknown colour");
      const std::uint64_t run = in.number();
      if (run == 0 || run > rowEnd - image.pixels.size()) {
        throw std::runtime_error("reference picture: a run leaves its row");
      }
      image.pixels.insert(image.pixels.end(), run, colours[index]);
    }
  }
  return image;
}

Image ReadReferencePicture(const std::string& path) {
  const std::string data = ReadFile(path);
  const std::vector<std::uint8_t> bytes(data.begin(), data.end());
  std::size_t at = 0;
  try {
    return DecodeReferencePicture(bytes, at);
  } catch (const std::runtime_error& e) {
    throw std::runtime_error(path + ": " + e.what());
  }
}

std::size_t Image::count(std::uint32_t colour) const {
  return static_cast<std::size_t>(std::count(pixels.begin(), pixels.end(), colour));
}

std::string Differences(const Image& a, const Image& b, int* count) {
  if (a.width != b.width || a.height != b.height) {
    if (count != nullptr) *count = -1;
    return "size " + std::to_string(a.width) + "x" + std::to_string(a.height) + " vs " +
           std::to_string(b.width) + "x" + std::to_string(b.height);
  }
  std::string text;
  int total = 0;
  for (std::int32_t y = 0; y < a.height; ++y) {
    for (std::int32_t x = 0; x < a.width; ++x) {
      if (a.at(x, y) == b.at(x, y)) continue;
      if (total++ >= 8) continue;
      char line[80];
      std::snprintf(line, sizeof line, "(%d, %d) %06X vs %06X; ", x, y, a.at(x, y), b.at(x, y));
      text += line;
    }
  }
  if (count != nullptr) *count = total;
  return std::to_string(total) + " pixels differ: " + text;
}

std::string ReadFile(const std::string& path) {
  std::ifstream file(path, std::ios::binary);
  std::ostringstream text;
  text << file.rdbuf();
  return text.str();
}

Image ReadPpm(const std::string& path) {
  const std::string data = ReadFile(path);
  std::istringstream header(data);
  std::string magic;
  Image image;
  int maxval = 0;
  header >> magic >> image.width >> image.height >> maxval;
  if (magic != "P6" || !header || image.width < 0 || image.height < 0) return {};
  const auto start = static_cast<std::size_t>(header.tellg()) + 1;
  const std::size_t count = static_cast<std::size_t>(image.width) * image.height;
  if (data.size() < start + count * 3) return {};
  for (std::size_t i = 0; i < count; ++i) {
    const auto* rgb = reinterpret_cast<const unsigned char*>(data.data() + start + i * 3);
    image.pixels.push_back((std::uint32_t{rgb[0]} << 16) | (std::uint32_t{rgb[1]} << 8) | rgb[2]);
  }
  return image;
}

bool WaitForFile(const std::string& path, std::chrono::milliseconds limit) {
  return WaitUntil([&] { return std::filesystem::exists(path); }, limit,
                   std::chrono::milliseconds(20));
}

std::string MakeTemporary(const std::string& kind,
                          const std::function<bool(const std::filesystem::path&)>& make) {
  std::random_device seed;
  std::mt19937_64 names(seed());
  const std::filesystem::path base = std::filesystem::temp_directory_path();
  for (int attempt = 0; attempt < 100; ++attempt) {
    char digits[20];
    std::snprintf(digits, sizeof digits, "%016llx", static_cast<unsigned long long>(names()));
    const std::filesystem::path path = base / ("shapeboard-" + kind + "-" + digits);
    if (make(path)) return path.generic_string();
  }
  throw std::runtime_error("no temporary " + kind + " could be made in " + base.string());
}

TempDir::TempDir() {
  // create_directory answers false for a name that exists, so two tests never
  // share a directory.
  path_ = MakeTemporary("test", [](const std::filesystem::path& path) {
    std::error_code failed;
    return std::filesystem::create_directory(path, failed);
  });
}

TempDir::~TempDir() {
  std::error_code ignored;  // a destructor must not throw
  std::filesystem::remove_all(path_, ignored);
}

}  // namespace testing_support
