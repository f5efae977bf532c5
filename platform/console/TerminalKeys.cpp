#include "platform/console/TerminalKeys.h"

#include <SDL_scancode.h>

#include <cstring>
#include <iterator>

#include "platform/keys/KeyCodes.h"

namespace win32::detail {
namespace {

// The US layout's printable characters: the key (as an SDL scancode, whose
// set-1 code and virtual key KeyCodes.h knows) and whether Shift is down.
struct CharacterKey {
  char plain;
  char shifted;
  int key;
};

constexpr CharacterKey kCharacterKeys[] = {
    {'`', '~', SDL_SCANCODE_GRAVE},
    {'1', '!', SDL_SCANCODE_1},
    {'2', '@', SDL_SCANCODE_2},
    {'3', '#', SDL_SCANCODE_3},
    {'4', '$', SDL_SCANCODE_4},
    {'5', '%', SDL_SCANCODE_5},
    {'6', '^', SDL_SCANCODE_6},
    {'7', '&', SDL_SCANCODE_7},
    {'8', '*', SDL_SCANCODE_8},
    {'9', '(', SDL_SCANCODE_9},
    {'0', ')', SDL_SCANCODE_0},
    {'-', '_', SDL_SCANCODE_MINUS},
    {'=', '+', SDL_SCANCODE_EQUALS},
    {'[', '{', SDL_SCANCODE_LEFTBRACKET},
    {']', '}', SDL_SCANCODE_RIGHTBRACKET},
    {'\\', '|', SDL_SCANCODE_BACKSLASH},
    {';', ':', SDL_SCANCODE_SEMICOLON},
    {'\'', '"', SDL_SCANCODE_APOSTROPHE},
    {',', '<', SDL_SCANCODE_COMMA},
    {'.', '>', SDL_SCANCODE_PERIOD},
    {'/', '?', SDL_SCANCODE_SLASH},
    {' ', ' ', SDL_SCANCODE_SPACE},
};

struct SymbolKey {
  int symbol;
  int key;
  char character;
};

constexpr SymbolKey kSymbolKeys[] = {
    {TERMKEY_SYM_BACKSPACE, SDL_SCANCODE_BACKSPACE, '\b'},
    // Terminals send DEL (0x7F) for the Backspace key.
    {TERMKEY_SYM_DEL, SDL_SCANCODE_BACKSPACE, '\b'},
    {TERMKEY_SYM_TAB, SDL_SCANCODE_TAB, '\t'},
    {TERMKEY_SYM_ENTER, SDL_SCANCODE_RETURN, '\r'},
    {TERMKEY_SYM_ESCAPE, SDL_SCANCODE_ESCAPE, '\x1b'},
    {TERMKEY_SYM_SPACE, SDL_SCANCODE_SPACE, ' '},
    {TERMKEY_SYM_UP, SDL_SCANCODE_UP, 0},
    {TERMKEY_SYM_DOWN, SDL_SCANCODE_DOWN, 0},
    {TERMKEY_SYM_LEFT, SDL_SCANCODE_LEFT, 0},
    {TERMKEY_SYM_RIGHT, SDL_SCANCODE_RIGHT, 0},
    {TERMKEY_SYM_INSERT, SDL_SCANCODE_INSERT, 0},
    {TERMKEY_SYM_DELETE, SDL_SCANCODE_DELETE, 0},
    {TERMKEY_SYM_HOME, SDL_SCANCODE_HOME, 0},
    {TERMKEY_SYM_END, SDL_SCANCODE_END, 0},
    // tmux and screen send Home and End as ESC [ 1 ~ and ESC [ 4 ~, which
    // read as the old Find and Select keys; no keyboard here has those.
    {TERMKEY_SYM_FIND, SDL_SCANCODE_HOME, 0},
    {TERMKEY_SYM_SELECT, SDL_SCANCODE_END, 0},
    {TERMKEY_SYM_PAGEUP, SDL_SCANCODE_PAGEUP, 0},
    {TERMKEY_SYM_PAGEDOWN, SDL_SCANCODE_PAGEDOWN, 0},
    {TERMKEY_SYM_BEGIN, SDL_SCANCODE_KP_5, 0},
    {TERMKEY_SYM_KP0, SDL_SCANCODE_KP_0, '0'},
    {TERMKEY_SYM_KP1, SDL_SCANCODE_KP_1, '1'},
    {TERMKEY_SYM_KP2, SDL_SCANCODE_KP_2, '2'},
    {TERMKEY_SYM_KP3, SDL_SCANCODE_KP_3, '3'},
    {TERMKEY_SYM_KP4, SDL_SCANCODE_KP_4, '4'},
    {TERMKEY_SYM_KP5, SDL_SCANCODE_KP_5, '5'},
    {TERMKEY_SYM_KP6, SDL_SCANCODE_KP_6, '6'},
    {TERMKEY_SYM_KP7, SDL_SCANCODE_KP_7, '7'},
    {TERMKEY_SYM_KP8, SDL_SCANCODE_KP_8, '8'},
    {TERMKEY_SYM_KP9, SDL_SCANCODE_KP_9, '9'},
    {TERMKEY_SYM_KPENTER, SDL_SCANCODE_KP_ENTER, '\r'},
    {TERMKEY_SYM_KPPLUS, SDL_SCANCODE_KP_PLUS, '+'},
    {TERMKEY_SYM_KPMINUS, SDL_SCANCODE_KP_MINUS, '-'},
    {TERMKEY_SYM_KPMULT, SDL_SCANCODE_KP_MULTIPLY, '*'},
    {TERMKEY_SYM_KPDIV, SDL_SCANCODE_KP_DIVIDE, '/'},
    {TERMKEY_SYM_KPPERIOD, SDL_SCANCODE_KP_PERIOD, '.'},
};

constexpr WORD kVirtualKeyF13 = 0x7C;

DWORD controlStateOf(int modifiers) {
  DWORD state = 0;
  if ((modifiers & TERMKEY_KEYMOD_SHIFT) != 0) state |= SHIFT_PRESSED;
  if ((modifiers & TERMKEY_KEYMOD_ALT) != 0) state |= LEFT_ALT_PRESSED;
  if ((modifiers & TERMKEY_KEYMOD_CTRL) != 0) state |= LEFT_CTRL_PRESSED;
  return state;
}

KEY_EVENT_RECORD recordFor(int sdlKey, char character, DWORD state) {
  const KeyCode code = KeyFromSdlScancode(sdlKey);
  KEY_EVENT_RECORD record{};
  record.bKeyDown = TRUE;
  record.wRepeatCount = 1;
  record.wVirtualScanCode = code.scan;
  record.wVirtualKeyCode = code.virtualKey;
  record.uChar.UnicodeChar = static_cast<unsigned char>(character);
  record.dwControlKeyState = state | (code.extended ? ENHANCED_KEY : 0);
  return record;
}

// Ctrl with a letter (or one of [ \\ ] ^ _) types its control character, as
// on a console; Ctrl+Space types NUL.
char characterWithModifiers(char c, DWORD state) {
  const bool ctrl = (state & (LEFT_CTRL_PRESSED | RIGHT_CTRL_PRESSED)) != 0;
  if (!ctrl) return c;
  const bool hasControlCharacter = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= '_') || c == ' ';
  return hasControlCharacter ? static_cast<char>(c & 0x1F) : c;
}

std::optional<KEY_EVENT_RECORD> letterOrSign(long codepoint, DWORD state) {
  const char c = static_cast<char>(codepoint);
  if (c >= 'a' && c <= 'z') {
    return recordFor(SDL_SCANCODE_A + (c - 'a'), characterWithModifiers(c, state), state);
  }
  if (c >= 'A' && c <= 'Z') {
    state |= SHIFT_PRESSED;
    return recordFor(SDL_SCANCODE_A + (c - 'A'), characterWithModifiers(c, state), state);
  }
  for (const CharacterKey& row : kCharacterKeys) {
    if (row.plain == c) return recordFor(row.key, characterWithModifiers(c, state), state);
    if (row.shifted == c) return recordFor(row.key, c, state | SHIFT_PRESSED);
  }
  return std::nullopt;
}

// Characters beyond ASCII have no key of their own on a US keyboard: the
// record carries the character alone (Latin-1, or '?' beyond it).
KEY_EVENT_RECORD characterOnly(long codepoint, DWORD state) {
  KEY_EVENT_RECORD record{};
  record.bKeyDown = TRUE;
  record.wRepeatCount = 1;
  record.uChar.UnicodeChar = static_cast<std::uint16_t>(codepoint <= 0xFF ? codepoint : '?');
  record.dwControlKeyState = state;
  return record;
}

std::optional<KEY_EVENT_RECORD> unicodeKey(const TermKeyKey& key, DWORD state) {
  const long codepoint = key.code.codepoint;
  // LF is what terminals (tmux among them) send for the keypad's Enter key;
  // Ctrl+J, which sends it too, is rare enough to give way.
  if (codepoint == 'j' && key.modifiers == TERMKEY_KEYMOD_CTRL) {
    return recordFor(SDL_SCANCODE_KP_ENTER, '\r', 0);
  }
  if (codepoint >= 0x20 && codepoint < 0x7F) return letterOrSign(codepoint, state);
  if (codepoint < 0x20 || codepoint == 0x7F) return std::nullopt;
  return characterOnly(codepoint, state);
}

// The symbol is read as a plain integer, as the type is (KeyTypeOf).
std::optional<KEY_EVENT_RECORD> symbolKey(const TermKeyKey& key, DWORD state) {
  int symbol = 0;
  static_assert(sizeof symbol == sizeof key.code.sym);
  std::memcpy(&symbol, &key.code.sym, sizeof symbol);
  for (const SymbolKey& row : kSymbolKeys) {
    if (row.symbol == symbol) return recordFor(row.key, row.character, state);
  }
  return std::nullopt;
}

// F1 to F12 are PC keys; F13 and above have virtual keys only.
std::optional<KEY_EVENT_RECORD> functionKey(const TermKeyKey& key, DWORD state) {
  const int number = key.code.number;
  if (number >= 1 && number <= 12) return recordFor(SDL_SCANCODE_F1 + number - 1, '\0', state);
  if (number < 13 || number > 24) return std::nullopt;
  KEY_EVENT_RECORD record = characterOnly(0, state);
  record.wVirtualKeyCode = static_cast<WORD>(kVirtualKeyF13 + number - 13);
  return record;
}

}  // namespace

int KeyTypeOf(const TermKeyKey& key) {
  int type = 0;
  static_assert(sizeof type == sizeof key.type);
  std::memcpy(&type, &key.type, sizeof type);
  return type;
}

std::optional<KEY_EVENT_RECORD> KeyRecordFor(const TermKeyKey& key) {
  const DWORD state = controlStateOf(key.modifiers);
  switch (KeyTypeOf(key)) {
    case TERMKEY_TYPE_UNICODE:
      return unicodeKey(key, state);
    case TERMKEY_TYPE_KEYSYM:
      return symbolKey(key, state);
    case TERMKEY_TYPE_FUNCTION:
      return functionKey(key, state);
    default:
      return std::nullopt;
  }
}

}  // namespace win32::detail
