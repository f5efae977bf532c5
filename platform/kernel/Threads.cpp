#include "platform/kernel/Threads.h"

#include <fenv.h>
#include <signal.h>
#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>

#include "platform/kernel/Errors.h"
#include "platform/kernel/Exceptions.h"

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
  // Foreign libraries expect every floating-point exception masked.
  ::fesetenv(FE_DFL_ENV);
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
  DWORD previous = 0;
  detail::UpdateWaitState([&] {
    previous = object->suspended ? 1 : 0;
    object->suspended = false;
  });
  return previous;
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
