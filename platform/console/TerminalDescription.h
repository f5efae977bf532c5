// What the terminal's own description in terminfo says of its keyboard: the
// bytes each key sends, which byte Backspace sends, and whether Alt sets a
// character's eighth bit. The decoder's built-in table (xterm's forms) stays
// the first word; the description adds what it does not know.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "platform/console/TerminalKeys.h"

namespace win32::detail {

struct DescribedKey {
  std::string bytes;
  TerminalKey key;
};

struct TerminalDescription {
  std::vector<DescribedKey> keys;
  unsigned char backspace = 0x7F;
  // A terminal with a meta mode (terminfo's smm, as xterm's) sets the eighth
  // bit for Alt; the others send ESC before the key.
  bool eightBitMeta = false;
};

// Nothing when there is no name or terminfo has no entry for it.
std::optional<TerminalDescription> DescribeTerminal(const char* name);

// Whether the locale's characters are UTF-8: unless a locale variable names
// another character set, they are (terminals send UTF-8 also in the C locale).
bool LocaleIsUtf8();

}  // namespace win32::detail
