// Delays for the console libraries.
#include "console/ktsLib.h"

#include <chrono>

#include "platform/kernel/Sync.h"
#include "runtime/ModuleInit.h"

namespace ktsLib {
namespace {

bool initialised = false;

}  // namespace

void BEGIN() {
  if (!K2C_EnterBody(initialised)) return;
}

// The delay is where the main thread spends its time, so it waits alertably:
// the run-time's requests (a break) reach it here (runtime/krnHold.cpp). An APC
// that returns normally does not cut the delay short; the rest is slept.
void Delay(std::uint32_t milliseconds) {
  using Clock = std::chrono::steady_clock;
  const auto deadline = Clock::now() + std::chrono::milliseconds(milliseconds);
  std::uint32_t left = milliseconds;
  while (win32::SleepEx(left, win32::TRUE) == win32::WAIT_IO_COMPLETION) {
    const auto now = Clock::now();
    if (now >= deadline) return;
    const auto rest = std::chrono::ceil<std::chrono::milliseconds>(deadline - now).count();
    left = static_cast<std::uint32_t>(rest);
  }
}

}  // namespace ktsLib
