// What a US keyboard gives for a key a terminal reports: its set-1 scan code,
// virtual-key code, character and control-key state.
#pragma once

#include <termkey.h>

#include <optional>

#include "platform/console/Console.h"

namespace win32::detail {

// The key's type as libtermkey stored it. Read as a plain integer: for some
// malformed sequences libtermkey hands out a key whose type is no
// TermKeyType at all, and such a key is then ignored.
int KeyTypeOf(const TermKeyKey& key);

// The key-down record of a decoded terminal key, or nothing for keys no PC
// keyboard has (such as Find or Select).
std::optional<KEY_EVENT_RECORD> KeyRecordFor(const TermKeyKey& key);

}  // namespace win32::detail
