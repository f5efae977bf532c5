// The wait lock and waitable objects that every kernel object kind shares.
#pragma once

#include <chrono>
#include <functional>
#include <mutex>

#include "platform/kernel/HandlesInternal.h"
#include "platform/kernel/Sync.h"
#include "platform/kernel/RuntimeHooks.h"

namespace win32::detail {

// A kernel object that the waits accept. The state that decides whether it
// is signalled is guarded by the one process-wide wait lock. The base is
// virtual so that one object can also be a StreamObject (Files.h), as a
// console input buffer is.
class WaitableObject : public virtual KernelObject {
 public:
  // Called with the wait lock held. True when a wait by the thread is
  // satisfied now, taking the object where waiting consumes it (auto-reset
  // event, mutex ownership); `abandoned` reports a mutex whose owner ended.
  virtual bool tryAcquire(DWORD threadId, bool& abandoned) = 0;
  // Called with the wait lock held: would tryAcquire succeed, without taking
  // anything. A wait for all objects asks this first. Objects whose
  // tryAcquire consumes nothing need not override it.
  virtual bool signaledFor(DWORD threadId) {
    bool abandoned = false;
    return tryAcquire(threadId, abandoned);
  }
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
// The same with a deadline; false once it has passed.
bool AwaitWaitStateChangeUntil(std::unique_lock<std::mutex>& lock,
                               std::chrono::steady_clock::time_point deadline);

// Runs the APCs queued for the calling thread, oldest first; true when any ran.
// Only alertable waits call it.
bool RunQueuedApcs();

}  // namespace win32::detail
