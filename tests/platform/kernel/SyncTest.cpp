#include "platform/kernel/Sync.h"

#include <fcntl.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "platform/kernel/Errors.h"
#include "platform/kernel/Files.h"
#include "platform/kernel/Threads.h"

namespace {

using namespace win32;

// Runs a callable on a thread made by CreateThread; the callable's result is
// the thread's exit code.
template <class Body>
HANDLE startThread(Body* body) {
  return CreateThread(
      nullptr, 0, [](LPVOID argument) -> DWORD { return (*static_cast<Body*>(argument))(); }, body,
      0, nullptr);
}

DWORD waitForExitCode(HANDLE thread) {
  EXPECT_EQ(WaitForSingleObject(thread, INFINITE), WAIT_OBJECT_0);
  DWORD code = 0;
  EXPECT_TRUE(GetExitCodeThread(thread, &code));
  CloseHandle(thread);
  return code;
}

// True once the thread sits in a blocking ReadFile, where only the APC signal
// can reach it.
bool blockedInRead(HANDLE thread) {
  auto object = detail::LookupAs<detail::ThreadObject>(thread);
  auto lock = detail::LockWaitState();
  return object->inAlertableRead;
}

void waitUntilBlockedInRead(HANDLE thread) {
  while (!blockedInRead(thread)) Sleep(1);
}

struct Pipe {
  HANDLE read = nullptr;
  HANDLE write = nullptr;
  Pipe() {
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC) == 0) {
      read = detail::HandleForDescriptor(fds[0]);
      write = detail::HandleForDescriptor(fds[1]);
    }
  }
  ~Pipe() {
    CloseHandle(read);
    CloseHandle(write);
  }
};

struct ApcThrown : std::runtime_error {
  explicit ApcThrown(ULONG_PTR value) : std::runtime_error("apc"), value(value) {}
  ULONG_PTR value;
};

void throwFromApc(ULONG_PTR parameter) {
  throw ApcThrown(parameter);
}

std::atomic<int> apcCalls{0};
std::vector<ULONG_PTR>* apcOrder = nullptr;
void countApc(ULONG_PTR parameter) {
  ++apcCalls;
  if (apcOrder != nullptr) apcOrder->push_back(parameter);
}

TEST(SyncTest, AutoResetEventReleasesOneWaitThenResets) {
  HANDLE event = CreateEventA(nullptr, FALSE, TRUE, nullptr);
  EXPECT_EQ(WaitForSingleObject(event, 0), WAIT_OBJECT_0);
  EXPECT_EQ(WaitForSingleObject(event, 0), WAIT_TIMEOUT);
  EXPECT_TRUE(SetEvent(event));
  EXPECT_EQ(WaitForSingleObject(event, INFINITE), WAIT_OBJECT_0);
  EXPECT_EQ(WaitForSingleObject(event, 20), WAIT_TIMEOUT);
  CloseHandle(event);
}

TEST(SyncTest, ManualResetEventStaysSetUntilReset) {
  HANDLE event = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  EXPECT_EQ(WaitForSingleObject(event, 0), WAIT_TIMEOUT);
  SetEvent(event);
  EXPECT_EQ(WaitForSingleObject(event, 0), WAIT_OBJECT_0);
  EXPECT_EQ(WaitForSingleObject(event, 0), WAIT_OBJECT_0);
  EXPECT_TRUE(ResetEvent(event));
  EXPECT_EQ(WaitForSingleObject(event, 0), WAIT_TIMEOUT);
  CloseHandle(event);
}

TEST(SyncTest, EventWakesWaitersOnOtherThreads) {
  HANDLE event = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  auto waiter = [event]() -> DWORD {
    return WaitForSingleObject(event, INFINITE) == WAIT_OBJECT_0 ? 1 : 0;
  };
  HANDLE first = startThread(&waiter);
  HANDLE second = startThread(&waiter);
  EXPECT_EQ(WaitForSingleObject(first, 20), WAIT_TIMEOUT);
  SetEvent(event);
  EXPECT_EQ(waitForExitCode(first), 1u);
  EXPECT_EQ(waitForExitCode(second), 1u);
  CloseHandle(event);
}

TEST(SyncTest, AutoResetEventHandsEachSetToOneWaiter) {
  HANDLE event = CreateEventA(nullptr, FALSE, FALSE, nullptr);
  HANDLE done = CreateEventA(nullptr, FALSE, FALSE, nullptr);
  std::atomic<int> woken{0};
  auto waiter = [&]() -> DWORD {
    WaitForSingleObject(event, INFINITE);
    ++woken;
    SetEvent(done);
    return 0;
  };
  HANDLE first = startThread(&waiter);
  HANDLE second = startThread(&waiter);
  SetEvent(event);
  WaitForSingleObject(done, INFINITE);
  EXPECT_EQ(woken.load(), 1);
  SetEvent(event);
  waitForExitCode(first);
  waitForExitCode(second);
  EXPECT_EQ(woken.load(), 2);
  CloseHandle(event);
  CloseHandle(done);
}

TEST(SyncTest, MutexOwnershipIsRecursive) {
  HANDLE mutex = CreateMutexA(nullptr, TRUE, nullptr);
  EXPECT_EQ(WaitForSingleObject(mutex, 0), WAIT_OBJECT_0);
  EXPECT_EQ(WaitForSingleObject(mutex, INFINITE), WAIT_OBJECT_0);
  EXPECT_TRUE(ReleaseMutex(mutex));
  EXPECT_TRUE(ReleaseMutex(mutex));
  EXPECT_TRUE(ReleaseMutex(mutex));
  EXPECT_FALSE(ReleaseMutex(mutex));
  EXPECT_EQ(GetLastError(), ERROR_NOT_OWNER);
  CloseHandle(mutex);
}

TEST(SyncTest, MutexIsReleasedByItsOwnerOnly) {
  HANDLE mutex = CreateMutexA(nullptr, FALSE, nullptr);
  ASSERT_EQ(WaitForSingleObject(mutex, INFINITE), WAIT_OBJECT_0);
  auto other = [mutex]() -> DWORD {
    const DWORD whileOwned = WaitForSingleObject(mutex, 0);
    const BOOL released = ReleaseMutex(mutex);
    const DWORD error = GetLastError();
    return whileOwned == WAIT_TIMEOUT && !released && error == ERROR_NOT_OWNER ? 1 : 0;
  };
  EXPECT_EQ(waitForExitCode(startThread(&other)), 1u);

  auto taker = [mutex]() -> DWORD {
    if (WaitForSingleObject(mutex, INFINITE) != WAIT_OBJECT_0) return 0;
    return ReleaseMutex(mutex) ? 1 : 0;
  };
  HANDLE thread = startThread(&taker);
  EXPECT_EQ(WaitForSingleObject(thread, 20), WAIT_TIMEOUT);
  EXPECT_TRUE(ReleaseMutex(mutex));
  EXPECT_EQ(waitForExitCode(thread), 1u);
  CloseHandle(mutex);
}

TEST(SyncTest, MutexOfAnEndedOwnerIsAbandoned) {
  HANDLE mutex = CreateMutexA(nullptr, FALSE, nullptr);
  auto owner = [mutex]() -> DWORD { return WaitForSingleObject(mutex, INFINITE); };
  EXPECT_EQ(waitForExitCode(startThread(&owner)), WAIT_OBJECT_0);
  EXPECT_EQ(WaitForSingleObject(mutex, INFINITE), WAIT_ABANDONED);
  EXPECT_TRUE(ReleaseMutex(mutex));
  EXPECT_EQ(WaitForSingleObject(mutex, 0), WAIT_OBJECT_0);
  EXPECT_TRUE(ReleaseMutex(mutex));
  CloseHandle(mutex);
}

TEST(SyncTest, WaitingOnBadHandlesFails) {
  EXPECT_EQ(WaitForSingleObject(reinterpret_cast<HANDLE>(4000004), 0), WAIT_FAILED);
  EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
  Pipe pipe;  // a file cannot be waited on
  EXPECT_EQ(WaitForSingleObject(pipe.read, 0), WAIT_FAILED);
  EXPECT_FALSE(SetEvent(pipe.read));
  EXPECT_FALSE(ReleaseMutex(pipe.read));
  EXPECT_EQ(WaitForSingleObject(GetCurrentThread(), 10), WAIT_TIMEOUT);
}

TEST(SyncTest, ApcInterruptsSleep) {
  HANDLE started = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  auto sleeper = [&]() -> DWORD {
    SetEvent(started);
    const int before = apcCalls.load();
    Sleep(INFINITE);
    return apcCalls.load() == before + 1 ? 1 : 0;
  };
  HANDLE thread = startThread(&sleeper);
  WaitForSingleObject(started, INFINITE);
  EXPECT_NE(QueueUserAPC(&countApc, thread, 0), 0u);
  EXPECT_EQ(waitForExitCode(thread), 1u);
  CloseHandle(started);
}

TEST(SyncTest, ApcInterruptsAWaitWhichReturnsIoCompletion) {
  HANDLE never = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  auto waiter = [never]() -> DWORD { return WaitForSingleObject(never, INFINITE); };
  HANDLE thread = startThread(&waiter);
  const int before = apcCalls.load();
  QueueUserAPC(&countApc, thread, 0);
  EXPECT_EQ(waitForExitCode(thread), WAIT_IO_COMPLETION);
  EXPECT_EQ(apcCalls.load(), before + 1);
  CloseHandle(never);
}

TEST(SyncTest, ApcInterruptsABlockingPipeReadWhichThenGoesOn) {
  Pipe pipe;
  HANDLE apcRan = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  std::string got;
  auto reader = [&]() -> DWORD {
    char buffer[16];
    DWORD count = 0;
    if (!ReadFile(pipe.read, buffer, sizeof buffer, &count, nullptr)) return 0;
    got.assign(buffer, count);
    return 1;
  };
  HANDLE thread = startThread(&reader);
  waitUntilBlockedInRead(thread);
  QueueUserAPC([](ULONG_PTR event) { SetEvent(reinterpret_cast<HANDLE>(event)); }, thread,
               reinterpret_cast<ULONG_PTR>(apcRan));
  // The APC runs while nothing has been written yet: the read was interrupted.
  ASSERT_EQ(WaitForSingleObject(apcRan, INFINITE), WAIT_OBJECT_0);
  DWORD written = 0;
  WriteFile(pipe.write, "data", 4, &written, nullptr);
  EXPECT_EQ(waitForExitCode(thread), 1u);
  EXPECT_EQ(got, "data");
  CloseHandle(apcRan);
}

TEST(SyncTest, ThrowingApcLeavesABlockingReadAndTheCallerCatchesIt) {
  Pipe pipe;
  auto reader = [&]() -> DWORD {
    try {
      char buffer[4];
      DWORD count = 0;
      ReadFile(pipe.read, buffer, sizeof buffer, &count, nullptr);
    } catch (const ApcThrown& thrown) {
      return static_cast<DWORD>(thrown.value);
    }
    return 0;
  };
  HANDLE thread = startThread(&reader);
  waitUntilBlockedInRead(thread);
  QueueUserAPC(&throwFromApc, thread, 21);
  EXPECT_EQ(waitForExitCode(thread), 21u);
}

TEST(SyncTest, ThrowingApcLeavesSleepAndWaitOnTheCallingThread) {
  QueueUserAPC(&throwFromApc, GetCurrentThread(), 1);
  EXPECT_THROW(Sleep(INFINITE), ApcThrown);

  HANDLE never = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  QueueUserAPC(&throwFromApc, GetCurrentThread(), 2);
  EXPECT_THROW(WaitForSingleObject(never, INFINITE), ApcThrown);

  // Nothing is left locked: waits and events work as before.
  SetEvent(never);
  EXPECT_EQ(WaitForSingleObject(never, INFINITE), WAIT_OBJECT_0);
  CloseHandle(never);
}

TEST(SyncTest, ApcsRunInOrderAndThoseAfterAThrowStayQueued) {
  std::vector<ULONG_PTR> order;
  apcOrder = &order;
  QueueUserAPC(&countApc, GetCurrentThread(), 1);
  QueueUserAPC(&throwFromApc, GetCurrentThread(), 2);
  QueueUserAPC(&countApc, GetCurrentThread(), 3);
  EXPECT_THROW(Sleep(0), ApcThrown);
  EXPECT_EQ(order, (std::vector<ULONG_PTR>{1}));
  Sleep(0);
  EXPECT_EQ(order, (std::vector<ULONG_PTR>{1, 3}));
  apcOrder = nullptr;
}

TEST(SyncTest, ApcQueuedToADuplicatedHandleOfTheMainThread) {
  HANDLE self = nullptr;
  ASSERT_TRUE(DuplicateHandle(GetCurrentProcess(), GetCurrentThread(), GetCurrentProcess(), &self,
                              0, FALSE, DUPLICATE_SAME_ACCESS));
  std::thread other([self] { QueueUserAPC(&throwFromApc, self, 21); });
  other.join();
  try {
    Sleep(INFINITE);
    FAIL() << "Sleep returned without the APC";
  } catch (const ApcThrown& thrown) {
    EXPECT_EQ(thrown.value, 21u);
  }
  CloseHandle(self);
}

// What the console host's input buffer looks like to the kernel: an object
// that can be waited on (records waiting) and read.
class RecordBuffer : public detail::WaitableObject, public detail::StreamObject {
 public:
  detail::ObjectKind kind() const override { return detail::ObjectKind::ConsoleInput; }
  bool tryAcquire(DWORD, bool&) override { return !bytes_.empty(); }
  BOOL read(LPVOID buffer, DWORD toRead, LPDWORD read) override {
    auto lock = detail::LockWaitState();
    const DWORD count = std::min<DWORD>(toRead, static_cast<DWORD>(bytes_.size()));
    bytes_.copy(static_cast<char*>(buffer), count);
    bytes_.erase(0, count);
    *read = count;
    return TRUE;
  }
  BOOL write(LPCVOID buffer, DWORD toWrite, LPDWORD written) override {
    detail::UpdateWaitState([&] { bytes_.append(static_cast<const char*>(buffer), toWrite); });
    *written = toWrite;
    return TRUE;
  }

 private:
  std::string bytes_;
};

TEST(SyncTest, AnObjectCanBeWaitableAndAStreamAtOnce) {
  HANDLE buffer = detail::InsertObject(std::make_shared<RecordBuffer>());
  EXPECT_EQ(WaitForSingleObject(buffer, 0), WAIT_TIMEOUT);
  auto waiter = [buffer]() -> DWORD { return WaitForSingleObject(buffer, INFINITE); };
  HANDLE thread = startThread(&waiter);
  DWORD count = 0;
  ASSERT_TRUE(WriteFile(buffer, "key", 3, &count, nullptr));
  EXPECT_EQ(waitForExitCode(thread), WAIT_OBJECT_0);
  char text[8];
  ASSERT_TRUE(ReadFile(buffer, text, sizeof text, &count, nullptr));
  EXPECT_EQ(std::string(text, count), "key");
  EXPECT_EQ(WaitForSingleObject(buffer, 0), WAIT_TIMEOUT);
  EXPECT_EQ(GetFileType(buffer), FILE_TYPE_CHAR);
  EXPECT_FALSE(FlushFileBuffers(buffer));
  EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
  CloseHandle(buffer);
}

TEST(SyncTest, QueueUserApcToAnEndedThreadFails) {
  auto nothing = []() -> DWORD { return 0; };
  HANDLE thread = startThread(&nothing);
  WaitForSingleObject(thread, INFINITE);
  EXPECT_EQ(QueueUserAPC(&countApc, thread, 0), 0u);
  EXPECT_EQ(QueueUserAPC(&countApc, reinterpret_cast<HANDLE>(4000004), 0), 0u);
  CloseHandle(thread);
}

}  // namespace
