// What the run-time installs in the platform beyond the Win32 calls: where
// the main thread may be asked to stop (every wait and sleep), and what a lost
// display does. A build on the real API gives these as no-ops.
#pragma once

#include "platform/kernel/WinTypes.h"

namespace win32::detail {
// Called around every wait and sleep, on the waiting thread: with `entering`
// TRUE before the wait takes any lock or looks at its objects (a place where
// the thread holds nothing of the platform's; the hook may throw, and the
// wait is then not made, or never return), with FALSE once the wait is over,
// also when it is left by an exception (the hook must not throw then; it may
// never return). One hook for the process; null removes it.
using SafePointHook = void (*)(bool entering);
void SetSafePointHook(SafePointHook hook);

// The display the windows are on is gone (its connection lost). The run-time
// sets what then happens (its orderly exit); it runs on the thread that found
// the loss, must not touch the display again and does not return. Without
// one the process ends through the exit hooks with 9.
void SetDisplayLostHandler(void (*handler)());
[[noreturn]] void DisplayLost();

// Brings what the calling thread has drawn into a window's DC to the screen.
// Here a window's surface wakes its server thread by itself, so there is
// nothing to do; on Windows under Wine a surface reaches the X server only
// when a thread of the process next looks at its messages.
inline void ShowDrawing() {}
}  // namespace win32::detail
