// ReadFile on the console input handle: the key records of the input buffer
// read as text. With ENABLE_LINE_INPUT a read returns a whole line ended by
// CR LF (Backspace edits it); with ENABLE_ECHO_INPUT the typed characters are
// shown on the terminal; otherwise a read returns the characters there are,
// waiting for the first.
#pragma once

#include "platform/kernel/WinTypes.h"

namespace win32::detail {

BOOL ReadConsoleText(char* buffer, DWORD toRead, LPDWORD read);

// The console input mode that ReadConsoleText follows (kept by Console.cpp).
DWORD CurrentInputMode();

}  // namespace win32::detail
