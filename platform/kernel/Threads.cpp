#include "platform/kernel/ThreadsInternal.h"

#include <fenv.h>
#include <linux/futex.h>
#include <signal.h>
#include <sys/mman.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <mutex>

#include "platform/kernel/ErrorsInternal.h"
#include "platform/kernel/ExceptionsInternal.h"

namespace win32 {
namespace {

// Ends the thread's object when the thread ends, for threads that CreateThread
// did not start too (their exit code is 0).
struct CurrentThreadHolder {
  std::shared_ptr<detail::ThreadObject> object;
  ~CurrentThreadHolder() {
    if (object == nullptr) return;
    bool finished = false;
    {
      auto lock = detail::LockWaitState();
      finished = object->finished;
    }
    if (!finished) detail::ThreadEnded(*object, 0);
  }
};

thread_local CurrentThreadHolder currentThread;

struct StartRecord {
  std::shared_ptr<detail::ThreadObject> object;
  LPTHREAD_START_ROUTINE start;
  LPVOID parameter;
};

DWORD currentThreadId() {
  return static_cast<DWORD>(::gettid());
}

// Publishes the new thread's id to CreateThread and holds a suspended thread
// until ResumeThread.
void announceAndAwaitResume(detail::ThreadObject& object) {
  auto lock = detail::LockWaitState();
  object.native = ::pthread_self();
  object.id = currentThreadId();
  detail::WakeWaiters();
  while (object.suspended) detail::AwaitWaitStateChange(lock);
}

void* threadEntry(void* argument) {
  std::unique_ptr<StartRecord> record(static_cast<StartRecord*>(argument));
  // Foreign libraries expect every floating-point exception masked. The x87
  // unit starts as Windows x64 starts a thread's: double precision (027F).
  ::fesetenv(FE_DFL_ENV);
  const std::uint16_t x87Control = 0x027F;
  asm volatile("fldcw %0" : : "m"(x87Control));
  detail::AlternateSignalStack signalStack;
  currentThread.object = record->object;
  announceAndAwaitResume(*record->object);
  const DWORD exitCode = record->start(record->parameter);
  detail::ThreadEnded(*record->object, exitCode);
  return nullptr;
}

SIZE_T defaultStackSize() {
  pthread_attr_t attributes;
  ::pthread_attr_init(&attributes);
  SIZE_T size = 0;
  ::pthread_attr_getstacksize(&attributes, &size);
  ::pthread_attr_destroy(&attributes);
  return size;
}

bool startThread(StartRecord* record, SIZE_T stackSize) {
  pthread_attr_t attributes;
  ::pthread_attr_init(&attributes);
  ::pthread_attr_setdetachstate(&attributes, PTHREAD_CREATE_DETACHED);
  ::pthread_attr_setstacksize(&attributes, std::max(stackSize, defaultStackSize()));
  pthread_t native{};
  const int error = ::pthread_create(&native, &attributes, &threadEntry, record);
  ::pthread_attr_destroy(&attributes);
  if (error != 0) {
    detail::SetLastErrorFromErrno(error);
    return false;
  }
  return true;  // the record is the thread's now; it may already be gone
}

// ---- holding a running thread ----

constexpr auto kHoldLimit = std::chrono::seconds(1);

int holdSignal() {
  return SIGRTMIN + 3;
}

int* futexWord(std::atomic<int>& word) {
  return reinterpret_cast<int*>(&word);
}

void futexWake(std::atomic<int>& word) {
  ::syscall(SYS_futex, futexWord(word), FUTEX_WAKE_PRIVATE, INT32_MAX, nullptr, nullptr, 0);
}

// Sleeps while the word holds `value`, at most until the timeout (none: no limit).
void futexWait(std::atomic<int>& word, int value, const timespec* timeout) {
  ::syscall(SYS_futex, futexWord(word), FUTEX_WAIT_PRIVATE, value, timeout, nullptr, 0);
}

// Runs on the held thread, on its alternate stack where it has one. Only
// async-signal-safe steps: atomics and futex calls.
void holdHandler(int, siginfo_t* info, void* context) {
  auto* thread = static_cast<detail::ThreadObject*>(info->si_value.sival_ptr);
  if (thread == nullptr) return;
  const int savedErrno = errno;
  thread->parkedContext.store(context);
  thread->parked.store(1);
  futexWake(thread->parked);
  for (int count = thread->holdCount.load(); count > 0; count = thread->holdCount.load()) {
    futexWait(thread->holdCount, count, nullptr);
  }
  thread->parkedContext.store(nullptr);
  thread->parked.store(0);
  futexWake(thread->parked);
  errno = savedErrno;
}

void installHoldHandler() {
  static std::once_flag installed;
  std::call_once(installed, [] {
    struct sigaction action {};
    action.sa_sigaction = &holdHandler;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_SIGINFO | SA_ONSTACK | SA_RESTART;
    ::sigaction(holdSignal(), &action, nullptr);
  });
}

// Waits, within the hold limit, until the thread's parked word is `state`.
bool awaitParked(detail::ThreadObject& thread, int state) {
  const auto deadline = std::chrono::steady_clock::now() + kHoldLimit;
  for (int now = thread.parked.load(); now != state; now = thread.parked.load()) {
    const auto left = deadline - std::chrono::steady_clock::now();
    if (left <= std::chrono::steady_clock::duration::zero()) return false;
    const auto ns = std::chrono::duration_cast<std::chrono::nanoseconds>(left).count();
    const timespec timeout{static_cast<time_t>(ns / 1000000000),
                           static_cast<long>(ns % 1000000000)};
    futexWait(thread.parked, now, &timeout);
  }
  return true;
}

void releaseHold(detail::ThreadObject& thread) {
  thread.holdCount.fetch_sub(1);
  futexWake(thread.holdCount);
}

std::shared_ptr<detail::ThreadObject> heldThread(HANDLE handle) {
  auto object = detail::LookupAs<detail::ThreadObject>(handle);
  if (object == nullptr || object->holdCount.load() == 0 || object->parked.load() == 0) {
    SetLastError(ERROR_INVALID_HANDLE);
    return nullptr;
  }
  return object;
}

}  // namespace

HANDLE CreateThread(LPSECURITY_ATTRIBUTES /*security*/, SIZE_T stackSize,
                    LPTHREAD_START_ROUTINE start, LPVOID parameter, DWORD flags, LPDWORD threadId) {
  if (start == nullptr) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  auto object = std::make_shared<detail::ThreadObject>();
  object->suspended = (flags & CREATE_SUSPENDED) != 0;
  auto record = std::make_unique<StartRecord>(StartRecord{object, start, parameter});
  if (!startThread(record.get(), stackSize)) return nullptr;
  record.release();  // the thread owns it now
  {
    auto lock = detail::LockWaitState();
    while (object->id == 0) detail::AwaitWaitStateChange(lock);
  }
  if (threadId != nullptr) *threadId = object->id;
  return detail::InsertObject(std::move(object));
}

HANDLE GetCurrentThread() {
  return reinterpret_cast<HANDLE>(static_cast<LONG_PTR>(-2));
}

DWORD GetCurrentThreadId() {
  return currentThreadId();
}

BOOL GetExitCodeThread(HANDLE thread, LPDWORD exitCode) {
  auto object = thread == GetCurrentThread() ? detail::CurrentThreadState()
                                             : detail::LookupAs<detail::ThreadObject>(thread);
  if (object == nullptr || exitCode == nullptr) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  auto lock = detail::LockWaitState();
  *exitCode = object->exitCode;
  return TRUE;
}

DWORD ResumeThread(HANDLE thread) {
  auto object = detail::LookupAs<detail::ThreadObject>(thread);
  if (object == nullptr) return static_cast<DWORD>(-1);
  if (const int held = object->holdCount.load(); held > 0) {
    releaseHold(*object);
    // Gone from its hold before a new SuspendThread can take it again.
    if (held == 1) awaitParked(*object, 0);
    return static_cast<DWORD>(held);
  }
  DWORD previous = 0;
  detail::UpdateWaitState([&] {
    previous = object->suspended ? 1 : 0;
    object->suspended = false;
  });
  return previous;
}

DWORD SuspendThread(HANDLE thread) {
#if defined(__SANITIZE_THREAD__)
  // ThreadSanitizer delays asynchronous signals and hands their handlers a
  // context of its own: a thread can be neither held nor redirected.
  (void)thread;
  SetLastError(ERROR_NOT_SUPPORTED);
  return static_cast<DWORD>(-1);
#endif
  auto object = detail::LookupAs<detail::ThreadObject>(thread);
  if (object == nullptr || object->id == currentThreadId()) {
    SetLastError(ERROR_INVALID_HANDLE);
    return static_cast<DWORD>(-1);
  }
  installHoldHandler();
  const int previous = object->holdCount.fetch_add(1);
  bool held = true;
  if (previous == 0) {
    sigval value{};
    value.sival_ptr = object.get();
    held = ::pthread_sigqueue(object->native, holdSignal(), value) == 0;
  }
  if (!held || !awaitParked(*object, 1)) {
    releaseHold(*object);
    SetLastError(ERROR_INVALID_HANDLE);
    return static_cast<DWORD>(-1);
  }
  return static_cast<DWORD>(previous);
}

BOOL GetThreadContext(HANDLE thread, CONTEXT* context) {
  auto object = heldThread(thread);
  if (object == nullptr || context == nullptr) return FALSE;
  detail::ContextFromSignal(*context, object->parkedContext.load());
  return TRUE;
}

BOOL SetThreadContext(HANDLE thread, const CONTEXT* context) {
  auto object = heldThread(thread);
  if (object == nullptr || context == nullptr) return FALSE;
  detail::ContextToSignal(*context, object->parkedContext.load());
  return TRUE;
}

namespace detail {

std::shared_ptr<ThreadObject> CurrentThreadState() {
  if (currentThread.object == nullptr) {
    auto object = std::make_shared<ThreadObject>();
    object->native = ::pthread_self();
    object->id = currentThreadId();
    currentThread.object = std::move(object);
  }
  return currentThread.object;
}

KernelObjectPtr CurrentThreadObject() {
  return CurrentThreadState();
}

}  // namespace detail
}  // namespace win32
