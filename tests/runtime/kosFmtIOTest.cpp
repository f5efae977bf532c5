// Number formatting and the run-time's direct output.
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "runtime/kosFileIO.h"
#include "tests/support/DirectOutputCapture.h"
#include "runtime/kosFmtIO.h"
#include "platform/kernel/Files.h"
#include "platform/kernel/Handles.h"

namespace {

namespace fs = std::filesystem;

std::string Dec(std::uint32_t value, std::uint32_t start = 0) {
  std::string buffer(16, '#');
  std::uint32_t pos = start;
  K2C_DecToStr(buffer.data(), pos, value);
  return buffer.substr(0, pos) + "|" + std::to_string(pos);
}

std::string Hex(std::uint32_t value) {
  std::string buffer(12, '#');
  std::uint32_t pos = 2;
  K2C_HexToStr(buffer.data(), pos, value);
  return buffer.substr(0, 11) + "|" + std::to_string(pos);
}

TEST(DecToStr, WritesDigitsWithoutNulAndAdvances) {
  EXPECT_EQ(Dec(0), "0|1");
  EXPECT_EQ(Dec(7), "7|1");
  EXPECT_EQ(Dec(10), "10|2");
  EXPECT_EQ(Dec(999999999), "999999999|9");
  EXPECT_EQ(Dec(1000000000), "1000000000|10");
  EXPECT_EQ(Dec(4294967295u), "4294967295|10");
  EXPECT_EQ(Dec(42, 3), "###42|5");
}

TEST(HexToStr, WritesEightUpperCaseDigits) {
  EXPECT_EQ(Hex(255), "##000000FF#|10");
  EXPECT_EQ(Hex(0), "##00000000#|10");
  EXPECT_EQ(Hex(0xDEADBEEFu), "##DEADBEEF#|10");
}

// Direct output into a file, read back.
using DirectOutput = testing_support::DirectOutputCapture;

TEST_F(DirectOutput, DecimalRightAlignedInItsWidth) {
  K2C_StdOutD(7, 12);
  K2C_StdOut("|", 1);
  K2C_StdOutD(12345, 3);
  K2C_StdOut("|", 1);
  K2C_StdOutD(0, 0);
  K2C_StdOut("|", 1);
  K2C_StdOutD(4294967295u, 20);
  K2C_StdOutN();
  EXPECT_EQ(written(),
            std::string(11, ' ') + "7|12345|0|" + std::string(10, ' ') + "4294967295\r\n");
}

TEST_F(DirectOutput, CountZeroWritesNothingAndFlushDoesNothingWithAHandle) {
  K2C_StdOut("abc", 0);
  K2C_StdOutFlush();
  EXPECT_EQ(written(), "");
}

}  // namespace
