// Holding the main thread: the platform's SuspendThread parks it; a safe
// point is looked for by holding it, reading where it stands and letting it
// go on for a moment when that is not a good place.
#include "runtime/krnHold.h"

#include <dlfcn.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <exception>
#include <thread>

#include "platform/kernel/Exceptions.h"
#include "platform/kernel/Process.h"
#include "platform/kernel/Threads.h"
#include "runtime/kosExit.h"
#include "runtime/krExceptions.h"

namespace {

// Written once by start-up on the main thread, before any other thread of
// the run-time's exists; read by the exiting threads.
struct MainThread {
  win32::HANDLE handle = nullptr;
  win32::DWORD id = 0;
  std::atomic<bool> waitsForExit{false};
  std::atomic<int> shieldDepth{0};
  // What another thread asks of the main thread at its next shield: stop
  // there for good (an exit), or take a trap there. The shield's entry is
  // where the main thread answers it, outside any channel update.
  std::atomic<std::uint32_t> request{0};
  std::atomic<bool> stoppedAtShield{false};
} mainThread;

constexpr std::uint32_t kStopRequest = 0xFFFFFFFF;

thread_local bool onMainThread = false;

// A trap sent into the main thread may stand at an instruction that its
// function's exception table does not cover; the C++ run-time then calls
// terminate instead of unwinding. That trap is reported as unhandled
// instead, so the program still ends in its one exit.
std::atomic<std::uint32_t> sentTrap{0};
std::terminate_handler previousTerminate = nullptr;

[[noreturn]] void reportSentTrap() {
  const std::uint32_t trap = sentTrap.exchange(0);
  if (trap != 0 && onMainThread) K2C_ReportUnhandledTrap(trap);
  if (previousTerminate != nullptr) previousTerminate();
  std::abort();
}

void armTerminateFallback(std::uint32_t trap) {
  sentTrap.store(trap);
  std::terminate_handler previous = std::set_terminate(&reportSentTrap);
  if (previous != &reportSentTrap) previousTerminate = previous;
}

constexpr auto kSafePointLimit = std::chrono::milliseconds(500);
constexpr auto kRetryPause = std::chrono::microseconds(500);

// In the program's own image, not inside a library (the C library's locks,
// the allocator's): a library call can neither be held safely nor unwound.
bool inProgramImage(win32::DWORD64 address) {
  Dl_info info{};
  if (::dladdr(reinterpret_cast<void*>(address), &info) == 0) return false;
  return info.dli_fbase == win32::GetModuleHandleA(nullptr);
}

bool heldAtSafePoint() {
  if (mainThread.waitsForExit.load() || mainThread.stoppedAtShield.load()) return true;
  if (mainThread.shieldDepth.load() > 0) return false;
  win32::CONTEXT context{};
  context.ContextFlags = win32::CONTEXT_CONTROL | win32::CONTEXT_INTEGER;
  return win32::GetThreadContext(mainThread.handle, &context) && inProgramImage(context.Rip);
}

enum class Hold { none, taken, safePoint, anywhere };

// The main thread at a shield's entry, asked to stop: it stays there until
// the exit ends the process.
[[noreturn]] void stopAtShield() {
  mainThread.stoppedAtShield.store(true);
  for (;;) std::this_thread::sleep_for(std::chrono::hours(1));
}

// Asks the main thread for `request` (answered at its next shield) and holds
// it at the first safe point, by its own stop or by suspending it there.
Hold holdMain(std::uint32_t request) {
  if (mainThread.handle == nullptr || onMainThread) return Hold::none;
  mainThread.request.store(request);
  const auto deadline = std::chrono::steady_clock::now() + kSafePointLimit;
  for (;;) {
    if (request != kStopRequest && mainThread.request.load() != request) return Hold::taken;
    const bool expired = std::chrono::steady_clock::now() >= deadline;
    if (win32::SuspendThread(mainThread.handle) != static_cast<win32::DWORD>(-1)) {
      if (heldAtSafePoint()) return Hold::safePoint;
      // Held inside a channel's update it stays held; held inside a library
      // it might own a lock the exit needs (the allocator's): it goes on
      // instead, and stops at its next channel call.
      if (expired && mainThread.shieldDepth.load() > 0) return Hold::anywhere;
      win32::ResumeThread(mainThread.handle);
      if (expired) return Hold::none;
    } else if (mainThread.stoppedAtShield.load()) {
      return Hold::safePoint;  // stopped by itself: as good as held
    } else if (expired) {
      return Hold::none;  // cannot be held: only its own stop is left
    }
    std::this_thread::sleep_for(kRetryPause);
  }
}

}  // namespace

void K2C_SetMainThread(win32::HANDLE thread) {
  mainThread.handle = thread;
  mainThread.id = win32::GetCurrentThreadId();
  onMainThread = true;
}

bool K2C_HoldMainThread() {
  return holdMain(kStopRequest) == Hold::safePoint;
}

bool K2C_TrapMainThread(std::uint32_t trap) {
  const Hold hold = holdMain(trap);
  if (hold == Hold::none) return false;
  if (hold == Hold::taken) return true;
  // Taken by the main thread at a shield, or dropped because an exit began.
  if (mainThread.request.exchange(0) != trap || K2C_ExitInProgress()) {
    win32::ResumeThread(mainThread.handle);
    return true;
  }
  if (hold != Hold::safePoint) return false;
  win32::CONTEXT context{};
  context.ContextFlags = win32::CONTEXT_CONTROL | win32::CONTEXT_INTEGER;
  if (!win32::GetThreadContext(mainThread.handle, &context)) return false;
  K2C_RedirectHeldThread(context, trap);
  armTerminateFallback(trap);
  if (!win32::SetThreadContext(mainThread.handle, &context)) return false;
  win32::ResumeThread(mainThread.handle);
  return true;
}

void K2C_NoteWaitingForExit() {
  if (onMainThread) mainThread.waitsForExit.store(true);
}

K2C_ExitShield::K2C_ExitShield() {
  if (!onMainThread) return;
  std::uint32_t request = mainThread.request.load();
  if (request == kStopRequest) stopAtShield();
  const std::uint32_t trap = request;
  if (trap != 0 && mainThread.request.compare_exchange_strong(request, 0)) {
    K2C_TRAP_G(trap, __builtin_return_address(0));
  }
  mainThread.shieldDepth.fetch_add(1);
}

K2C_ExitShield::~K2C_ExitShield() {
  if (onMainThread) mainThread.shieldDepth.fetch_sub(1);
}
