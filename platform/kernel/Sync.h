// Events, mutexes, waits and sleeping.
//
// An APC queued with QueueUserAPC runs only in an alertable wait of its
// thread (WaitForSingleObjectEx, WaitForMultipleObjectsEx or SleepEx with
// alertable TRUE), as on Windows: the wait runs every queued APC, oldest
// first, and returns WAIT_IO_COMPLETION. The plain forms, Sleep and ReadFile
// never run one. An APC may throw a C++ exception: it leaves the alertable
// wait (no lock is held then), and APCs queued after it stay queued for the
// next one.
#pragma once

#include "platform/kernel/WinTypes.h"

namespace win32 {

inline constexpr DWORD WAIT_OBJECT_0 = 0x00000000;
inline constexpr DWORD WAIT_ABANDONED = 0x00000080;
inline constexpr DWORD WAIT_ABANDONED_0 = WAIT_ABANDONED;
inline constexpr DWORD WAIT_IO_COMPLETION = 0x000000C0;
inline constexpr DWORD WAIT_TIMEOUT = 0x00000102;
inline constexpr DWORD WAIT_FAILED = 0xFFFFFFFF;
inline constexpr DWORD MAXIMUM_WAIT_OBJECTS = 64;

// Objects are private to the process: a name is ignored and always makes a
// new object. Success sets the last error to 0.
HANDLE CreateEventA(LPSECURITY_ATTRIBUTES security, BOOL manualReset, BOOL initialState,
                    LPCSTR name);
BOOL SetEvent(HANDLE event);
BOOL ResetEvent(HANDLE event);
HANDLE CreateMutexA(LPSECURITY_ATTRIBUTES security, BOOL initialOwner, LPCSTR name);
BOOL ReleaseMutex(HANDLE mutex);

// Works for every kind that can be waited on: events, mutexes, threads (end),
// console input (records waiting). Returns WAIT_OBJECT_0, WAIT_ABANDONED (a
// mutex whose owner ended), WAIT_TIMEOUT, or WAIT_FAILED with the last error.
DWORD WaitForSingleObject(HANDLE object, DWORD milliseconds);
// With alertable TRUE, an APC queued before or during the wait ends it with
// WAIT_IO_COMPLETION unless the object is signalled at once.
DWORD WaitForSingleObjectEx(HANDLE object, DWORD milliseconds, BOOL alertable);
// 1 to MAXIMUM_WAIT_OBJECTS handles. Waiting for any: WAIT_OBJECT_0 + the
// lowest index signalled (WAIT_ABANDONED_0 + index for an abandoned mutex).
// Waiting for all: nothing is taken until every object can be taken at once;
// then WAIT_OBJECT_0, or WAIT_ABANDONED_0 + the index of an abandoned mutex.
// A bad count, a null array or one object twice in a wait for all fails with
// ERROR_INVALID_PARAMETER.
DWORD WaitForMultipleObjects(DWORD count, const HANDLE* handles, BOOL waitAll, DWORD milliseconds);
DWORD WaitForMultipleObjectsEx(DWORD count, const HANDLE* handles, BOOL waitAll, DWORD milliseconds,
                               BOOL alertable);
// Sleep(0) gives up the rest of the time slice.
void Sleep(DWORD milliseconds);
// 0 when the time is over; WAIT_IO_COMPLETION when alertable and APCs ran
// (SleepEx(0, TRUE) runs those already queued).
DWORD SleepEx(DWORD milliseconds, BOOL alertable);

// Milliseconds since an arbitrary start (the monotonic clock); never goes back.
ULONGLONG GetTickCount64();

using PAPCFUNC = void(WINAPI*)(ULONG_PTR parameter);
DWORD QueueUserAPC(PAPCFUNC function, HANDLE thread, ULONG_PTR parameter);

// Every thread of the process passes a full memory barrier before this
// returns. A thread that orders a store before a later load with only a
// compiler barrier (std::atomic_signal_fence) then still pairs with a caller
// that stores, calls this and loads: at least one of the two loads sees the
// other side's store. The cheap half is for a path taken often, this one for
// a rare one.
void FlushProcessWriteBuffers();

}  // namespace win32
