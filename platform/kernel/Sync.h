// Events, mutexes, waits and sleeping. Waits on the main thread and every
// thread made by CreateThread are alertable for QueueUserAPC: a queued APC
// interrupts a wait or sleep, runs on the waiting thread, and the wait returns
// WAIT_IO_COMPLETION (Sleep simply returns early).
#pragma once

#include "platform/kernel/WinTypes.h"

namespace win32 {

inline constexpr DWORD WAIT_OBJECT_0 = 0x00000000;
inline constexpr DWORD WAIT_ABANDONED = 0x00000080;
inline constexpr DWORD WAIT_IO_COMPLETION = 0x000000C0;
inline constexpr DWORD WAIT_TIMEOUT = 0x00000102;
inline constexpr DWORD WAIT_FAILED = 0xFFFFFFFF;

HANDLE CreateEventA(LPSECURITY_ATTRIBUTES security, BOOL manualReset, BOOL initialState,
                    LPCSTR name);
BOOL SetEvent(HANDLE event);
BOOL ResetEvent(HANDLE event);
HANDLE CreateMutexA(LPSECURITY_ATTRIBUTES security, BOOL initialOwner, LPCSTR name);
BOOL ReleaseMutex(HANDLE mutex);

// Works for every kind that can be waited on: events, mutexes, threads (end),
// console input (records waiting).
DWORD WaitForSingleObject(HANDLE object, DWORD milliseconds);
// Sleep(0) gives up the rest of the time slice.
void Sleep(DWORD milliseconds);

using PAPCFUNC = void (*)(ULONG_PTR parameter);
DWORD QueueUserAPC(PAPCFUNC function, HANDLE thread, ULONG_PTR parameter);

}  // namespace win32
