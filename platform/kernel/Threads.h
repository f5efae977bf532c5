// Threads on the C++ standard library / pthreads.
#pragma once

#include <pthread.h>

#include <deque>
#include <utility>

#include "platform/kernel/Handles.h"
#include "platform/kernel/Sync.h"
#include "platform/kernel/WinTypes.h"

namespace win32 {

using LPTHREAD_START_ROUTINE = DWORD (*)(LPVOID parameter);

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
// Lets a thread made with CREATE_SUSPENDED start; returns the previous suspend
// count (1 the first time, 0 afterwards), or (DWORD)-1 on failure.
DWORD ResumeThread(HANDLE thread);

namespace detail {

// A thread's kernel object: signalled when the thread has ended. Every field
// is guarded by the wait lock (Sync.h); the thread fills in `native` and `id`
// itself as it starts.
class ThreadObject : public WaitableObject {
 public:
  ObjectKind kind() const override { return ObjectKind::Thread; }
  bool tryAcquire(DWORD, bool&) override { return finished; }

  pthread_t native{};
  DWORD id = 0;
  bool finished = false;
  DWORD exitCode = STILL_ACTIVE;
  bool suspended = false;
  // Queued by QueueUserAPC, run by the thread's next alertable wait.
  std::deque<std::pair<PAPCFUNC, ULONG_PTR>> apcs;
};

// Marks the thread ended with its exit code, abandons the mutexes it still
// owns and wakes the waiters (Sync.cpp).
void ThreadEnded(ThreadObject& thread, DWORD exitCode);

// The calling thread's kernel object (made on first use for threads that
// CreateThread did not start); DuplicateHandle of GetCurrentThread() opens it.
KernelObjectPtr CurrentThreadObject();
std::shared_ptr<ThreadObject> CurrentThreadState();
}  // namespace detail

}  // namespace win32
