// Unsigned decimal and hexadecimal formatting, and decimal and line-end
// output on the direct output path.
#include "runtime/kosFmtIO.h"

#include <algorithm>

#include "runtime/kosFileIO.h"

namespace {

constexpr char kHexDigits[] = "0123456789ABCDEF";

std::uint32_t decimalDigitCount(std::uint32_t value) {
  if (value >= 1000000000u) return 10;
  std::uint32_t count = 10;
  std::uint32_t power = 1000000000u;
  while (value < power) {
    power /= 10;
    --count;
  }
  return count == 0 ? 1 : count;
}

}  // namespace

void K2C_DecToStr(char* buffer, std::uint32_t& pos, std::uint32_t value) {
  std::uint32_t count = decimalDigitCount(value);
  for (std::uint32_t i = count; i > 0; --i) {
    buffer[pos + i - 1] = static_cast<char>('0' + value % 10);
    value /= 10;
  }
  pos += count;
}

void K2C_HexToStr(char* buffer, std::uint32_t& pos, std::uint32_t value) {
  for (std::uint32_t i = 8; i > 0; --i) {
    buffer[pos + i - 1] = kHexDigits[value & 0xF];
    value >>= 4;
  }
  pos += 8;
}

void K2C_StdOutD(std::uint32_t value, std::uint32_t width) {
  static constexpr char kBlanks[] = "        ";
  char digits[10];
  std::uint32_t count = 0;
  K2C_DecToStr(digits, count, value);
  for (std::uint32_t missing = width > count ? width - count : 0; missing > 0;) {
    std::uint32_t piece = std::min<std::uint32_t>(missing, 8);
    K2C_StdOut(kBlanks, piece);
    missing -= piece;
  }
  K2C_StdOut(digits, count);
}

void K2C_StdOutN() {
  K2C_StdOut("\r\n", 2);
}
