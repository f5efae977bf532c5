// The console host on the terminal: console modes, the input buffer of
// INPUT_RECORDs, the screen buffer's size and cursor, the title and Beep.
#pragma once

#include <cstdint>

#include "platform/kernel/WinTypes.h"

namespace win32 {

inline constexpr DWORD ENABLE_PROCESSED_INPUT = 0x0001;
inline constexpr DWORD ENABLE_LINE_INPUT = 0x0002;
inline constexpr DWORD ENABLE_ECHO_INPUT = 0x0004;
inline constexpr DWORD ENABLE_WINDOW_INPUT = 0x0008;
inline constexpr DWORD ENABLE_MOUSE_INPUT = 0x0010;
inline constexpr DWORD ENABLE_PROCESSED_OUTPUT = 0x0001;
inline constexpr DWORD ENABLE_WRAP_AT_EOL_OUTPUT = 0x0002;

struct COORD {
  SHORT X;
  SHORT Y;
};

struct SMALL_RECT {
  SHORT Left;
  SHORT Top;
  SHORT Right;
  SHORT Bottom;
};

// Input record kinds.
inline constexpr WORD KEY_EVENT = 0x0001;
inline constexpr WORD MOUSE_EVENT = 0x0002;
inline constexpr WORD WINDOW_BUFFER_SIZE_EVENT = 0x0004;
inline constexpr WORD MENU_EVENT = 0x0008;
inline constexpr WORD FOCUS_EVENT = 0x0010;

// Control-key state of key and mouse records.
inline constexpr DWORD RIGHT_ALT_PRESSED = 0x0001;
inline constexpr DWORD LEFT_ALT_PRESSED = 0x0002;
inline constexpr DWORD RIGHT_CTRL_PRESSED = 0x0004;
inline constexpr DWORD LEFT_CTRL_PRESSED = 0x0008;
inline constexpr DWORD SHIFT_PRESSED = 0x0010;
inline constexpr DWORD NUMLOCK_ON = 0x0020;
inline constexpr DWORD SCROLLLOCK_ON = 0x0040;
inline constexpr DWORD CAPSLOCK_ON = 0x0080;
inline constexpr DWORD ENHANCED_KEY = 0x0100;

// Mouse record buttons and event flags.
inline constexpr DWORD FROM_LEFT_1ST_BUTTON_PRESSED = 0x0001;
inline constexpr DWORD RIGHTMOST_BUTTON_PRESSED = 0x0002;
inline constexpr DWORD FROM_LEFT_2ND_BUTTON_PRESSED = 0x0004;
inline constexpr DWORD FROM_LEFT_3RD_BUTTON_PRESSED = 0x0008;
inline constexpr DWORD FROM_LEFT_4TH_BUTTON_PRESSED = 0x0010;
inline constexpr DWORD MOUSE_MOVED = 0x0001;
inline constexpr DWORD DOUBLE_CLICK = 0x0002;
inline constexpr DWORD MOUSE_WHEELED = 0x0004;
inline constexpr DWORD MOUSE_HWHEELED = 0x0008;

struct KEY_EVENT_RECORD {
  BOOL bKeyDown;
  WORD wRepeatCount;
  WORD wVirtualKeyCode;
  WORD wVirtualScanCode;
  union {
    std::uint16_t UnicodeChar;
    CHAR AsciiChar;
  } uChar;
  DWORD dwControlKeyState;
};

struct MOUSE_EVENT_RECORD {
  COORD dwMousePosition;
  DWORD dwButtonState;
  DWORD dwControlKeyState;
  DWORD dwEventFlags;
};

struct WINDOW_BUFFER_SIZE_RECORD {
  COORD dwSize;
};

struct MENU_EVENT_RECORD {
  UINT dwCommandId;
};

struct FOCUS_EVENT_RECORD {
  BOOL bSetFocus;
};

struct INPUT_RECORD {
  WORD EventType;
  union {
    KEY_EVENT_RECORD KeyEvent;
    MOUSE_EVENT_RECORD MouseEvent;
    WINDOW_BUFFER_SIZE_RECORD WindowBufferSizeEvent;
    MENU_EVENT_RECORD MenuEvent;
    FOCUS_EVENT_RECORD FocusEvent;
  } Event;
};

struct CONSOLE_SCREEN_BUFFER_INFO {
  COORD dwSize;
  COORD dwCursorPosition;
  WORD wAttributes;
  SMALL_RECT srWindow;
  COORD dwMaximumWindowSize;
};

// Console handles: the console input handle (see below), and any handle on a
// terminal; any other handle fails with ERROR_INVALID_HANDLE.
BOOL GetConsoleMode(HANDLE console, LPDWORD mode);
// On the console input handle the console host reads the terminal itself:
// the terminal keeps no line editing and no echo (ReadFile on the handle
// does both), processed input keeps Ctrl+C a signal (ISIG), and mouse input
// turns the terminal's mouse reporting on. On another terminal handle the
// mode maps processed, line and echo input onto ISIG, ICANON and ECHO. The
// terminal's own settings come back at exit.
BOOL SetConsoleMode(HANDLE console, DWORD mode);

// The title is kept in the process (at first the executable's path); setting
// it also shows it in the terminal's title bar when standard output is a
// terminal. GetConsoleTitleA copies at most size - 1 characters and a NUL and
// returns the number copied.
DWORD GetConsoleTitleA(LPSTR title, DWORD size);
BOOL SetConsoleTitleA(LPCSTR title);

// The console input buffer: one per process, fed by the terminal and by
// WriteConsoleInputA. Its handle is GetStdHandle(STD_INPUT_HANDLE) when
// standard input is a terminal, and CreateFileA("CONIN$", ...) always; it is
// signalled while a record is there. ReadConsoleInputA waits for a record;
// records beyond 16384 waiting ones are refused with ERROR_NOT_ENOUGH_MEMORY.
BOOL ReadConsoleInputA(HANDLE input, INPUT_RECORD* buffer, DWORD length, LPDWORD read);
BOOL PeekConsoleInputA(HANDLE input, INPUT_RECORD* buffer, DWORD length, LPDWORD read);
BOOL GetNumberOfConsoleInputEvents(HANDLE input, LPDWORD count);
BOOL WriteConsoleInputA(HANDLE input, const INPUT_RECORD* buffer, DWORD length, LPDWORD written);
BOOL FlushConsoleInputBuffer(HANDLE input);

// The screen buffer is the terminal: its size, the cursor (asked of the
// terminal; ERROR_TIMEOUT when it does not answer), output at a cell (the
// cursor stays where it was).
BOOL GetConsoleScreenBufferInfo(HANDLE output, CONSOLE_SCREEN_BUFFER_INFO* info);
BOOL SetConsoleCursorPosition(HANDLE output, COORD position);
BOOL WriteConsoleOutputCharacterA(HANDLE output, LPCSTR text, DWORD length, COORD position,
                                  LPDWORD written);
BOOL WriteConsoleA(HANDLE output, const void* buffer, DWORD length, LPDWORD written,
                   LPVOID reserved);

// A tone of the given pitch (37 to 32767 Hz) for the given time, or the
// terminal's bell where no audio device opens; returns after the time.
BOOL Beep(DWORD frequency, DWORD duration);

}  // namespace win32

namespace win32::detail {
// Hands the kernel the console host's opener: CreateFileA of "CONIN$" and
// "CONOUT$", and a standard handle on a terminal, are the console's from
// then on. Every program calls it first thing at its start (the run-time's
// start does), before anything makes a standard handle: one made before
// stays a plain file's handle. Calling it again changes nothing.
void ConnectConsoleHost();
}  // namespace win32::detail
