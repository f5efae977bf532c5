// Threads on the C++ standard library / pthreads.
#pragma once

#include "platform/kernel/Exceptions.h"
#include "platform/kernel/WinTypes.h"

namespace win32 {

using LPTHREAD_START_ROUTINE = DWORD(WINAPI*)(LPVOID parameter);

inline constexpr DWORD CREATE_SUSPENDED = 0x4;
inline constexpr DWORD STILL_ACTIVE = 259;

// The stack size is a minimum: threads get at least the platform's default
// stack, since small Windows stack sizes only say how much to commit at first.
// New threads start with every floating-point exception masked.
HANDLE CreateThread(LPSECURITY_ATTRIBUTES security, SIZE_T stackSize, LPTHREAD_START_ROUTINE start,
                    LPVOID parameter, DWORD flags, LPDWORD threadId);
HANDLE GetCurrentThread();  // the pseudo-handle (HANDLE)-2
DWORD GetCurrentThreadId();
// STILL_ACTIVE while the thread runs.
BOOL GetExitCodeThread(HANDLE thread, LPDWORD exitCode);
// Lets a thread made with CREATE_SUSPENDED start, or lowers the count of a
// thread held by SuspendThread and lets it go on at 0 (it has left its hold
// when this returns); returns the previous suspend count, or (DWORD)-1 on
// failure.
DWORD ResumeThread(HANDLE thread);
// Holds another running thread wherever it is: a signal parks it in a
// handler until ResumeThread. Returns once it is held (or (DWORD)-1 when it
// could not be held within a second, for example because it blocks the
// signal; always under ThreadSanitizer); returns the previous suspend count.
DWORD SuspendThread(HANDLE thread);
// The registers of a thread held by SuspendThread, and new ones for it: it
// goes on with them when it is resumed. FALSE for a thread not held.
BOOL GetThreadContext(HANDLE thread, CONTEXT* context);
BOOL SetThreadContext(HANDLE thread, const CONTEXT* context);

}  // namespace win32
