// The keys a terminal sends, as xterm and tmux encode them, and what a US
// keyboard gives for each: its set-1 scan code, virtual-key code, character
// and control-key state.
#pragma once

#include <cstdint>
#include <optional>
#include <span>

#include "platform/console/Console.h"

namespace win32::detail {

enum class KeySymbol : std::uint8_t {
  Backspace,
  Tab,
  Enter,
  Escape,
  Up,
  Down,
  Left,
  Right,
  Insert,
  Delete,
  Home,
  End,
  PageUp,
  PageDown,
  Begin,  // the keypad's middle key with NumLock off
  Keypad0,
  Keypad1,
  Keypad2,
  Keypad3,
  Keypad4,
  Keypad5,
  Keypad6,
  Keypad7,
  Keypad8,
  Keypad9,
  KeypadEnter,
  KeypadPlus,
  KeypadMinus,
  KeypadMultiply,
  KeypadDivide,
  KeypadPeriod,
};

// Modifier bits as xterm numbers them (its modifier parameter less one).
inline constexpr int kModShift = 1;
inline constexpr int kModAlt = 2;
inline constexpr int kModCtrl = 4;

struct TerminalKey {
  enum class Kind : std::uint8_t { Character, Symbol, Function };
  Kind kind = Kind::Character;
  char32_t character = 0;                // Kind::Character
  KeySymbol symbol = KeySymbol::Escape;  // Kind::Symbol
  int function = 0;                      // Kind::Function: F1 is 1
  int modifiers = 0;                     // kMod* bits
};

// A C0 control byte or DEL typed alone: Enter, Tab, Backspace, Esc, or Ctrl
// with a letter or sign.
TerminalKey KeyForControl(unsigned char byte);

// ESC O, an optional modifier number (as xterm's, ESC O 2 P is Shift+F1) and
// one byte (the cursor keys, F1-F4 and the keypad in application mode, rxvt's
// Ctrl+arrows), or nothing for a byte no key sends. A missing number is 0.
std::optional<TerminalKey> KeyForSs3(unsigned char final, std::uint32_t modifier);

// F1 is 1.
TerminalKey FunctionKey(int number, int modifiers);
TerminalKey KeyOfSymbol(KeySymbol symbol, int modifiers = 0);

// ESC [ numbers final, for the keys (not the mouse reports or replies), or
// nothing for a sequence no key sends. A missing number is 0. rxvt's finals
// $ ^ @ (Shift, Ctrl, both) stand for ~ with a modifier.
std::optional<TerminalKey> KeyForCsi(std::span<const std::uint32_t> numbers, unsigned char final);

// The key-down record of a decoded terminal key, or nothing for keys no PC
// keyboard has.
std::optional<KEY_EVENT_RECORD> KeyRecordFor(const TerminalKey& key);

}  // namespace win32::detail
