// The console input mode around string reading.
#pragma once

#include <cstdint>

#include "platform/kernel/WinTypes.h"

namespace ktsIO {

void BEGIN();
// on: widens the standard input's console mode by processed, line and echo
// input and hands the old mode back (0, changing nothing, when standard input
// is not a console); off: sets the mode given.
void SetConMode(bool on, win32::DWORD& mode);

}  // namespace ktsIO
