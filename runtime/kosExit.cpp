// The exit-procedure table and the single exit path.
#include "runtime/kosExit.h"

#include <atomic>
#include <chrono>
#include <thread>

#include "platform/kernel/Process.h"
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

// An exit that does not end within this time (a finaliser waiting for a lock
// that a held thread owns) is cut short: the exit hooks still put the
// terminal back.
constexpr auto kExitLimit = std::chrono::seconds(10);

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

void startExitLimit() {
  std::thread([] {
    std::this_thread::sleep_for(kExitLimit);
    win32::ExitProcess(gate.code.load() != 0 ? gate.code.load() : 9);
  }).detach();
}

[[noreturn]] void awaitOtherExit() {
  K2C_NoteWaitingForExit();
  for (;;) std::this_thread::sleep_for(std::chrono::hours(1));
}

}  // namespace

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
    startExitLimit();
    K2C_HoldMainThread();  // nothing to do when this is the main thread
    return;
  }
  if (owner != self) awaitOtherExit();
  // Nested: a failure found during the exit makes a normal end fail, but
  // the code that a halt chose stays.
  if (gate.code.load() == 0) gate.code.store(code);
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
