// Waiting for kernel objects, sleeping, and the APCs that only alertable
// waits run. The objects themselves and the wait lock are in Sync.cpp.
#include <sched.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <optional>
#include <thread>
#include <vector>

#include "platform/kernel/ErrorsInternal.h"
#include "platform/kernel/SyncInternal.h"
#include "platform/kernel/ThreadsInternal.h"

namespace win32 {
namespace {

using Clock = std::chrono::steady_clock;
using Waitables = std::vector<std::shared_ptr<detail::WaitableObject>>;

// One wait as the caller asked for it; the objects are resolved already.
struct WaitRequest {
  Waitables objects;  // empty for a sleep
  bool waitAll;
  DWORD milliseconds;
  bool alertable;
};

enum class WaitOutcome { Signaled, Abandoned, TimedOut, ApcQueued };

struct WaitResult {
  WaitOutcome outcome;
  DWORD index;  // of the object that ended the wait (any) or was abandoned (all)
};

std::atomic<detail::SafePointHook> safePointHook{nullptr};

// The hook around one wait; the wait is over when the scope ends, however.
class SafePointScope {
 public:
  SafePointScope() : hook_(safePointHook.load(std::memory_order_acquire)) {
    if (hook_ != nullptr) hook_(true);
  }
  ~SafePointScope() {
    if (hook_ != nullptr) hook_(false);
  }
  SafePointScope(const SafePointScope&) = delete;
  SafePointScope& operator=(const SafePointScope&) = delete;

 private:
  const detail::SafePointHook hook_;
};

DWORD failWait(DWORD code) {
  SetLastError(code);
  return WAIT_FAILED;
}

// GetCurrentThread's pseudo-handle names the calling thread's own object.
detail::KernelObjectPtr resolveWaitTarget(HANDLE handle) {
  if (handle == GetCurrentThread()) return detail::CurrentThreadObject();
  return detail::LookupObject(handle);
}

std::shared_ptr<detail::WaitableObject> resolveWaitable(HANDLE handle) {
  return std::dynamic_pointer_cast<detail::WaitableObject>(resolveWaitTarget(handle));
}

// With the wait lock held: the first object, by index, that can be taken.
std::optional<WaitResult> takeAny(const Waitables& objects, DWORD threadId) {
  for (DWORD i = 0; i < objects.size(); ++i) {
    bool abandoned = false;
    if (objects[i]->tryAcquire(threadId, abandoned)) {
      return WaitResult{abandoned ? WaitOutcome::Abandoned : WaitOutcome::Signaled, i};
    }
  }
  return std::nullopt;
}

// With the wait lock held: every object at once, or none. Under the one lock
// nothing changes between the look and the taking.
std::optional<WaitResult> takeAll(const Waitables& objects, DWORD threadId) {
  for (const auto& object : objects) {
    if (!object->signaledFor(threadId)) return std::nullopt;
  }
  WaitResult result{WaitOutcome::Signaled, 0};
  for (DWORD i = 0; i < objects.size(); ++i) {
    bool abandoned = false;
    objects[i]->tryAcquire(threadId, abandoned);
    if (abandoned && result.outcome == WaitOutcome::Signaled) {
      result = {WaitOutcome::Abandoned, i};
    }
  }
  return result;
}

std::optional<WaitResult> takeObjects(const WaitRequest& request, DWORD threadId) {
  if (request.objects.empty()) return std::nullopt;
  return request.waitAll ? takeAll(request.objects, threadId) : takeAny(request.objects, threadId);
}

// An object that can be taken wins over a queued APC; a queued APC wins over
// a time-out, so an alertable wait with time-out 0 still runs its APCs.
WaitResult waitUnderLock(const WaitRequest& request, detail::ThreadObject& self) {
  const auto deadline = Clock::now() + std::chrono::milliseconds(request.milliseconds);
  auto lock = detail::LockWaitState();
  while (true) {
    if (auto taken = takeObjects(request, self.id)) return *taken;
    if (request.alertable && !self.apcs.empty()) return {WaitOutcome::ApcQueued, 0};
    if (request.milliseconds == INFINITE) {
      detail::AwaitWaitStateChange(lock);
    } else if (Clock::now() >= deadline) {
      return {WaitOutcome::TimedOut, 0};
    } else {
      detail::AwaitWaitStateChangeUntil(lock, deadline);
    }
  }
}

// The APCs run after the wait lock is released: they may wait themselves.
DWORD waitFor(const WaitRequest& request) {
  const auto self = detail::CurrentThreadState();
  const WaitResult result = waitUnderLock(request, *self);
  switch (result.outcome) {
    case WaitOutcome::Signaled:
      return WAIT_OBJECT_0 + result.index;
    case WaitOutcome::Abandoned:
      return WAIT_ABANDONED_0 + result.index;
    case WaitOutcome::TimedOut:
      return WAIT_TIMEOUT;
    case WaitOutcome::ApcQueued:
      break;
  }
  detail::RunQueuedApcs();
  return WAIT_IO_COMPLETION;
}

bool holdsOneObjectTwice(const Waitables& objects) {
  for (std::size_t i = 0; i < objects.size(); ++i) {
    if (std::find(objects.begin() + static_cast<std::ptrdiff_t>(i) + 1, objects.end(),
                  objects[i]) != objects.end()) {
      return true;
    }
  }
  return false;
}

// A non-alertable sleep does not need the wait lock: nothing can end it.
void sleepUninterrupted(DWORD milliseconds) {
  if (milliseconds == 0) {
    ::sched_yield();
    return;
  }
  if (milliseconds != INFINITE) {
    std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
    return;
  }
  while (true) std::this_thread::sleep_for(std::chrono::hours(24));
}

}  // namespace

DWORD WaitForSingleObject(HANDLE object, DWORD milliseconds) {
  return WaitForSingleObjectEx(object, milliseconds, FALSE);
}

DWORD WaitForSingleObjectEx(HANDLE object, DWORD milliseconds, BOOL alertable) {
  return WaitForMultipleObjectsEx(1, &object, FALSE, milliseconds, alertable);
}

DWORD WaitForMultipleObjects(DWORD count, const HANDLE* handles, BOOL waitAll, DWORD milliseconds) {
  return WaitForMultipleObjectsEx(count, handles, waitAll, milliseconds, FALSE);
}

DWORD WaitForMultipleObjectsEx(DWORD count, const HANDLE* handles, BOOL waitAll, DWORD milliseconds,
                               BOOL alertable) {
  const SafePointScope safePoint;
  if (count == 0 || count > MAXIMUM_WAIT_OBJECTS || handles == nullptr) {
    return failWait(ERROR_INVALID_PARAMETER);
  }
  WaitRequest request{{}, waitAll != 0, milliseconds, alertable != 0};
  for (DWORD i = 0; i < count; ++i) {
    auto object = resolveWaitable(handles[i]);
    if (object == nullptr) return failWait(ERROR_INVALID_HANDLE);
    request.objects.push_back(std::move(object));
  }
  // Taking one object twice at once cannot be done; Windows refuses it too.
  if (request.waitAll && holdsOneObjectTwice(request.objects)) {
    return failWait(ERROR_INVALID_PARAMETER);
  }
  return waitFor(request);
}

void Sleep(DWORD milliseconds) {
  SleepEx(milliseconds, FALSE);
}

DWORD SleepEx(DWORD milliseconds, BOOL alertable) {
  const SafePointScope safePoint;
  if (alertable == 0) {
    sleepUninterrupted(milliseconds);
    return 0;
  }
  if (milliseconds == 0) {
    if (detail::RunQueuedApcs()) return WAIT_IO_COMPLETION;
    ::sched_yield();
    return 0;
  }
  const DWORD result = waitFor(WaitRequest{{}, false, milliseconds, true});
  return result == WAIT_IO_COMPLETION ? WAIT_IO_COMPLETION : 0;
}

DWORD QueueUserAPC(PAPCFUNC function, HANDLE thread, ULONG_PTR parameter) {
  auto target = std::dynamic_pointer_cast<detail::ThreadObject>(resolveWaitTarget(thread));
  if (target == nullptr || function == nullptr) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  {
    auto lock = detail::LockWaitState();
    if (target->finished) {
      SetLastError(ERROR_INVALID_HANDLE);
      return FALSE;
    }
    target->apcs.emplace_back(function, parameter);
  }
  detail::WakeWaiters();
  return TRUE;
}

ULONGLONG GetTickCount64() {
  const auto now = Clock::now().time_since_epoch();
  return static_cast<ULONGLONG>(std::chrono::duration_cast<std::chrono::milliseconds>(now).count());
}

namespace detail {

void SetSafePointHook(SafePointHook hook) {
  safePointHook.store(hook, std::memory_order_release);
}

bool RunQueuedApcs() {
  const auto self = CurrentThreadState();
  bool ran = false;
  while (true) {
    std::pair<PAPCFUNC, ULONG_PTR> apc;
    {
      auto lock = LockWaitState();
      if (self->apcs.empty()) return ran;
      apc = self->apcs.front();
      self->apcs.pop_front();
    }
    ran = true;
    apc.first(apc.second);  // may throw: the lock is already released
  }
}

}  // namespace detail
}  // namespace win32
