// The input modules started on the console input buffer alone ("CONIN$"), so
// that records written with WriteConsoleInputA reach the event queue's reader
// thread as typed keys do.
#pragma once

#include <chrono>
#include <cstdint>
#include <thread>

#include "graph/ktsIGraph.h"
#include "input/MsMouse.h"
#include "input/ktsEvQue.h"
#include "platform/Win32.h"
#include "runtime/krExceptions.h"
#include "tests/support/Wait.h"

namespace input_test {

inline void StartInputModules() {
#ifdef _WIN32
  // A test run without a console (by a service, or under Wine without a
  // terminal) gets one of its own: the records go into its input buffer.
  if (win32::GetConsoleWindow() == nullptr) win32::AllocConsole();
#endif
  K2C_init_exceptions();
  ktsIGraph::BEGIN();
  ktsIGraph::hConsoleInput =
      win32::CreateFileA("CONIN$", win32::GENERIC_READ | win32::GENERIC_WRITE, 0, nullptr,
                         win32::OPEN_EXISTING, 0, nullptr);
  MsMouse::BEGIN();
}

inline win32::INPUT_RECORD KeyRecord(std::uint16_t scan, char ch, bool down,
                                     std::uint32_t state = 0) {
  win32::INPUT_RECORD record{};
  record.EventType = win32::KEY_EVENT;
  record.Event.KeyEvent.bKeyDown = down ? 1 : 0;
  record.Event.KeyEvent.wRepeatCount = 1;
  record.Event.KeyEvent.wVirtualScanCode = scan;
  record.Event.KeyEvent.uChar.AsciiChar = ch;
  record.Event.KeyEvent.dwControlKeyState = state;
  return record;
}

inline win32::INPUT_RECORD MouseRecord(std::int16_t x, std::int16_t y, std::uint32_t buttons,
                                       std::uint32_t flags = 0) {
  win32::INPUT_RECORD record{};
  record.EventType = win32::MOUSE_EVENT;
  record.Event.MouseEvent.dwMousePosition = {x, y};
  record.Event.MouseEvent.dwButtonState = buttons;
  record.Event.MouseEvent.dwEventFlags = flags;
  return record;
}

inline bool Write(const win32::INPUT_RECORD& record) {
  win32::DWORD written = 0;
  return win32::WriteConsoleInputA(ktsIGraph::hConsoleInput, &record, 1, &written) != 0 &&
         written == 1;
}

// The reader thread works on its own time: wait (boundedly) for what it does.
using testing_support::WaitUntil;

// The reader has read everything written so far.
inline bool BufferDrained() {
  return WaitUntil([] {
    win32::DWORD pending = 1;
    return win32::GetNumberOfConsoleInputEvents(ktsIGraph::hConsoleInput, &pending) != 0 &&
           pending == 0;
  });
}

}  // namespace input_test
