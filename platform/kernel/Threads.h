// Threads on the C++ standard library / pthreads.
#pragma once

#include <pthread.h>

#include <atomic>
#include <deque>
#include <utility>

#include "platform/kernel/Exceptions.h"
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
  // SuspendThread's hold. The parked thread runs in a signal handler, which
  // may not take the wait lock: these are atomics, and futex words.
  std::atomic<int> holdCount{0};
  std::atomic<int> parked{0};                 // 1 while the thread sits in its hold
  std::atomic<void*> parkedContext{nullptr};  // its ucontext_t while parked
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
