// SDL scancodes to PC set-1 codes and the lParam of key messages.
#include <SDL.h>
#include <gtest/gtest.h>

#include "platform/keys/KeyCodes.h"

namespace {

using win32::detail::KeyFromSdlScancode;
using win32::detail::KeyMessageLParam;
using win32::detail::VirtualKeyFromScanCode;

void ExpectKey(int sdl, std::uint8_t scan, bool extended, std::uint8_t virtualKey) {
  const auto code = KeyFromSdlScancode(sdl);
  EXPECT_EQ(code.scan, scan) << "SDL scancode " << sdl;
  EXPECT_EQ(code.extended, extended) << "SDL scancode " << sdl;
  EXPECT_EQ(code.virtualKey, virtualKey) << "SDL scancode " << sdl;
}

TEST(KeyCodesTest, MainBlockKeys) {
  ExpectKey(SDL_SCANCODE_A, 0x1E, false, 'A');
  ExpectKey(SDL_SCANCODE_ESCAPE, 0x01, false, 0x1B);
  ExpectKey(SDL_SCANCODE_1, 0x02, false, '1');
  ExpectKey(SDL_SCANCODE_RETURN, 0x1C, false, 0x0D);
  ExpectKey(SDL_SCANCODE_SPACE, 0x39, false, 0x20);
  ExpectKey(SDL_SCANCODE_F12, 0x58, false, 0x7B);
}

TEST(KeyCodesTest, ModifiersLeftPlainRightExtended) {
  ExpectKey(SDL_SCANCODE_LSHIFT, 0x2A, false, 0x10);
  ExpectKey(SDL_SCANCODE_RSHIFT, 0x36, false, 0x10);
  ExpectKey(SDL_SCANCODE_LCTRL, 0x1D, false, 0x11);
  ExpectKey(SDL_SCANCODE_RCTRL, 0x1D, true, 0x11);
  ExpectKey(SDL_SCANCODE_LALT, 0x38, false, 0x12);
  ExpectKey(SDL_SCANCODE_RALT, 0x38, true, 0x12);
}

TEST(KeyCodesTest, CursorBlockIsExtendedKeypadIsNot) {
  ExpectKey(SDL_SCANCODE_UP, 0x48, true, 0x26);
  ExpectKey(SDL_SCANCODE_KP_8, 0x48, false, 0x68);
  ExpectKey(SDL_SCANCODE_DELETE, 0x53, true, 0x2E);
  ExpectKey(SDL_SCANCODE_KP_PERIOD, 0x53, false, 0x6E);
  ExpectKey(SDL_SCANCODE_KP_ENTER, 0x1C, true, 0x0D);
  ExpectKey(SDL_SCANCODE_KP_DIVIDE, 0x35, true, 0x6F);
}

TEST(KeyCodesTest, UnknownKeysHaveNoCode) {
  ExpectKey(SDL_SCANCODE_AUDIOPLAY, 0, false, 0);
  EXPECT_EQ(VirtualKeyFromScanCode(0x7F, true), 0);
}

TEST(KeyCodesTest, VirtualKeyFromScanCodeTellsExtendedApart) {
  EXPECT_EQ(VirtualKeyFromScanCode(0x48, true), 0x26);
  EXPECT_EQ(VirtualKeyFromScanCode(0x48, false), 0x68);
  EXPECT_EQ(VirtualKeyFromScanCode(0x1E, false), 'A');
}

TEST(KeyCodesTest, LParamBits) {
  EXPECT_EQ(KeyMessageLParam(0x1E, false, true, false, false), 0x001E0001);
  EXPECT_EQ(KeyMessageLParam(0x1E, false, true, true, false), 0x401E0001);
  EXPECT_EQ(KeyMessageLParam(0x1E, false, false, true, false), 0xC01E0001);
  EXPECT_EQ(KeyMessageLParam(0x48, true, true, false, false), 0x01480001);
  EXPECT_EQ(KeyMessageLParam(0x38, false, true, false, true), 0x20380001);
  // Bits 16-24 hold the scan code with the extended flag, as a window
  // procedure reads them.
  const auto lParam = KeyMessageLParam(0x1D, true, true, false, false);
  EXPECT_EQ((lParam >> 16) & 0x1FF, 0x11D);
}

}  // namespace

namespace {

TEST(KeyCodesTest, KeypadWithoutNumLockMovesTheCursor) {
  using win32::detail::KeypadKeyWithoutNumLock;
  EXPECT_EQ(KeypadKeyWithoutNumLock(0x68), 0x26);  // 8: Up
  EXPECT_EQ(KeypadKeyWithoutNumLock(0x60), 0x2D);  // 0: Insert
  EXPECT_EQ(KeypadKeyWithoutNumLock(0x65), 0x0C);  // 5: Clear
  EXPECT_EQ(KeypadKeyWithoutNumLock(0x6E), 0x2E);  // .: Delete
  EXPECT_EQ(KeypadKeyWithoutNumLock('A'), 'A');
  EXPECT_EQ(KeypadKeyWithoutNumLock(0x6A), 0x6A);  // * stays
}

}  // namespace
