// The exit-procedure table and the single exit path.
#include "runtime/kosExit.h"

#include <atomic>

#include "platform/kernel/Handles.h"
#include "platform/kernel/Process.h"
#include "platform/kernel/Sync.h"
#include "platform/kernel/Threads.h"
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
} gate;

// The limiter: a thread made at start-up that ends the process when an exit
// or a break is still going at its deadline (a finaliser waiting for what
// never comes). Arming it is an atomic store and an event: no allocation, no
// thread made, so it works whatever state the exit began in. While it counts
// down it only sleeps.
constexpr win32::ULONGLONG kExitLimitMs = 2500;
constexpr win32::DWORD kLimiterTickMs = 20;

struct Limiter {
  win32::HANDLE wake = nullptr;               // auto-reset
  std::atomic<win32::ULONGLONG> deadline{0};  // tick count; 0 while disarmed
} limiter;

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

// An exit ends with its own code; a break cut short ends as an unhandled
// break would.
std::uint32_t limitCode() {
  return gate.owner.load() != 0 ? gate.code.load() : 9;
}

void countDown() {
  for (win32::ULONGLONG end = limiter.deadline.load(); end != 0; end = limiter.deadline.load()) {
    const win32::ULONGLONG now = win32::GetTickCount64();
    if (now >= end) win32::ExitProcess(limitCode());
    const win32::ULONGLONG left = end - now;
    win32::Sleep(left < kLimiterTickMs ? static_cast<win32::DWORD>(left) : kLimiterTickMs);
  }
}

win32::DWORD limiterMain(win32::LPVOID) {
  for (;;) {
    if (win32::WaitForSingleObject(limiter.wake, win32::INFINITE) == win32::WAIT_FAILED) {
      win32::Sleep(kLimiterTickMs);  // no event: look at the deadline by the clock
    }
    countDown();
  }
}

}  // namespace

void K2C_StartExitLimiter() {
  if (limiter.wake != nullptr) return;
  limiter.wake = win32::CreateEventA(nullptr, win32::FALSE, win32::FALSE, nullptr);
  if (limiter.wake == nullptr) return;
  win32::HANDLE thread = win32::CreateThread(nullptr, 0, &limiterMain, nullptr, 0, nullptr);
  if (thread != nullptr) win32::CloseHandle(thread);
}

void K2C_ArmExitLimit() {
  win32::ULONGLONG none = 0;
  if (limiter.deadline.compare_exchange_strong(none, win32::GetTickCount64() + kExitLimitMs)) {
    win32::SetEvent(limiter.wake);
  }
}

void K2C_DisarmExitLimit() {
  if (K2C_ExitInProgress()) return;
  limiter.deadline.store(0);
  // An exit that began meanwhile found the limit armed and kept it.
  if (K2C_ExitInProgress()) K2C_ArmExitLimit();
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
  win32::ExitProcess(gate.code.load());
}
