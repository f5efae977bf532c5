// Events, mutexes, waits and sleeping.
//
// On this platform every wait is alertable, on every thread: an APC queued
// with QueueUserAPC interrupts WaitForSingleObject, Sleep and a blocking
// ReadFile of the target thread and runs there; the wait then returns
// WAIT_IO_COMPLETION, Sleep returns early, and ReadFile goes on reading. An
// APC may throw a C++ exception: it leaves the interrupted call (no lock is
// held then), and APCs queued after it stay queued for the next wait.
#pragma once

#include <functional>
#include <mutex>

#include "platform/kernel/Handles.h"
#include "platform/kernel/WinTypes.h"

namespace win32 {

inline constexpr DWORD WAIT_OBJECT_0 = 0x00000000;
inline constexpr DWORD WAIT_ABANDONED = 0x00000080;
inline constexpr DWORD WAIT_IO_COMPLETION = 0x000000C0;
inline constexpr DWORD WAIT_TIMEOUT = 0x00000102;
inline constexpr DWORD WAIT_FAILED = 0xFFFFFFFF;

// Objects are private to the process: a name is ignored and always makes a
// new object.
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
// The alertable forms: with alertable TRUE an APC queued for the caller runs
// during the wait, which then returns WAIT_IO_COMPLETION.
DWORD WaitForSingleObjectEx(HANDLE object, DWORD milliseconds, BOOL alertable);
DWORD SleepEx(DWORD milliseconds, BOOL alertable);

using PAPCFUNC = void (*)(ULONG_PTR parameter);
DWORD QueueUserAPC(PAPCFUNC function, HANDLE thread, ULONG_PTR parameter);

namespace detail {

// A kernel object that WaitForSingleObject accepts. The state that decides
// whether it is signalled is guarded by the one process-wide wait lock. The
// base is virtual so that one object can also be a StreamObject (Files.h), as
// a console input buffer is.
class WaitableObject : public virtual KernelObject {
 public:
  // Called with the wait lock held. True when a wait by the thread is
  // satisfied now, taking the object where waiting consumes it (auto-reset
  // event, mutex ownership); `abandoned` reports a mutex whose owner ended.
  virtual bool tryAcquire(DWORD threadId, bool& abandoned) = 0;
};

// Changes wait state under the wait lock, then lets every waiter look again.
// Objects guarded by a lock of their own must not hold it while calling this
// if their tryAcquire takes it (the wait lock is always taken first).
void UpdateWaitState(const std::function<void()>& change);
std::unique_lock<std::mutex> LockWaitState();
void WakeWaiters();  // after a change made under LockWaitState
// Sleeps until the next WakeWaiters (or a spurious wake-up); the caller holds
// the lock from LockWaitState and looks at its condition again afterwards.
void AwaitWaitStateChange(std::unique_lock<std::mutex>& lock);

// Runs the APCs queued for the calling thread, oldest first; true when any ran.
bool RunQueuedApcs();
// Returns when the descriptor is readable (data, end of file or an error) and
// runs the APCs queued for the calling thread meanwhile. Blocking reads call
// it first so that QueueUserAPC interrupts them.
void WaitReadableAlertable(int fd);

}  // namespace detail

}  // namespace win32
