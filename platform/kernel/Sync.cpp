#include "platform/kernel/SyncInternal.h"

#include <linux/membarrier.h>
#include <sys/mman.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <condition_variable>
#include <vector>

#include "platform/kernel/ErrorsInternal.h"
#include "platform/kernel/ThreadsInternal.h"

namespace win32 {
namespace {

// One lock and one condition guard every waitable object: waits are few and
// short here, and a single lock makes "check the object, then sleep" atomic
// against every SetEvent, ReleaseMutex, thread end and queued APC (Waits.cpp
// waits through the detail functions below).
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
  bool signaledFor(DWORD) override { return signaled_; }
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

  bool signaledFor(DWORD threadId) override { return owner_ == 0 || owner_ == threadId; }
  bool tryAcquire(DWORD threadId, bool& abandoned) override {
    if (!signaledFor(threadId)) return false;
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

int membarrier(int command) {
  return static_cast<int>(::syscall(SYS_membarrier, command, 0, 0));
}

// Interrupts every processor that runs a thread of the process, and an
// interrupt orders all that processor's memory accesses before it.
bool barrierOnEveryProcessor() {
  static const bool registered = membarrier(MEMBARRIER_CMD_REGISTER_PRIVATE_EXPEDITED) == 0;
  return registered && membarrier(MEMBARRIER_CMD_PRIVATE_EXPEDITED) == 0;
}

// Without membarrier (an old kernel, a filter that refuses it): taking
// write access away from a page the process has written makes the kernel
// interrupt every processor that may hold the page's translation, which is
// every one running a thread of the process.
void barrierByProtectionChange() {
  static std::mutex mutex;
  static void* const page =
      ::mmap(nullptr, 4096, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  std::lock_guard lock(mutex);
  if (page == MAP_FAILED) return;
  ::mprotect(page, 4096, PROT_READ | PROT_WRITE);
  *static_cast<volatile char*>(page) = 1;
  ::mprotect(page, 4096, PROT_READ);
}

BOOL failInvalidHandle() {
  SetLastError(ERROR_INVALID_HANDLE);
  return FALSE;
}

}  // namespace

HANDLE CreateEventA(LPSECURITY_ATTRIBUTES /*security*/, BOOL manualReset, BOOL initialState,
                    LPCSTR /*name*/) {
  HANDLE event =
      detail::InsertObject(std::make_shared<EventObject>(manualReset != 0, initialState != 0));
  if (event == nullptr) return nullptr;
  SetLastError(ERROR_SUCCESS);  // callers tell a new object by the code, as on Windows
  return event;
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
  HANDLE handle = detail::InsertObject(std::move(mutex));
  if (handle == nullptr) return nullptr;
  SetLastError(ERROR_SUCCESS);
  return handle;
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

void FlushProcessWriteBuffers() {
  if (!barrierOnEveryProcessor()) barrierByProtectionChange();
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

bool AwaitWaitStateChangeUntil(std::unique_lock<std::mutex>& lock,
                               std::chrono::steady_clock::time_point deadline) {
  return waitChanged().wait_until(lock, deadline) == std::cv_status::no_timeout;
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
