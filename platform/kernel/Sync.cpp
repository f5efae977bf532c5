#include "platform/kernel/Sync.h"

#include <poll.h>
#include <sched.h>
#include <signal.h>

#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <vector>

#include "platform/kernel/Errors.h"
#include "platform/kernel/Threads.h"

namespace win32 {
namespace {

using Clock = std::chrono::steady_clock;

// One lock and one condition guard every waitable object: waits are few and
// short here, and a single lock makes "check the object, then sleep" atomic
// against every SetEvent, ReleaseMutex, thread end and queued APC.
// The mutex is constant-initialised and the condition is made on first use
// and never destroyed: waits may come from static constructors, and threads
// may still end while the process exits.
std::mutex waitMutex;
std::condition_variable& waitChanged() {
  static auto* condition = new std::condition_variable;
  return *condition;
}

class EventObject : public detail::WaitableObject {
 public:
  EventObject(bool manualReset, bool signaled) : manualReset_(manualReset), signaled_(signaled) {}
  detail::ObjectKind kind() const override { return detail::ObjectKind::Event; }
  bool tryAcquire(DWORD, bool&) override {
    if (!signaled_) return false;
    if (!manualReset_) signaled_ = false;
    return true;
  }
  void set(bool signaled) { signaled_ = signaled; }

 private:
  bool manualReset_;
  bool signaled_;
};

class MutexObject : public detail::WaitableObject {
 public:
  explicit MutexObject(DWORD owner) : owner_(owner), count_(owner != 0 ? 1 : 0) {}
  detail::ObjectKind kind() const override { return detail::ObjectKind::Mutex; }

  bool tryAcquire(DWORD threadId, bool& abandoned) override {
    if (owner_ != 0 && owner_ != threadId) return false;
    owner_ = threadId;
    ++count_;
    abandoned = abandoned_;
    abandoned_ = false;
    return true;
  }

  bool release(DWORD threadId) {
    if (owner_ != threadId || count_ == 0) return false;
    if (--count_ == 0) owner_ = 0;
    return true;
  }

  void abandonIfOwnedBy(DWORD threadId) {
    if (owner_ != threadId) return;
    owner_ = 0;
    count_ = 0;
    abandoned_ = true;
  }

 private:
  DWORD owner_;
  DWORD count_;
  bool abandoned_ = false;
};

// Every mutex, so that a thread's end can abandon the ones it still owns.
// Guarded by the wait lock.
std::vector<std::weak_ptr<MutexObject>>& allMutexes() {
  static auto* mutexes = new std::vector<std::weak_ptr<MutexObject>>;
  return *mutexes;
}

// GetCurrentThread's pseudo-handle names the calling thread's own object.
detail::KernelObjectPtr resolveWaitTarget(HANDLE handle) {
  if (handle == GetCurrentThread()) return detail::CurrentThreadObject();
  return detail::LookupObject(handle);
}

std::shared_ptr<detail::ThreadObject> resolveThread(HANDLE handle) {
  return std::dynamic_pointer_cast<detail::ThreadObject>(resolveWaitTarget(handle));
}

BOOL failInvalidHandle() {
  SetLastError(ERROR_INVALID_HANDLE);
  return FALSE;
}

// The signal that interrupts a blocking read for an APC. Its handler does
// nothing: it is there (without SA_RESTART) only to make the wait fail with
// EINTR.
int apcSignal() {
  return SIGRTMIN + 2;
}

void ignoreApcSignal(int) {}

void installApcSignalHandler() {
  static const bool installed = [] {
    struct sigaction action {};
    action.sa_handler = &ignoreApcSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = 0;
    return ::sigaction(apcSignal(), &action, nullptr) == 0;
  }();
  (void)installed;
}

// Keeps the APC signal blocked on this thread except inside ppoll, so a signal
// sent between the look at the APC queue and the wait is not lost.
class ApcSignalBlocked {
 public:
  ApcSignalBlocked() {
    sigset_t apcOnly;
    sigemptyset(&apcOnly);
    sigaddset(&apcOnly, apcSignal());
    ::pthread_sigmask(SIG_BLOCK, &apcOnly, &previous_);
    waitMask_ = previous_;
    sigdelset(&waitMask_, apcSignal());
  }
  ~ApcSignalBlocked() { ::pthread_sigmask(SIG_SETMASK, &previous_, nullptr); }
  ApcSignalBlocked(const ApcSignalBlocked&) = delete;
  ApcSignalBlocked& operator=(const ApcSignalBlocked&) = delete;
  const sigset_t* waitMask() const { return &waitMask_; }

 private:
  sigset_t previous_;
  sigset_t waitMask_;
};

enum class WaitOutcome { Signaled, Abandoned, TimedOut, ApcQueued };

WaitOutcome waitForObject(detail::WaitableObject& object, detail::ThreadObject& self,
                          DWORD milliseconds) {
  const auto deadline = Clock::now() + std::chrono::milliseconds(milliseconds);
  std::unique_lock lock(waitMutex);
  while (true) {
    if (!self.apcs.empty()) return WaitOutcome::ApcQueued;
    bool abandoned = false;
    if (object.tryAcquire(self.id, abandoned)) {
      return abandoned ? WaitOutcome::Abandoned : WaitOutcome::Signaled;
    }
    if (milliseconds == INFINITE) {
      waitChanged().wait(lock);
    } else if (Clock::now() >= deadline) {
      return WaitOutcome::TimedOut;
    } else {
      waitChanged().wait_until(lock, deadline);
    }
  }
}

// True when an APC ended the sleep early.
bool sleepUntilApc(detail::ThreadObject& self, DWORD milliseconds) {
  const auto deadline = Clock::now() + std::chrono::milliseconds(milliseconds);
  std::unique_lock lock(waitMutex);
  while (self.apcs.empty()) {
    if (milliseconds == INFINITE) {
      waitChanged().wait(lock);
    } else if (waitChanged().wait_until(lock, deadline) == std::cv_status::timeout) {
      return !self.apcs.empty();
    }
  }
  return true;
}

}  // namespace

HANDLE CreateEventA(LPSECURITY_ATTRIBUTES /*security*/, BOOL manualReset, BOOL initialState,
                    LPCSTR /*name*/) {
  return detail::InsertObject(std::make_shared<EventObject>(manualReset != 0, initialState != 0));
}

BOOL SetEvent(HANDLE event) {
  auto object = detail::LookupAs<EventObject>(event);
  if (object == nullptr) return failInvalidHandle();
  detail::UpdateWaitState([&] { object->set(true); });
  return TRUE;
}

BOOL ResetEvent(HANDLE event) {
  auto object = detail::LookupAs<EventObject>(event);
  if (object == nullptr) return failInvalidHandle();
  std::lock_guard lock(waitMutex);
  object->set(false);
  return TRUE;
}

HANDLE CreateMutexA(LPSECURITY_ATTRIBUTES /*security*/, BOOL initialOwner, LPCSTR /*name*/) {
  const DWORD owner = initialOwner != 0 ? GetCurrentThreadId() : 0;
  auto mutex = std::make_shared<MutexObject>(owner);
  {
    std::lock_guard lock(waitMutex);
    std::erase_if(allMutexes(), [](const auto& weak) { return weak.expired(); });
    allMutexes().push_back(mutex);
  }
  return detail::InsertObject(std::move(mutex));
}

BOOL ReleaseMutex(HANDLE mutex) {
  auto object = detail::LookupAs<MutexObject>(mutex);
  if (object == nullptr) return failInvalidHandle();
  const DWORD self = GetCurrentThreadId();
  bool released = false;
  detail::UpdateWaitState([&] { released = object->release(self); });
  if (!released) {
    SetLastError(ERROR_NOT_OWNER);
    return FALSE;
  }
  return TRUE;
}

DWORD WaitForSingleObject(HANDLE handle, DWORD milliseconds) {
  auto object = std::dynamic_pointer_cast<detail::WaitableObject>(resolveWaitTarget(handle));
  if (object == nullptr) {
    SetLastError(ERROR_INVALID_HANDLE);
    return WAIT_FAILED;
  }
  const auto self = detail::CurrentThreadState();
  switch (waitForObject(*object, *self, milliseconds)) {
    case WaitOutcome::Signaled:
      return WAIT_OBJECT_0;
    case WaitOutcome::Abandoned:
      return WAIT_ABANDONED;
    case WaitOutcome::TimedOut:
      return WAIT_TIMEOUT;
    case WaitOutcome::ApcQueued:
      break;
  }
  detail::RunQueuedApcs();
  return WAIT_IO_COMPLETION;
}

void Sleep(DWORD milliseconds) {
  if (milliseconds == 0) {
    if (!detail::RunQueuedApcs()) ::sched_yield();
    return;
  }
  if (sleepUntilApc(*detail::CurrentThreadState(), milliseconds)) detail::RunQueuedApcs();
}

// Every wait is alertable for now; the plain forms become non-alertable later.
DWORD WaitForSingleObjectEx(HANDLE object, DWORD milliseconds, BOOL /*alertable*/) {
  return WaitForSingleObject(object, milliseconds);
}

DWORD SleepEx(DWORD milliseconds, BOOL /*alertable*/) {
  Sleep(milliseconds);
  return 0;
}

DWORD QueueUserAPC(PAPCFUNC function, HANDLE thread, ULONG_PTR parameter) {
  auto target = resolveThread(thread);
  if (target == nullptr || function == nullptr) return failInvalidHandle();
  {
    std::lock_guard lock(waitMutex);
    if (target->finished) return failInvalidHandle();
    target->apcs.emplace_back(function, parameter);
    if (target->inAlertableRead) ::pthread_kill(target->native, apcSignal());
  }
  waitChanged().notify_all();
  return TRUE;
}

namespace detail {

void UpdateWaitState(const std::function<void()>& change) {
  {
    std::lock_guard lock(waitMutex);
    change();
  }
  waitChanged().notify_all();
}

std::unique_lock<std::mutex> LockWaitState() {
  return std::unique_lock(waitMutex);
}

void WakeWaiters() {
  waitChanged().notify_all();
}

void AwaitWaitStateChange(std::unique_lock<std::mutex>& lock) {
  waitChanged().wait(lock);
}

bool RunQueuedApcs() {
  const auto self = CurrentThreadState();
  bool ran = false;
  while (true) {
    std::pair<PAPCFUNC, ULONG_PTR> apc;
    {
      std::lock_guard lock(waitMutex);
      if (self->apcs.empty()) return ran;
      apc = self->apcs.front();
      self->apcs.pop_front();
    }
    ran = true;
    apc.first(apc.second);  // may throw: the lock is already released
  }
}

void WaitReadableAlertable(int fd) {
  installApcSignalHandler();
  const auto self = CurrentThreadState();
  ApcSignalBlocked blocked;
  while (true) {
    RunQueuedApcs();
    {
      std::lock_guard lock(waitMutex);
      if (!self->apcs.empty()) continue;
      self->inAlertableRead = true;
    }
    pollfd readable{fd, POLLIN, 0};
    const int ready = ::ppoll(&readable, 1, nullptr, blocked.waitMask());
    const int pollError = errno;
    {
      std::lock_guard lock(waitMutex);
      self->inAlertableRead = false;
    }
    if (ready >= 0 || pollError != EINTR) return;
  }
}

void ThreadEnded(ThreadObject& thread, DWORD exitCode) {
  UpdateWaitState([&] {
    thread.finished = true;
    thread.exitCode = exitCode;
    thread.apcs.clear();
    for (const auto& weak : allMutexes()) {
      if (auto mutex = weak.lock()) mutex->abandonIfOwnedBy(thread.id);
    }
  });
}

}  // namespace detail
}  // namespace win32
