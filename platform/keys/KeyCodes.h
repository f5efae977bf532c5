// Keyboard codes: SDL scancodes to PC set-1 scan codes and virtual keys, and
// the lParam of key messages.
#pragma once

#include <cstdint>

#include "platform/kernel/WinTypes.h"

namespace win32::detail {

struct KeyCode {
  std::uint8_t scan = 0;  // set-1 make code; 0 for keys the PC keyboard lacks
  bool extended = false;  // sent with the E0 prefix (cursor block, right Ctrl/Alt, ...)
  std::uint8_t virtualKey = 0;
};

KeyCode KeyFromSdlScancode(int sdlScancode);
// The virtual key of a set-1 code, 0 if unknown.
std::uint8_t VirtualKeyFromScanCode(std::uint8_t scan, bool extended);

// With NumLock off the keypad keys move the cursor: VK_NUMPAD8 becomes
// VK_UP, VK_DECIMAL VK_DELETE and so on. Other keys stay as they are.
std::uint8_t KeypadKeyWithoutNumLock(std::uint8_t virtualKey);

// lParam of WM_KEYDOWN and friends: repeat count 1 (bits 0-15), scan code
// (16-23), extended flag (24), Alt held (29), key was down before (30),
// key going up (31).
LPARAM KeyMessageLParam(std::uint8_t scan, bool extended, bool down, bool wasDown, bool altHeld);

}  // namespace win32::detail
