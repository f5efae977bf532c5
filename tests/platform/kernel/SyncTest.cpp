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
#include "platform/kernel/FilesInternal.h"
#include "platform/kernel/HandlesInternal.h"
#include "platform/kernel/SyncInternal.h"

namespace {

using namespace win32;

// Runs a callable on a thread made by CreateThread; the callable's result is
// the thread's exit code.
template <class Body>
HANDLE startThread(Body* body) {
  return CreateThread(
      nullptr, 0, [](LPVOID argument) WINAPI -> DWORD { return (*static_cast<Body*>(argument))(); },
      body, 0, nullptr);
}

DWORD waitForExitCode(HANDLE thread) {
  EXPECT_EQ(WaitForSingleObject(thread, INFINITE), WAIT_OBJECT_0);
  DWORD code = 0;
  EXPECT_TRUE(GetExitCodeThread(thread, &code));
  CloseHandle(thread);
  return code;
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

void WINAPI throwFromApc(ULONG_PTR parameter) {
  throw ApcThrown(parameter);
}

std::atomic<int> apcCalls{0};
std::vector<ULONG_PTR>* apcOrder = nullptr;
void WINAPI countApc(ULONG_PTR parameter) {
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

TEST(SyncTest, ApcInterruptsAnAlertableSleep) {
  HANDLE started = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  auto sleeper = [&]() -> DWORD {
    SetEvent(started);
    const int before = apcCalls.load();
    if (SleepEx(INFINITE, TRUE) != WAIT_IO_COMPLETION) return 0;
    return apcCalls.load() == before + 1 ? 1 : 0;
  };
  HANDLE thread = startThread(&sleeper);
  WaitForSingleObject(started, INFINITE);
  EXPECT_NE(QueueUserAPC(&countApc, thread, 0), 0u);
  EXPECT_EQ(waitForExitCode(thread), 1u);
  CloseHandle(started);
}

TEST(SyncTest, ApcInterruptsAnAlertableWaitWhichReturnsIoCompletion) {
  HANDLE never = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  auto waiter = [never]() -> DWORD { return WaitForSingleObjectEx(never, INFINITE, TRUE); };
  HANDLE thread = startThread(&waiter);
  const int before = apcCalls.load();
  QueueUserAPC(&countApc, thread, 0);
  EXPECT_EQ(waitForExitCode(thread), WAIT_IO_COMPLETION);
  EXPECT_EQ(apcCalls.load(), before + 1);
  CloseHandle(never);
}

// A blocking ReadFile is no alertable wait: an APC queued meanwhile neither
// interrupts it nor runs inside it, and waits for the thread's next alertable
// wait. Whether the APC comes before or during the read, the outcome is the
// same.
TEST(SyncTest, ApcQueuedDuringABlockingReadRunsAtTheNextAlertableWait) {
  Pipe pipe;
  HANDLE reading = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  std::string got;
  int apcsAfterRead = -1;
  DWORD sleepResult = 0;
  const int before = apcCalls.load();
  auto reader = [&]() -> DWORD {
    char buffer[16];
    DWORD count = 0;
    SetEvent(reading);
    if (!ReadFile(pipe.read, buffer, sizeof buffer, &count, nullptr)) return 0;
    got.assign(buffer, count);
    apcsAfterRead = apcCalls.load() - before;
    sleepResult = SleepEx(0, TRUE);
    return 1;
  };
  HANDLE thread = startThread(&reader);
  WaitForSingleObject(reading, INFINITE);
  ASSERT_TRUE(QueueUserAPC(&countApc, thread, 0));
  DWORD written = 0;
  WriteFile(pipe.write, "data", 4, &written, nullptr);
  EXPECT_EQ(waitForExitCode(thread), 1u);
  EXPECT_EQ(got, "data");
  EXPECT_EQ(apcsAfterRead, 0);
  EXPECT_EQ(sleepResult, WAIT_IO_COMPLETION);
  EXPECT_EQ(apcCalls.load(), before + 1);
  CloseHandle(reading);
}

TEST(SyncTest, ThrowingApcLeavesAnAlertableWaitOnAnotherThreadWhichCatchesIt) {
  HANDLE never = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  auto waiter = [&]() -> DWORD {
    try {
      WaitForSingleObjectEx(never, INFINITE, TRUE);
    } catch (const ApcThrown& thrown) {
      return static_cast<DWORD>(thrown.value);
    }
    return 0;
  };
  HANDLE thread = startThread(&waiter);
  QueueUserAPC(&throwFromApc, thread, 21);
  EXPECT_EQ(waitForExitCode(thread), 21u);
  CloseHandle(never);
}

TEST(SyncTest, ThrowingApcLeavesSleepAndWaitOnTheCallingThread) {
  QueueUserAPC(&throwFromApc, GetCurrentThread(), 1);
  EXPECT_THROW(SleepEx(INFINITE, TRUE), ApcThrown);

  HANDLE never = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  QueueUserAPC(&throwFromApc, GetCurrentThread(), 2);
  EXPECT_THROW(WaitForSingleObjectEx(never, INFINITE, TRUE), ApcThrown);

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
  EXPECT_THROW(SleepEx(0, TRUE), ApcThrown);
  EXPECT_EQ(order, (std::vector<ULONG_PTR>{1}));
  EXPECT_EQ(SleepEx(0, TRUE), WAIT_IO_COMPLETION);
  EXPECT_EQ(order, (std::vector<ULONG_PTR>{1, 3}));
  EXPECT_EQ(SleepEx(0, TRUE), 0u);  // nothing left
  apcOrder = nullptr;
}

TEST(SyncTest, ApcQueuedToADuplicatedHandleOfTheMainThread) {
  HANDLE self = nullptr;
  ASSERT_TRUE(DuplicateHandle(GetCurrentProcess(), GetCurrentThread(), GetCurrentProcess(), &self,
                              0, FALSE, DUPLICATE_SAME_ACCESS));
  std::thread other([self] { QueueUserAPC(&throwFromApc, self, 21); });
  other.join();
  try {
    SleepEx(INFINITE, TRUE);
    FAIL() << "SleepEx returned without the APC";
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

// ---- Which waits run APCs ----------------------------------------------------

// Objects for one row: `set` signalled (auto-reset), `unset` never signalled.
struct WaitObjects {
  HANDLE set = CreateEventA(nullptr, FALSE, TRUE, nullptr);
  HANDLE unset = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  WaitObjects() = default;
  WaitObjects(const WaitObjects&) = delete;
  WaitObjects& operator=(const WaitObjects&) = delete;
  ~WaitObjects() {
    CloseHandle(set);
    CloseHandle(unset);
  }
};

struct WaitRow {
  const char* name;
  DWORD (*call)(WaitObjects& objects);
  DWORD expected;
};

std::ostream& operator<<(std::ostream& out, const WaitRow& row) {
  return out << row.name;
}

// With an APC queued for the calling thread, the plain forms and the Ex forms
// with alertable FALSE finish as they would without it and leave it queued.
const WaitRow kNonAlertableWaits[] = {
    {"WaitForSingleObject on a set event",
     [](WaitObjects& o) { return WaitForSingleObject(o.set, INFINITE); }, WAIT_OBJECT_0},
    {"WaitForSingleObject timing out",
     [](WaitObjects& o) { return WaitForSingleObject(o.unset, 1); }, WAIT_TIMEOUT},
    {"WaitForSingleObjectEx not alertable",
     [](WaitObjects& o) { return WaitForSingleObjectEx(o.unset, 0, FALSE); }, WAIT_TIMEOUT},
    {"WaitForMultipleObjects for any",
     [](WaitObjects& o) {
       HANDLE both[] = {o.unset, o.set};
       return WaitForMultipleObjects(2, both, FALSE, INFINITE);
     },
     WAIT_OBJECT_0 + 1},
    {"WaitForMultipleObjectsEx for all, not alertable",
     [](WaitObjects& o) {
       HANDLE both[] = {o.set, o.unset};
       return WaitForMultipleObjectsEx(2, both, TRUE, 1, FALSE);
     },
     WAIT_TIMEOUT},
    {"Sleep(0)",
     [](WaitObjects&) {
       Sleep(0);
       return DWORD{0};
     },
     0},
    {"Sleep(1)",
     [](WaitObjects&) {
       Sleep(1);
       return DWORD{0};
     },
     0},
    {"SleepEx not alertable", [](WaitObjects&) { return SleepEx(1, FALSE); }, 0},
};

// With an APC queued, the alertable forms run it and return
// WAIT_IO_COMPLETION, however long they were asked to wait.
const WaitRow kAlertableWaits[] = {
    {"WaitForSingleObjectEx, no time-out",
     [](WaitObjects& o) { return WaitForSingleObjectEx(o.unset, INFINITE, TRUE); },
     WAIT_IO_COMPLETION},
    {"WaitForSingleObjectEx, time-out 0",
     [](WaitObjects& o) { return WaitForSingleObjectEx(o.unset, 0, TRUE); }, WAIT_IO_COMPLETION},
    {"WaitForMultipleObjectsEx for any",
     [](WaitObjects& o) {
       HANDLE one[] = {o.unset};
       return WaitForMultipleObjectsEx(1, one, FALSE, INFINITE, TRUE);
     },
     WAIT_IO_COMPLETION},
    {"WaitForMultipleObjectsEx for all, one set",
     [](WaitObjects& o) {
       HANDLE both[] = {o.set, o.unset};
       return WaitForMultipleObjectsEx(2, both, TRUE, INFINITE, TRUE);
     },
     WAIT_IO_COMPLETION},
    {"SleepEx, no time-out", [](WaitObjects&) { return SleepEx(INFINITE, TRUE); },
     WAIT_IO_COMPLETION},
    {"SleepEx(0)", [](WaitObjects&) { return SleepEx(0, TRUE); }, WAIT_IO_COMPLETION},
};

class NonAlertableWait : public testing::TestWithParam<WaitRow> {};

TEST_P(NonAlertableWait, FinishesWithoutRunningAQueuedApc) {
  WaitObjects objects;
  const int before = apcCalls.load();
  ASSERT_TRUE(QueueUserAPC(&countApc, GetCurrentThread(), 0));
  EXPECT_EQ(GetParam().call(objects), GetParam().expected);
  EXPECT_EQ(apcCalls.load(), before);
  EXPECT_EQ(SleepEx(0, TRUE), WAIT_IO_COMPLETION);  // still queued
  EXPECT_EQ(apcCalls.load(), before + 1);
}

INSTANTIATE_TEST_SUITE_P(SyncTest, NonAlertableWait, testing::ValuesIn(kNonAlertableWaits));

class AlertableWait : public testing::TestWithParam<WaitRow> {};

TEST_P(AlertableWait, RunsTheQueuedApcAndReturnsIoCompletion) {
  WaitObjects objects;
  const int before = apcCalls.load();
  ASSERT_TRUE(QueueUserAPC(&countApc, GetCurrentThread(), 0));
  EXPECT_EQ(GetParam().call(objects), GetParam().expected);
  EXPECT_EQ(apcCalls.load(), before + 1);
  EXPECT_EQ(WaitForSingleObject(objects.set, 0), WAIT_OBJECT_0);  // the wait took nothing
}

INSTANTIATE_TEST_SUITE_P(SyncTest, AlertableWait, testing::ValuesIn(kAlertableWaits));

TEST(SyncTest, AnAlertableSleepRunsEveryQueuedApcOldestFirst) {
  std::vector<ULONG_PTR> order;
  apcOrder = &order;
  QueueUserAPC(&countApc, GetCurrentThread(), 1);
  QueueUserAPC(&countApc, GetCurrentThread(), 2);
  EXPECT_EQ(SleepEx(INFINITE, TRUE), WAIT_IO_COMPLETION);
  EXPECT_EQ(order, (std::vector<ULONG_PTR>{1, 2}));
  apcOrder = nullptr;
  EXPECT_EQ(SleepEx(1, TRUE), 0u);  // the time passed without an APC
}

// The wait an APC makes for a lock takes the lock; the next APC runs after the
// first has finished, not inside its wait.
HANDLE apcLock = nullptr;
std::vector<std::string>* apcSteps = nullptr;

void WINAPI lockingApc(ULONG_PTR) {
  apcSteps->push_back("lock " + std::to_string(WaitForSingleObject(apcLock, INFINITE)));
  apcSteps->push_back(ReleaseMutex(apcLock) ? "released" : "not owner");
}

void WINAPI recordingApc(ULONG_PTR) {
  apcSteps->push_back("next");
}

TEST(SyncTest, APlainWaitInsideAnApcTakesItsObject) {
  std::vector<std::string> steps;
  apcSteps = &steps;
  apcLock = CreateMutexA(nullptr, FALSE, nullptr);
  QueueUserAPC(&lockingApc, GetCurrentThread(), 0);
  QueueUserAPC(&recordingApc, GetCurrentThread(), 0);
  EXPECT_EQ(SleepEx(0, TRUE), WAIT_IO_COMPLETION);
  EXPECT_EQ(steps, (std::vector<std::string>{"lock 0", "released", "next"}));
  CloseHandle(apcLock);
  apcSteps = nullptr;
}

// Another thread in a plain wait: the APC queued for it neither ends the wait
// nor runs in it; the thread's next alertable wait runs it.
TEST(SyncTest, ApcForAThreadInAPlainWaitWaitsForItsAlertableWait) {
  HANDLE go = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  const int before = apcCalls.load();
  auto waiter = [&]() -> DWORD {
    if (WaitForSingleObject(go, INFINITE) != WAIT_OBJECT_0) return 1;
    if (apcCalls.load() != before) return 2;
    return SleepEx(INFINITE, TRUE) == WAIT_IO_COMPLETION ? 0 : 3;
  };
  HANDLE thread = startThread(&waiter);
  ASSERT_TRUE(QueueUserAPC(&countApc, thread, 0));
  SetEvent(go);
  EXPECT_EQ(waitForExitCode(thread), 0u);
  EXPECT_EQ(apcCalls.load(), before + 1);
  CloseHandle(go);
}

// ---- Waiting for several objects ------------------------------------------------

TEST(SyncTest, WaitForAnyReturnsTheLowestSignalledIndexAndTakesOnlyThatObject) {
  HANDLE events[] = {CreateEventA(nullptr, FALSE, FALSE, nullptr),
                     CreateEventA(nullptr, FALSE, TRUE, nullptr),
                     CreateEventA(nullptr, FALSE, TRUE, nullptr)};
  EXPECT_EQ(WaitForMultipleObjects(3, events, FALSE, INFINITE), WAIT_OBJECT_0 + 1);
  EXPECT_EQ(WaitForMultipleObjects(3, events, FALSE, INFINITE), WAIT_OBJECT_0 + 2);
  EXPECT_EQ(WaitForMultipleObjects(3, events, FALSE, 0), WAIT_TIMEOUT);
  for (HANDLE event : events) CloseHandle(event);
}

TEST(SyncTest, WaitForAllTakesNothingUntilEveryObjectCanBeTaken) {
  HANDLE first = CreateEventA(nullptr, FALSE, TRUE, nullptr);
  HANDLE second = CreateEventA(nullptr, FALSE, FALSE, nullptr);
  HANDLE both[] = {first, second};
  EXPECT_EQ(WaitForMultipleObjects(2, both, TRUE, 0), WAIT_TIMEOUT);
  SetEvent(second);
  EXPECT_EQ(WaitForMultipleObjects(2, both, TRUE, 0), WAIT_OBJECT_0);  // first was kept
  EXPECT_EQ(WaitForSingleObject(first, 0), WAIT_TIMEOUT);              // both taken now
  EXPECT_EQ(WaitForSingleObject(second, 0), WAIT_TIMEOUT);
  CloseHandle(first);
  CloseHandle(second);
}

TEST(SyncTest, WaitForAllEndsWhenAnotherThreadSignalsTheLastObject) {
  HANDLE event = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  HANDLE mutex = CreateMutexA(nullptr, FALSE, nullptr);
  auto setter = [event]() -> DWORD { return SetEvent(event) ? 0 : 1; };
  HANDLE thread = startThread(&setter);
  HANDLE all[] = {mutex, event, thread};
  EXPECT_EQ(WaitForMultipleObjects(3, all, TRUE, INFINITE), WAIT_OBJECT_0);
  EXPECT_TRUE(ReleaseMutex(mutex));  // the wait made this thread its owner
  EXPECT_EQ(waitForExitCode(thread), 0u);
  CloseHandle(event);
  CloseHandle(mutex);
}

TEST(SyncTest, AnAbandonedMutexIsReportedByItsIndex) {
  HANDLE never = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  HANDLE mutex = CreateMutexA(nullptr, FALSE, nullptr);
  auto owner = [mutex]() -> DWORD { return WaitForSingleObject(mutex, INFINITE); };
  EXPECT_EQ(waitForExitCode(startThread(&owner)), WAIT_OBJECT_0);
  HANDLE any[] = {never, mutex};
  EXPECT_EQ(WaitForMultipleObjects(2, any, FALSE, INFINITE), WAIT_ABANDONED_0 + 1);
  EXPECT_TRUE(ReleaseMutex(mutex));

  EXPECT_EQ(waitForExitCode(startThread(&owner)), WAIT_OBJECT_0);
  SetEvent(never);
  EXPECT_EQ(WaitForMultipleObjects(2, any, TRUE, INFINITE), WAIT_ABANDONED_0 + 1);
  EXPECT_TRUE(ReleaseMutex(mutex));
  CloseHandle(never);
  CloseHandle(mutex);
}

struct BadWaitRow {
  const char* name;
  DWORD (*call)(HANDLE event);
  DWORD error;
};

std::ostream& operator<<(std::ostream& out, const BadWaitRow& row) {
  return out << row.name;
}

const BadWaitRow kBadWaits[] = {
    {"no handles", [](HANDLE e) { return WaitForMultipleObjects(0, &e, FALSE, 0); },
     ERROR_INVALID_PARAMETER},
    {"more than 64 handles",
     [](HANDLE e) {
       std::vector<HANDLE> many(MAXIMUM_WAIT_OBJECTS + 1, e);
       return WaitForMultipleObjects(static_cast<DWORD>(many.size()), many.data(), FALSE, 0);
     },
     ERROR_INVALID_PARAMETER},
    {"a null array", [](HANDLE) { return WaitForMultipleObjects(1, nullptr, FALSE, 0); },
     ERROR_INVALID_PARAMETER},
    {"a closed handle among good ones",
     [](HANDLE e) {
       HANDLE handles[] = {e, reinterpret_cast<HANDLE>(4000004)};
       return WaitForMultipleObjects(2, handles, FALSE, INFINITE);
     },
     ERROR_INVALID_HANDLE},
    {"one object twice in a wait for all",
     [](HANDLE e) {
       HANDLE twice[] = {e, e};
       return WaitForMultipleObjects(2, twice, TRUE, INFINITE);
     },
     ERROR_INVALID_PARAMETER},
    {"a file",
     [](HANDLE) {
       Pipe pipe;
       return WaitForSingleObjectEx(pipe.read, INFINITE, TRUE);
     },
     ERROR_INVALID_HANDLE},
};

class BadWait : public testing::TestWithParam<BadWaitRow> {};

TEST_P(BadWait, FailsAtOnceWithItsError) {
  HANDLE event = CreateEventA(nullptr, TRUE, TRUE, nullptr);
  SetLastError(ERROR_SUCCESS);
  EXPECT_EQ(GetParam().call(event), WAIT_FAILED);
  EXPECT_EQ(GetLastError(), GetParam().error);
  CloseHandle(event);
}

INSTANTIATE_TEST_SUITE_P(SyncTest, BadWait, testing::ValuesIn(kBadWaits));

// ---- The last error after creating an object ----------------------------------

struct CreateRow {
  const char* name;
  HANDLE (*create)();
};

std::ostream& operator<<(std::ostream& out, const CreateRow& row) {
  return out << row.name;
}

const CreateRow kCreations[] = {
    {"auto-reset event", [] { return CreateEventA(nullptr, FALSE, FALSE, nullptr); }},
    {"manual-reset event, set", [] { return CreateEventA(nullptr, TRUE, TRUE, nullptr); }},
    {"named event", [] { return CreateEventA(nullptr, TRUE, FALSE, "shapeboard-event"); }},
    {"mutex", [] { return CreateMutexA(nullptr, FALSE, nullptr); }},
    {"owned mutex", [] { return CreateMutexA(nullptr, TRUE, nullptr); }},
};

class CreateObject : public testing::TestWithParam<CreateRow> {};

TEST_P(CreateObject, SuccessClearsAStaleLastError) {
  SetLastError(ERROR_INVALID_HANDLE);
  HANDLE object = GetParam().create();
  ASSERT_NE(object, nullptr);
  EXPECT_EQ(GetLastError(), ERROR_SUCCESS);
  CloseHandle(object);
}

INSTANTIATE_TEST_SUITE_P(SyncTest, CreateObject, testing::ValuesIn(kCreations));

// Store buffering: in each round both sides store their own flag and then
// load the other's, one side with only a compiler barrier between the two,
// the other with FlushProcessWriteBuffers. With a compiler barrier on both
// sides this machine lets both loads miss in several percent of the rounds.
TEST(SyncTest, FlushProcessWriteBuffersLetsNoRoundMissBothStores) {
  constexpr int kRounds = 5000;
  std::atomic<int> step{0};  // odd: a round runs; even: the light side is done
  std::atomic<int> mine{0};
  std::atomic<int> theirs{0};
  std::atomic<int> theirLoad{0};
  auto awaitStep = [&step](int wanted) {
    for (int spins = 0; step.load(std::memory_order_acquire) != wanted; ++spins) {
      if (spins > 1000) std::this_thread::yield();
    }
  };
  std::thread light([&] {
    for (int round = 1; round <= kRounds; ++round) {
      awaitStep(2 * round - 1);
      theirs.store(1, std::memory_order_relaxed);
      std::atomic_signal_fence(std::memory_order_seq_cst);
      theirLoad.store(mine.load(std::memory_order_relaxed), std::memory_order_relaxed);
      step.store(2 * round, std::memory_order_release);
    }
  });
  int bothMissed = 0;
  for (int round = 1; round <= kRounds; ++round) {
    mine.store(0, std::memory_order_relaxed);
    theirs.store(0, std::memory_order_relaxed);
    step.store(2 * round - 1, std::memory_order_seq_cst);
    mine.store(1, std::memory_order_relaxed);
    FlushProcessWriteBuffers();
    const int myLoad = theirs.load(std::memory_order_relaxed);
    awaitStep(2 * round);
    if (myLoad == 0 && theirLoad.load(std::memory_order_relaxed) == 0) ++bothMissed;
  }
  light.join();
  EXPECT_EQ(bothMissed, 0);
}

}  // namespace
