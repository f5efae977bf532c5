#include <gtest/gtest.h>

#include "runtime/WinRTL.h"

namespace {

TEST(WinRTL, ColourComponentsAndWords) {
  constexpr std::uint32_t colour = WinRTL::RGB(0x12, 0x34, 0x56);
  static_assert(colour == 0x563412u);
  EXPECT_EQ(WinRTL::GetRValue(colour), 0x12u);
  EXPECT_EQ(WinRTL::GetGValue(colour), 0x34u);
  EXPECT_EQ(WinRTL::GetBValue(colour), 0x56u);
  EXPECT_EQ(WinRTL::GetBValue(0xFF563412u), 0x56u);  // the top byte is no component
  EXPECT_EQ(WinRTL::LOWORD(0xABCD1234u), 0x1234u);
  EXPECT_EQ(WinRTL::HIWORD(0xABCD1234u), 0xABCDu);
}

TEST(WinRTL, PaletteIndexTakesEightBits) {
  EXPECT_EQ(WinRTL::PALETTEINDEX(7), 0x01000007u);
  EXPECT_EQ(WinRTL::PALETTEINDEX(0), 16777216u);
  EXPECT_EQ(WinRTL::PALETTEINDEX(0x1FF), 0x010000FFu);
}

}  // namespace
