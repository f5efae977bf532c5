#include <gtest/gtest.h>

#include <string>

#include "console/Str.h"

namespace {

struct Converted {
  std::string text;  // up to the NUL or the capacity
  bool ok;
  bool terminated;
};

Converted Convert(std::uint32_t value, std::uint32_t base, std::size_t capacity = 40) {
  std::string buffer(capacity + 1, '#');  // one guard character beyond the capacity
  bool ok = false;
  Str::CardToStr(value, buffer.data(), capacity, base, ok);
  EXPECT_EQ(buffer[capacity], '#') << "written beyond the capacity";
  std::size_t end = buffer.find('\0');
  bool terminated = end != std::string::npos;
  return {buffer.substr(0, terminated ? end : capacity), ok, terminated};
}

TEST(CardToStr, BasesTwoToSixteen) {
  EXPECT_EQ(Convert(255, 16).text, "FF");
  EXPECT_EQ(Convert(255, 2).text, "11111111");
  EXPECT_EQ(Convert(255, 8).text, "377");
  EXPECT_EQ(Convert(0xABCDEF, 16).text, "ABCDEF");
  EXPECT_EQ(Convert(4294967295u, 10).text, "4294967295");
  EXPECT_EQ(Convert(4294967295u, 2).text, std::string(32, '1'));
  EXPECT_EQ(Convert(35, 7).text, "50");
}

TEST(CardToStr, BasesOutsideAreClamped) {
  EXPECT_EQ(Convert(5, 1).text, "101");
  EXPECT_EQ(Convert(5, 0).text, "101");
  EXPECT_EQ(Convert(255, 20).text, "FF");
  EXPECT_EQ(Convert(255, 0xFFFFFFFFu).text, "FF");
}

TEST(CardToStr, ZeroIsOneDigitInEveryBase) {
  for (std::uint32_t base = 0; base <= 17; ++base) {
    Converted c = Convert(0, base);
    EXPECT_EQ(c.text, "0");
    EXPECT_TRUE(c.ok);
  }
}

TEST(CardToStr, ExactCapacityGivesDigitsWithoutNul) {
  Converted c = Convert(12345, 10, 5);
  EXPECT_EQ(c.text, "12345");
  EXPECT_TRUE(c.ok);
  EXPECT_FALSE(c.terminated);
}

TEST(CardToStr, TooSmallKeepsTheLowestDigitsAndFails) {
  Converted c = Convert(12345, 10, 3);
  EXPECT_EQ(c.text, "345");
  EXPECT_FALSE(c.ok);
  EXPECT_FALSE(c.terminated);
  Converted none = Convert(7, 10, 0);
  EXPECT_FALSE(none.ok);
}

TEST(CardToStr, RoomForTheNulTerminates) {
  Converted c = Convert(12345, 10, 6);
  EXPECT_EQ(c.text, "12345");
  EXPECT_TRUE(c.ok);
  EXPECT_TRUE(c.terminated);
}

}  // namespace
