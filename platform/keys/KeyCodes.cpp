#include "platform/keys/KeyCodes.h"

#include <SDL_scancode.h>

#include <iterator>

namespace win32::detail {

namespace {

struct KeyRow {
  int sdl;
  std::uint8_t scan;
  bool extended;
  std::uint8_t virtualKey;
};

// The US 101/102-key layout. Virtual keys as Windows reports them in
// WM_KEYDOWN (VK_SHIFT, not VK_LSHIFT; keypad digits as VK_NUMPAD0-9).
constexpr KeyRow kKeys[] = {
    {SDL_SCANCODE_ESCAPE, 0x01, false, 0x1B},
    {SDL_SCANCODE_1, 0x02, false, '1'},
    {SDL_SCANCODE_2, 0x03, false, '2'},
    {SDL_SCANCODE_3, 0x04, false, '3'},
    {SDL_SCANCODE_4, 0x05, false, '4'},
    {SDL_SCANCODE_5, 0x06, false, '5'},
    {SDL_SCANCODE_6, 0x07, false, '6'},
    {SDL_SCANCODE_7, 0x08, false, '7'},
    {SDL_SCANCODE_8, 0x09, false, '8'},
    {SDL_SCANCODE_9, 0x0A, false, '9'},
    {SDL_SCANCODE_0, 0x0B, false, '0'},
    {SDL_SCANCODE_MINUS, 0x0C, false, 0xBD},
    {SDL_SCANCODE_EQUALS, 0x0D, false, 0xBB},
    {SDL_SCANCODE_BACKSPACE, 0x0E, false, 0x08},
    {SDL_SCANCODE_TAB, 0x0F, false, 0x09},
    {SDL_SCANCODE_Q, 0x10, false, 'Q'},
    {SDL_SCANCODE_W, 0x11, false, 'W'},
    {SDL_SCANCODE_E, 0x12, false, 'E'},
    {SDL_SCANCODE_R, 0x13, false, 'R'},
    {SDL_SCANCODE_T, 0x14, false, 'T'},
    {SDL_SCANCODE_Y, 0x15, false, 'Y'},
    {SDL_SCANCODE_U, 0x16, false, 'U'},
    {SDL_SCANCODE_I, 0x17, false, 'I'},
    {SDL_SCANCODE_O, 0x18, false, 'O'},
    {SDL_SCANCODE_P, 0x19, false, 'P'},
    {SDL_SCANCODE_LEFTBRACKET, 0x1A, false, 0xDB},
    {SDL_SCANCODE_RIGHTBRACKET, 0x1B, false, 0xDD},
    {SDL_SCANCODE_RETURN, 0x1C, false, 0x0D},
    {SDL_SCANCODE_LCTRL, 0x1D, false, 0x11},
    {SDL_SCANCODE_A, 0x1E, false, 'A'},
    {SDL_SCANCODE_S, 0x1F, false, 'S'},
    {SDL_SCANCODE_D, 0x20, false, 'D'},
    {SDL_SCANCODE_F, 0x21, false, 'F'},
    {SDL_SCANCODE_G, 0x22, false, 'G'},
    {SDL_SCANCODE_H, 0x23, false, 'H'},
    {SDL_SCANCODE_J, 0x24, false, 'J'},
    {SDL_SCANCODE_K, 0x25, false, 'K'},
    {SDL_SCANCODE_L, 0x26, false, 'L'},
    {SDL_SCANCODE_SEMICOLON, 0x27, false, 0xBA},
    {SDL_SCANCODE_APOSTROPHE, 0x28, false, 0xDE},
    {SDL_SCANCODE_GRAVE, 0x29, false, 0xC0},
    {SDL_SCANCODE_LSHIFT, 0x2A, false, 0x10},
    {SDL_SCANCODE_BACKSLASH, 0x2B, false, 0xDC},
    {SDL_SCANCODE_NONUSHASH, 0x2B, false, 0xDC},
    {SDL_SCANCODE_Z, 0x2C, false, 'Z'},
    {SDL_SCANCODE_X, 0x2D, false, 'X'},
    {SDL_SCANCODE_C, 0x2E, false, 'C'},
    {SDL_SCANCODE_V, 0x2F, false, 'V'},
    {SDL_SCANCODE_B, 0x30, false, 'B'},
    {SDL_SCANCODE_N, 0x31, false, 'N'},
    {SDL_SCANCODE_M, 0x32, false, 'M'},
    {SDL_SCANCODE_COMMA, 0x33, false, 0xBC},
    {SDL_SCANCODE_PERIOD, 0x34, false, 0xBE},
    {SDL_SCANCODE_SLASH, 0x35, false, 0xBF},
    {SDL_SCANCODE_RSHIFT, 0x36, false, 0x10},
    {SDL_SCANCODE_KP_MULTIPLY, 0x37, false, 0x6A},
    {SDL_SCANCODE_LALT, 0x38, false, 0x12},
    {SDL_SCANCODE_SPACE, 0x39, false, 0x20},
    {SDL_SCANCODE_CAPSLOCK, 0x3A, false, 0x14},
    {SDL_SCANCODE_F1, 0x3B, false, 0x70},
    {SDL_SCANCODE_F2, 0x3C, false, 0x71},
    {SDL_SCANCODE_F3, 0x3D, false, 0x72},
    {SDL_SCANCODE_F4, 0x3E, false, 0x73},
    {SDL_SCANCODE_F5, 0x3F, false, 0x74},
    {SDL_SCANCODE_F6, 0x40, false, 0x75},
    {SDL_SCANCODE_F7, 0x41, false, 0x76},
    {SDL_SCANCODE_F8, 0x42, false, 0x77},
    {SDL_SCANCODE_F9, 0x43, false, 0x78},
    {SDL_SCANCODE_F10, 0x44, false, 0x79},
    {SDL_SCANCODE_NUMLOCKCLEAR, 0x45, true, 0x90},
    {SDL_SCANCODE_PAUSE, 0x45, false, 0x13},
    {SDL_SCANCODE_SCROLLLOCK, 0x46, false, 0x91},
    {SDL_SCANCODE_KP_7, 0x47, false, 0x67},
    {SDL_SCANCODE_KP_8, 0x48, false, 0x68},
    {SDL_SCANCODE_KP_9, 0x49, false, 0x69},
    {SDL_SCANCODE_KP_MINUS, 0x4A, false, 0x6D},
    {SDL_SCANCODE_KP_4, 0x4B, false, 0x64},
    {SDL_SCANCODE_KP_5, 0x4C, false, 0x65},
    {SDL_SCANCODE_KP_6, 0x4D, false, 0x66},
    {SDL_SCANCODE_KP_PLUS, 0x4E, false, 0x6B},
    {SDL_SCANCODE_KP_1, 0x4F, false, 0x61},
    {SDL_SCANCODE_KP_2, 0x50, false, 0x62},
    {SDL_SCANCODE_KP_3, 0x51, false, 0x63},
    {SDL_SCANCODE_KP_0, 0x52, false, 0x60},
    {SDL_SCANCODE_KP_PERIOD, 0x53, false, 0x6E},
    {SDL_SCANCODE_NONUSBACKSLASH, 0x56, false, 0xE2},
    {SDL_SCANCODE_F11, 0x57, false, 0x7A},
    {SDL_SCANCODE_F12, 0x58, false, 0x7B},
    {SDL_SCANCODE_KP_ENTER, 0x1C, true, 0x0D},
    {SDL_SCANCODE_RCTRL, 0x1D, true, 0x11},
    {SDL_SCANCODE_KP_DIVIDE, 0x35, true, 0x6F},
    {SDL_SCANCODE_PRINTSCREEN, 0x37, true, 0x2C},
    {SDL_SCANCODE_RALT, 0x38, true, 0x12},
    {SDL_SCANCODE_HOME, 0x47, true, 0x24},
    {SDL_SCANCODE_UP, 0x48, true, 0x26},
    {SDL_SCANCODE_PAGEUP, 0x49, true, 0x21},
    {SDL_SCANCODE_LEFT, 0x4B, true, 0x25},
    {SDL_SCANCODE_RIGHT, 0x4D, true, 0x27},
    {SDL_SCANCODE_END, 0x4F, true, 0x23},
    {SDL_SCANCODE_DOWN, 0x50, true, 0x28},
    {SDL_SCANCODE_PAGEDOWN, 0x51, true, 0x22},
    {SDL_SCANCODE_INSERT, 0x52, true, 0x2D},
    {SDL_SCANCODE_DELETE, 0x53, true, 0x2E},
    {SDL_SCANCODE_LGUI, 0x5B, true, 0x5B},
    {SDL_SCANCODE_RGUI, 0x5C, true, 0x5C},
    {SDL_SCANCODE_APPLICATION, 0x5D, true, 0x5D},
};

}  // namespace

KeyCode KeyFromSdlScancode(int sdlScancode) {
  for (const KeyRow& row : kKeys) {
    if (row.sdl == sdlScancode) return {row.scan, row.extended, row.virtualKey};
  }
  return {};
}

std::uint8_t VirtualKeyFromScanCode(std::uint8_t scan, bool extended) {
  for (const KeyRow& row : kKeys) {
    if (row.scan == scan && row.extended == extended) return row.virtualKey;
  }
  return 0;
}

std::uint8_t KeypadKeyWithoutNumLock(std::uint8_t virtualKey) {
  // VK_NUMPAD0 (0x60) to VK_NUMPAD9: Insert, End, Down, Next, Left, Clear,
  // Right, Home, Up, Prior.
  static constexpr std::uint8_t kCursorKeys[] = {0x2D, 0x23, 0x28, 0x22, 0x25,
                                                 0x0C, 0x27, 0x24, 0x26, 0x21};
  if (virtualKey >= 0x60 && virtualKey <= 0x69) return kCursorKeys[virtualKey - 0x60];
  if (virtualKey == 0x6E) return 0x2E;  // VK_DECIMAL -> VK_DELETE
  return virtualKey;
}

LPARAM KeyMessageLParam(std::uint8_t scan, bool extended, bool down, bool wasDown, bool altHeld) {
  std::uint32_t bits = 1u | (static_cast<std::uint32_t>(scan) << 16);
  if (extended) bits |= 1u << 24;
  if (altHeld) bits |= 1u << 29;
  if (wasDown || !down) bits |= 1u << 30;
  if (!down) bits |= 1u << 31;
  // lParam carries the 32 bits as Windows does on a 32-bit system: the
  // transition flag is bit 31 of the value, not a sign.
  return static_cast<LPARAM>(bits);
}

}  // namespace win32::detail
