// The exit-procedure table and the single exit path.
#include "runtime/kosExit.h"

#include <atomic>

#include "platform/kernel/Process.h"
#include "runtime/krExceptions.h"

namespace {

constexpr std::uint32_t kSlots = 8;

K2C_PROC exitProcedures[kSlots];
// Slots in use. An exit claims a procedure by lowering the count before the
// call, so a nested exit (a halt inside an exit procedure) or a second thread
// exiting at the same time runs only the procedures nobody has started.
std::atomic<std::uint32_t> slotsInUse{0};

// The profiler's exit hook; profiling is off in this system.
void K2C_EXIT_PROFILER(bool /*atExit*/) {}

bool claimNext(std::uint32_t& slot) {
  std::uint32_t count = slotsInUse.load();
  while (count > 0) {
    if (slotsInUse.compare_exchange_weak(count, count - 1)) {
      slot = count - 1;
      return true;
    }
  }
  return false;
}

}  // namespace

void K2C_atexit(K2C_PROC proc) {
  std::uint32_t count = slotsInUse.load();
  if (count == kSlots) K2C_TRAP_F(K2C_TRAP_NR_COROUTINE);
  exitProcedures[count] = proc;
  slotsInUse.store(count + 1);
}

void K2C_doexit(std::uint32_t code) {
  K2C_EXIT_PROFILER(true);
  std::uint32_t slot = 0;
  while (claimNext(slot)) exitProcedures[slot]();
  win32::ExitProcess(code);
}
