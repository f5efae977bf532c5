// Threads on the C++ standard library / pthreads.
#pragma once

#include "platform/kernel/WinTypes.h"

namespace win32 {

using LPTHREAD_START_ROUTINE = DWORD (*)(LPVOID parameter);

inline constexpr DWORD CREATE_SUSPENDED = 0x4;

// The stack size is a minimum: threads get at least the platform's default
// stack, since small Windows stack sizes only say how much to commit at first.
// New threads start with every floating-point exception masked.
HANDLE CreateThread(LPSECURITY_ATTRIBUTES security, SIZE_T stackSize, LPTHREAD_START_ROUTINE start,
                    LPVOID parameter, DWORD flags, LPDWORD threadId);
HANDLE GetCurrentThread();  // the pseudo-handle (HANDLE)-2
DWORD GetCurrentThreadId();
BOOL GetExitCodeThread(HANDLE thread, LPDWORD exitCode);

}  // namespace win32
