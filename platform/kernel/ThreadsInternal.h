// Thread objects on pthreads: what waits, APCs and SuspendThread keep per thread.
#pragma once

#include <pthread.h>

#include <atomic>
#include <deque>
#include <utility>

#include "platform/kernel/SyncInternal.h"
#include "platform/kernel/Threads.h"

namespace win32::detail {

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
}  // namespace win32::detail
