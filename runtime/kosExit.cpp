// The exit-procedure table and the single exit path.
#include "runtime/kosExit.h"

#include <atomic>

#include "platform/kernel/Handles.h"
#include "platform/kernel/Process.h"
#include "platform/kernel/Sync.h"
#include "platform/kernel/Threads.h"
#include "runtime/kosFileIO.h"
#include "runtime/kosFmtIO.h"
#include "runtime/krExceptions.h"
#include "runtime/krnHold.h"

namespace {

constexpr std::uint32_t kSlots = 8;

// The table, filled by module start-up on the main thread. An exit claims a
// procedure by lowering the count before the call, so a nested exit (a halt
// inside an exit procedure) runs only the procedures nobody has started.
struct ExitTable {
  K2C_PROC procedures[kSlots];
  std::atomic<std::uint32_t> slotsInUse{0};
} table;

// The exit in progress, owned by the first thread that begins one: a later
// exit on another thread waits for it to end the process, and a nested exit
// on the owner goes on with the procedures left.
struct ExitGate {
  std::atomic<win32::DWORD> owner{0};  // thread id; 0 while nobody exits
  std::atomic<std::uint32_t> code{0};
  // The exit has run its procedures and ends the process with `code`. The
  // limiter stores its 9 and then looks at this, the exit stores this and
  // then loads the code: either the exit ends with 9 or the limiter sees
  // the exit done and says nothing of an exit that did finish.
  std::atomic<bool> ending{false};
} gate;

// The limiter: a thread made at start-up that ends the process when an exit
// or a break is still going at its bound (a finaliser waiting for what
// never comes). Arming it is an atomic store and an event: no allocation, no
// thread made, so it works whatever state the exit began in. While it counts
// down it only sleeps.
//
//   disarmed (arming 0) --arm, any thread--> armed (arming n, a new number)
//   armed --disarm (a break its frame caught, no exit begun)--> disarmed
//   armed --the process has run kExitLimitMs since arming n--> ends with 9
//
// The bound counts the time the process runs (K2C_RunningClock), so an exit
// continued after a stop (Ctrl+Z, SIGSTOP) goes on in full.
constexpr win32::ULONGLONG kExitLimitMs = 2500;
constexpr win32::DWORD kLimiterTickMs = 20;

// What the limiter does at the bound may block in its turn (standard error
// or a channel's file a stalled pipe): a second thread, the finisher, does
// it, and the limiter ends the process kFinishLimitMs later whatever the
// finisher has done.
constexpr win32::ULONGLONG kFinishLimitMs = 500;

struct Limiter {
  win32::HANDLE wake = nullptr;           // auto-reset
  win32::HANDLE finish = nullptr;         // manual-reset: the bound is over
  std::atomic<std::uint64_t> arming{0};   // 0 while disarmed
  std::atomic<std::uint64_t> armings{0};  // the numbers handed out
  std::atomic<K2C_PROC> lastFlush{nullptr};
} limiter;

constexpr char kNotFinished[] = "#RTS: the exit did not finish in time";

// The profiler's exit hook; profiling is off in this system.
void K2C_EXIT_PROFILER(bool /*atExit*/) {}

bool claimNext(std::uint32_t& slot) {
  std::uint32_t count = table.slotsInUse.load();
  while (count > 0) {
    if (table.slotsInUse.compare_exchange_weak(count, count - 1)) {
      slot = count - 1;
      return true;
    }
  }
  return false;
}

// The exit (or break) did not end in time: it is reported, the output that
// nobody is writing goes out, and the process ends with 9, whatever code
// the exit had: what was left undone makes it a failure. The exit hooks of
// ExitProcess put the terminal back.
win32::DWORD WINAPI finisherMain(win32::LPVOID) {
  while (win32::WaitForSingleObject(limiter.finish, win32::INFINITE) != win32::WAIT_OBJECT_0) {
    win32::Sleep(kLimiterTickMs);
  }
  K2C_StdOut(kNotFinished, sizeof kNotFinished - 1);
  K2C_StdOutN();
  if (K2C_PROC flush = limiter.lastFlush.load()) flush();
  win32::ExitProcess(9);
}

[[noreturn]] void endUnfinished() {
  gate.code.store(9);  // an exit that comes to its end meanwhile ends with 9 too
  if (!gate.ending.load()) win32::SetEvent(limiter.finish);
  K2C_RunningClock clock;
  while (clock.Step() < kFinishLimitMs) win32::Sleep(kLimiterTickMs);
  win32::ExitProcess(9);
}

void countDown() {
  std::uint64_t counted = 0;
  K2C_RunningClock clock;
  for (std::uint64_t arming = limiter.arming.load(); arming != 0; arming = limiter.arming.load()) {
    if (arming != counted) {  // disarmed and armed again: a new bound
      counted = arming;
      clock = K2C_RunningClock();
    }
    const win32::ULONGLONG ran = clock.Step();
    if (ran >= kExitLimitMs) endUnfinished();
    const win32::ULONGLONG left = kExitLimitMs - ran;
    win32::Sleep(left < kLimiterTickMs ? static_cast<win32::DWORD>(left) : kLimiterTickMs);
  }
}

win32::DWORD WINAPI limiterMain(win32::LPVOID) {
  for (;;) {
    if (win32::WaitForSingleObject(limiter.wake, win32::INFINITE) == win32::WAIT_FAILED) {
      win32::Sleep(kLimiterTickMs);  // no event: look at the arming by the clock
    }
    countDown();
  }
}

}  // namespace

void K2C_StartExitLimiter() {
  if (limiter.wake != nullptr) return;
  limiter.finish = win32::CreateEventA(nullptr, win32::TRUE, win32::FALSE, nullptr);
  limiter.wake = win32::CreateEventA(nullptr, win32::FALSE, win32::FALSE, nullptr);
  if (limiter.wake == nullptr) return;
  for (win32::LPTHREAD_START_ROUTINE start : {&limiterMain, &finisherMain}) {
    win32::HANDLE thread = win32::CreateThread(nullptr, 0, start, nullptr, 0, nullptr);
    if (thread != nullptr) win32::CloseHandle(thread);
  }
}

void K2C_ArmExitLimit() {
  std::uint64_t none = 0;
  if (limiter.arming.compare_exchange_strong(none, limiter.armings.fetch_add(1) + 1)) {
    win32::SetEvent(limiter.wake);
  }
}

void K2C_DisarmExitLimit() {
  if (K2C_ExitInProgress()) return;
  limiter.arming.store(0);
  // An exit that began meanwhile found the limit armed and kept it.
  if (K2C_ExitInProgress()) K2C_ArmExitLimit();
}

K2C_RunningClock::K2C_RunningClock() : last_(win32::GetTickCount64()) {}

win32::ULONGLONG K2C_RunningClock::Step() {
  const win32::ULONGLONG now = win32::GetTickCount64();
  const win32::ULONGLONG passed = now - last_;
  last_ = now;
  ran_ += passed < kLongestStepMs ? passed : kLongestStepMs;
  return ran_;
}

void K2C_SetExitLimitFlush(K2C_PROC flush) {
  limiter.lastFlush.store(flush);
}

void K2C_atexit(K2C_PROC proc) {
  std::uint32_t count = table.slotsInUse.load();
  if (count == kSlots) K2C_TRAP_F(K2C_TRAP_NR_COROUTINE);
  table.procedures[count] = proc;
  table.slotsInUse.store(count + 1);
}

void K2C_BeginExit(std::uint32_t code) {
  const win32::DWORD self = win32::GetCurrentThreadId();
  win32::DWORD owner = 0;
  if (gate.owner.compare_exchange_strong(owner, self)) {
    gate.code.store(code);
    K2C_SealHandlerFrames();
    K2C_ArmExitLimit();
    K2C_StopMainThread();  // nothing to do when this is the main thread
    return;
  }
  if (owner != self) K2C_AwaitOtherExit();
  // Nested (a halt in a finaliser, a report during the exit): the new code
  // ends the process.
  gate.code.store(code);
}

void K2C_FailExit() {
  if (gate.owner.load() != win32::GetCurrentThreadId()) {
    K2C_BeginExit(9);
    return;
  }
  std::uint32_t normalEnd = 0;
  gate.code.compare_exchange_strong(normalEnd, 9);
}

bool K2C_ExitInProgress() {
  return gate.owner.load() != 0;
}

void K2C_RunExitProcedures(std::uint32_t code) {
  K2C_BeginExit(code);
  K2C_EXIT_PROFILER(true);
  std::uint32_t slot = 0;
  while (claimNext(slot)) table.procedures[slot]();
}

void K2C_doexit(std::uint32_t code) {
  K2C_RunExitProcedures(code);
  gate.ending.store(true);
  win32::ExitProcess(gate.code.load());
}
