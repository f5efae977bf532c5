// The console host on the terminal. This first version knows console modes
// and the title; input records and the screen buffer arrive with the console
// host.
#pragma once

#include "platform/kernel/WinTypes.h"

namespace win32 {

inline constexpr DWORD ENABLE_PROCESSED_INPUT = 0x0001;
inline constexpr DWORD ENABLE_LINE_INPUT = 0x0002;
inline constexpr DWORD ENABLE_ECHO_INPUT = 0x0004;
inline constexpr DWORD ENABLE_WINDOW_INPUT = 0x0008;
inline constexpr DWORD ENABLE_MOUSE_INPUT = 0x0010;
inline constexpr DWORD ENABLE_PROCESSED_OUTPUT = 0x0001;
inline constexpr DWORD ENABLE_WRAP_AT_EOL_OUTPUT = 0x0002;

// A handle on a terminal is a console handle; any other handle fails with
// ERROR_INVALID_HANDLE.
BOOL GetConsoleMode(HANDLE console, LPDWORD mode);
// The input mode maps processed, line and echo input onto the terminal's
// ISIG, ICANON and ECHO; the terminal's own settings come back at exit.
BOOL SetConsoleMode(HANDLE console, DWORD mode);

// The title is kept in the process (at first the executable's path); setting
// it also shows it in the terminal's title bar when standard output is a
// terminal. GetConsoleTitleA copies at most size - 1 characters and a NUL and
// returns the number copied.
DWORD GetConsoleTitleA(LPSTR title, DWORD size);
BOOL SetConsoleTitleA(LPCSTR title);

}  // namespace win32
