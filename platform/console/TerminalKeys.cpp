#include "platform/console/TerminalKeys.h"

#include <SDL_scancode.h>

#include <cstdint>

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
  KeySymbol symbol;
  int key;
  char character;
};

constexpr SymbolKey kSymbolKeys[] = {
    {KeySymbol::Backspace, SDL_SCANCODE_BACKSPACE, '\b'},
    {KeySymbol::Tab, SDL_SCANCODE_TAB, '\t'},
    {KeySymbol::Enter, SDL_SCANCODE_RETURN, '\r'},
    {KeySymbol::Escape, SDL_SCANCODE_ESCAPE, '\x1b'},
    {KeySymbol::Up, SDL_SCANCODE_UP, 0},
    {KeySymbol::Down, SDL_SCANCODE_DOWN, 0},
    {KeySymbol::Left, SDL_SCANCODE_LEFT, 0},
    {KeySymbol::Right, SDL_SCANCODE_RIGHT, 0},
    {KeySymbol::Insert, SDL_SCANCODE_INSERT, 0},
    {KeySymbol::Delete, SDL_SCANCODE_DELETE, 0},
    {KeySymbol::Home, SDL_SCANCODE_HOME, 0},
    {KeySymbol::End, SDL_SCANCODE_END, 0},
    {KeySymbol::PageUp, SDL_SCANCODE_PAGEUP, 0},
    {KeySymbol::PageDown, SDL_SCANCODE_PAGEDOWN, 0},
    {KeySymbol::Begin, SDL_SCANCODE_KP_5, 0},
    {KeySymbol::Keypad0, SDL_SCANCODE_KP_0, '0'},
    {KeySymbol::Keypad1, SDL_SCANCODE_KP_1, '1'},
    {KeySymbol::Keypad2, SDL_SCANCODE_KP_2, '2'},
    {KeySymbol::Keypad3, SDL_SCANCODE_KP_3, '3'},
    {KeySymbol::Keypad4, SDL_SCANCODE_KP_4, '4'},
    {KeySymbol::Keypad5, SDL_SCANCODE_KP_5, '5'},
    {KeySymbol::Keypad6, SDL_SCANCODE_KP_6, '6'},
    {KeySymbol::Keypad7, SDL_SCANCODE_KP_7, '7'},
    {KeySymbol::Keypad8, SDL_SCANCODE_KP_8, '8'},
    {KeySymbol::Keypad9, SDL_SCANCODE_KP_9, '9'},
    {KeySymbol::KeypadEnter, SDL_SCANCODE_KP_ENTER, '\r'},
    {KeySymbol::KeypadPlus, SDL_SCANCODE_KP_PLUS, '+'},
    {KeySymbol::KeypadMinus, SDL_SCANCODE_KP_MINUS, '-'},
    {KeySymbol::KeypadMultiply, SDL_SCANCODE_KP_MULTIPLY, '*'},
    {KeySymbol::KeypadDivide, SDL_SCANCODE_KP_DIVIDE, '/'},
    {KeySymbol::KeypadPeriod, SDL_SCANCODE_KP_PERIOD, '.'},
};

// The final bytes of ESC [ 1 ; modifier final (and of ESC O final).
struct FinalKey {
  unsigned char final;
  TerminalKey::Kind kind;
  KeySymbol symbol;
  int function;
};

constexpr FinalKey kCsiFinals[] = {
    {'A', TerminalKey::Kind::Symbol, KeySymbol::Up, 0},
    {'B', TerminalKey::Kind::Symbol, KeySymbol::Down, 0},
    {'C', TerminalKey::Kind::Symbol, KeySymbol::Right, 0},
    {'D', TerminalKey::Kind::Symbol, KeySymbol::Left, 0},
    {'E', TerminalKey::Kind::Symbol, KeySymbol::Begin, 0},
    {'F', TerminalKey::Kind::Symbol, KeySymbol::End, 0},
    {'G', TerminalKey::Kind::Symbol, KeySymbol::Begin, 0},  // the Linux console's keypad 5
    {'H', TerminalKey::Kind::Symbol, KeySymbol::Home, 0},
    {'P', TerminalKey::Kind::Function, KeySymbol::Escape, 1},
    {'Q', TerminalKey::Kind::Function, KeySymbol::Escape, 2},
    {'R', TerminalKey::Kind::Function, KeySymbol::Escape, 3},
    {'S', TerminalKey::Kind::Function, KeySymbol::Escape, 4},
};

// ESC O final, beyond the CSI finals: the keypad in application mode.
constexpr FinalKey kSs3Finals[] = {
    {'M', TerminalKey::Kind::Symbol, KeySymbol::KeypadEnter, 0},
    {'j', TerminalKey::Kind::Symbol, KeySymbol::KeypadMultiply, 0},
    {'k', TerminalKey::Kind::Symbol, KeySymbol::KeypadPlus, 0},
    {'m', TerminalKey::Kind::Symbol, KeySymbol::KeypadMinus, 0},
    {'n', TerminalKey::Kind::Symbol, KeySymbol::KeypadPeriod, 0},
    {'o', TerminalKey::Kind::Symbol, KeySymbol::KeypadDivide, 0},
    {'p', TerminalKey::Kind::Symbol, KeySymbol::Keypad0, 0},
    {'q', TerminalKey::Kind::Symbol, KeySymbol::Keypad1, 0},
    {'r', TerminalKey::Kind::Symbol, KeySymbol::Keypad2, 0},
    {'s', TerminalKey::Kind::Symbol, KeySymbol::Keypad3, 0},
    {'t', TerminalKey::Kind::Symbol, KeySymbol::Keypad4, 0},
    {'u', TerminalKey::Kind::Symbol, KeySymbol::Keypad5, 0},
    {'v', TerminalKey::Kind::Symbol, KeySymbol::Keypad6, 0},
    {'w', TerminalKey::Kind::Symbol, KeySymbol::Keypad7, 0},
    {'x', TerminalKey::Kind::Symbol, KeySymbol::Keypad8, 0},
    {'y', TerminalKey::Kind::Symbol, KeySymbol::Keypad9, 0},
};

// rxvt's arrows with a modifier: ESC [ a-d with Shift, ESC O a-d with Ctrl.
constexpr FinalKey kRxvtArrows[] = {
    {'a', TerminalKey::Kind::Symbol, KeySymbol::Up, 0},
    {'b', TerminalKey::Kind::Symbol, KeySymbol::Down, 0},
    {'c', TerminalKey::Kind::Symbol, KeySymbol::Right, 0},
    {'d', TerminalKey::Kind::Symbol, KeySymbol::Left, 0},
};

// ESC [ number ~ (number, kind, symbol, function). tmux and screen send Home
// and End as 1 and 4, rxvt as 7 and 8.
struct TildeKey {
  std::uint32_t number;
  TerminalKey::Kind kind;
  KeySymbol symbol;
  int function;
};

constexpr TildeKey kTildeKeys[] = {
    {1, TerminalKey::Kind::Symbol, KeySymbol::Home, 0},
    {2, TerminalKey::Kind::Symbol, KeySymbol::Insert, 0},
    {3, TerminalKey::Kind::Symbol, KeySymbol::Delete, 0},
    {4, TerminalKey::Kind::Symbol, KeySymbol::End, 0},
    {5, TerminalKey::Kind::Symbol, KeySymbol::PageUp, 0},
    {6, TerminalKey::Kind::Symbol, KeySymbol::PageDown, 0},
    {7, TerminalKey::Kind::Symbol, KeySymbol::Home, 0},
    {8, TerminalKey::Kind::Symbol, KeySymbol::End, 0},
    {11, TerminalKey::Kind::Function, KeySymbol::Escape, 1},
    {12, TerminalKey::Kind::Function, KeySymbol::Escape, 2},
    {13, TerminalKey::Kind::Function, KeySymbol::Escape, 3},
    {14, TerminalKey::Kind::Function, KeySymbol::Escape, 4},
    {15, TerminalKey::Kind::Function, KeySymbol::Escape, 5},
    {17, TerminalKey::Kind::Function, KeySymbol::Escape, 6},
    {18, TerminalKey::Kind::Function, KeySymbol::Escape, 7},
    {19, TerminalKey::Kind::Function, KeySymbol::Escape, 8},
    {20, TerminalKey::Kind::Function, KeySymbol::Escape, 9},
    {21, TerminalKey::Kind::Function, KeySymbol::Escape, 10},
    {23, TerminalKey::Kind::Function, KeySymbol::Escape, 11},
    {24, TerminalKey::Kind::Function, KeySymbol::Escape, 12},
    {25, TerminalKey::Kind::Function, KeySymbol::Escape, 13},
    {26, TerminalKey::Kind::Function, KeySymbol::Escape, 14},
    {28, TerminalKey::Kind::Function, KeySymbol::Escape, 15},
    {29, TerminalKey::Kind::Function, KeySymbol::Escape, 16},
    {31, TerminalKey::Kind::Function, KeySymbol::Escape, 17},
    {32, TerminalKey::Kind::Function, KeySymbol::Escape, 18},
    {33, TerminalKey::Kind::Function, KeySymbol::Escape, 19},
    {34, TerminalKey::Kind::Function, KeySymbol::Escape, 20},
};

// xterm's modifyOtherKeys form, ESC [ 27 ; modifier ; character ~.
constexpr std::uint32_t kOtherKey = 27;

// rxvt ends its numbered keys with ~ alone, $ with Shift, ^ with Ctrl and @
// with both (ESC [ 2 $ is Shift+Insert, ESC [ 11 ^ Ctrl+F1).
int rxvtModifiersOf(unsigned char final) {
  switch (final) {
    case '$':
      return kModShift;
    case '^':
      return kModCtrl;
    case '@':
      return kModCtrl | kModShift;
    default:
      return 0;
  }
}

TerminalKey characterKey(char32_t character, int modifiers) {
  TerminalKey key;
  key.character = character;
  key.modifiers = modifiers;
  return key;
}

template <typename Row>
TerminalKey keyOfRow(const Row& row, int modifiers) {
  TerminalKey key;
  key.kind = row.kind;
  key.symbol = row.symbol;
  key.function = row.function;
  key.modifiers = modifiers;
  return key;
}

// xterm's modifier parameter is 1 + the modifier bits; 0 or 1 is none.
int modifiersOf(std::span<const std::uint32_t> numbers, std::size_t at) {
  if (numbers.size() <= at || numbers[at] < 2) return 0;
  return static_cast<int>((numbers[at] - 1) & (kModShift | kModAlt | kModCtrl));
}

// A character a terminal reports by its number (ESC [ ... u and the
// modifyOtherKeys form): controls are the keys that type them.
std::optional<TerminalKey> numberedCharacter(std::uint32_t code, int modifiers) {
  if (code > 0x10FFFF) return std::nullopt;
  if (code < 0x20 || code == 0x7F) {
    TerminalKey key = KeyForControl(static_cast<unsigned char>(code));
    key.modifiers |= modifiers;
    return key;
  }
  return characterKey(static_cast<char32_t>(code), modifiers);
}

constexpr WORD kVirtualKeyF13 = 0x7C;

DWORD controlStateOf(int modifiers) {
  DWORD state = 0;
  if ((modifiers & kModShift) != 0) state |= SHIFT_PRESSED;
  if ((modifiers & kModAlt) != 0) state |= LEFT_ALT_PRESSED;
  if ((modifiers & kModCtrl) != 0) state |= LEFT_CTRL_PRESSED;
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

std::optional<KEY_EVENT_RECORD> letterOrSign(char32_t codepoint, DWORD state) {
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
    if (row.shifted == c) {  // Ctrl+^ and Ctrl+_ type 0x1E and 0x1F, as Ctrl+Shift+6 and -
      return recordFor(row.key, characterWithModifiers(c, state), state | SHIFT_PRESSED);
    }
  }
  return std::nullopt;
}

// Characters beyond ASCII have no key of their own on a US keyboard: the
// record carries the character alone (Latin-1, or '?' beyond it).
KEY_EVENT_RECORD characterOnly(char32_t codepoint, DWORD state) {
  KEY_EVENT_RECORD record{};
  record.bKeyDown = TRUE;
  record.wRepeatCount = 1;
  record.uChar.UnicodeChar = static_cast<std::uint16_t>(codepoint <= 0xFF ? codepoint : '?');
  record.dwControlKeyState = state;
  return record;
}

std::optional<KEY_EVENT_RECORD> unicodeKey(char32_t codepoint, DWORD state) {
  if (codepoint >= 0x20 && codepoint < 0x7F) return letterOrSign(codepoint, state);
  if (codepoint < 0x20 || codepoint == 0x7F) return std::nullopt;
  return characterOnly(codepoint, state);
}

constexpr WORD kVirtualKeyClear = 0x0C;
constexpr char kDelete = 0x7F;

// Ctrl+Backspace types DEL; the keypad's 5 with NumLock off is VK_CLEAR.
std::optional<KEY_EVENT_RECORD> symbolKey(KeySymbol symbol, DWORD state) {
  for (const SymbolKey& row : kSymbolKeys) {
    if (row.symbol != symbol) continue;
    const bool ctrl = (state & LEFT_CTRL_PRESSED) != 0;
    KEY_EVENT_RECORD record =
        recordFor(row.key, symbol == KeySymbol::Backspace && ctrl ? kDelete : row.character, state);
    if (symbol == KeySymbol::Begin) record.wVirtualKeyCode = kVirtualKeyClear;
    return record;
  }
  return std::nullopt;
}

// F1 to F12 are PC keys; F13 and above have virtual keys only.
std::optional<KEY_EVENT_RECORD> functionKey(int number, DWORD state) {
  if (number >= 1 && number <= 12) return recordFor(SDL_SCANCODE_F1 + number - 1, '\0', state);
  if (number < 13 || number > 24) return std::nullopt;
  KEY_EVENT_RECORD record = characterOnly(0, state);
  record.wVirtualKeyCode = static_cast<WORD>(kVirtualKeyF13 + number - 13);
  return record;
}

}  // namespace

TerminalKey KeyForControl(unsigned char byte) {
  switch (byte) {
    case 0x7F:  // what terminals send for the Backspace key
      return KeyOfSymbol(KeySymbol::Backspace);
    // xterm and VTE send BS for Ctrl+Backspace; Ctrl+H, which sends it too,
    // gives way (a terminal whose Backspace sends BS says so in terminfo).
    case 0x08:
      return KeyOfSymbol(KeySymbol::Backspace, kModCtrl);
    case '\t':
      return KeyOfSymbol(KeySymbol::Tab);
    // LF is what terminals (tmux among them) send for the keypad's Enter key;
    // Ctrl+J, which sends it too, is rare enough to give way.
    case '\n':
      return KeyOfSymbol(KeySymbol::KeypadEnter);
    case '\r':
      return KeyOfSymbol(KeySymbol::Enter);
    case 0x1B:
      return KeyOfSymbol(KeySymbol::Escape);
    case 0x00:
      return characterKey(' ', kModCtrl);
    default:
      // 0x01-0x1A are Ctrl with a letter, 0x1C-0x1F Ctrl with \\ ] ^ _.
      return characterKey(byte <= 0x1A ? U'a' + byte - 1 : char32_t{byte} + 0x40, kModCtrl);
  }
}

std::optional<TerminalKey> KeyForSs3(unsigned char final, std::uint32_t modifier) {
  const int modifiers = modifiersOf(std::span<const std::uint32_t>(&modifier, 1), 0);
  for (const FinalKey& row : kCsiFinals) {
    if (row.final == final) return keyOfRow(row, modifiers);
  }
  for (const FinalKey& row : kSs3Finals) {
    if (row.final == final) return keyOfRow(row, modifiers);
  }
  for (const FinalKey& row : kRxvtArrows) {
    if (row.final == final) return keyOfRow(row, modifiers | kModCtrl);
  }
  return std::nullopt;
}

TerminalKey KeyOfSymbol(KeySymbol symbol, int modifiers) {
  return keyOfRow(FinalKey{0, TerminalKey::Kind::Symbol, symbol, 0}, modifiers);
}

TerminalKey FunctionKey(int number, int modifiers) {
  return keyOfRow(FinalKey{0, TerminalKey::Kind::Function, KeySymbol::Escape, number}, modifiers);
}

std::optional<TerminalKey> KeyForCsi(std::span<const std::uint32_t> numbers, unsigned char final) {
  if (final == 'Z') return KeyOfSymbol(KeySymbol::Tab, kModShift);  // Shift+Tab
  if (final == 'u' && !numbers.empty()) {
    return numberedCharacter(numbers[0], modifiersOf(numbers, 1));
  }
  if (final == '~' && numbers.size() >= 3 && numbers[0] == kOtherKey) {
    return numberedCharacter(numbers[2], modifiersOf(numbers, 1));
  }
  const bool tildeForm = final == '~' || rxvtModifiersOf(final) != 0;
  if (tildeForm && !numbers.empty()) {
    const int modifiers = modifiersOf(numbers, 1) | rxvtModifiersOf(final);
    for (const TildeKey& row : kTildeKeys) {
      if (row.number == numbers[0]) return keyOfRow(row, modifiers);
    }
    return std::nullopt;
  }
  for (const FinalKey& row : kCsiFinals) {
    if (row.final == final) return keyOfRow(row, modifiersOf(numbers, 1));
  }
  for (const FinalKey& row : kRxvtArrows) {
    if (row.final == final && numbers.empty()) return keyOfRow(row, kModShift);
  }
  return std::nullopt;
}

std::optional<KEY_EVENT_RECORD> KeyRecordFor(const TerminalKey& key) {
  const DWORD state = controlStateOf(key.modifiers);
  switch (key.kind) {
    case TerminalKey::Kind::Character:
      return unicodeKey(key.character, state);
    case TerminalKey::Kind::Symbol:
      return symbolKey(key.symbol, state);
    case TerminalKey::Kind::Function:
      return functionKey(key.function, state);
  }
  return std::nullopt;
}

}  // namespace win32::detail
