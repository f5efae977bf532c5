// Requests to the main thread and its safe points. The main thread answers
// only where it stands by itself: at the entry of a wait (the platform's
// safe-point hook), in an APC run by its alertable wait, and at the entry of
// a channel call. Nobody ever suspends it, so it never stops owning a lock
// that the exit needs.
#include "runtime/krnHold.h"

#include <atomic>
#include <cstdlib>
#include <exception>

#include "platform/kernel/Sync.h"
#include "platform/kernel/RuntimeHooks.h"
#include "runtime/kosExit.h"
#include "runtime/krExceptions.h"

namespace {

constexpr std::uint32_t kNoRequest = 0;
constexpr std::uint32_t kStopRequest = 0xFFFFFFFF;

// How long a request waits for the main thread's answer. Once the main
// thread has let one run out, later ones wait only briefly: it computes
// without a safe point, and every way out must end within its bound.
constexpr win32::DWORD kAnswerBoundMs = 1000;
constexpr win32::DWORD kUnresponsiveBoundMs = 100;
constexpr win32::ULONGLONG kAnswerSliceMs = 5;

// Written once by start-up on the main thread, before any other thread of
// the run-time's exists.
struct MainThread {
  win32::HANDLE handle = nullptr;
  win32::HANDLE answered = nullptr;  // auto-reset: set at each answer
  // kNoRequest, kStopRequest or a trap number. A stop is stored over
  // anything; a trap only over nothing, so no break erases an exit's stop.
  std::atomic<std::uint32_t> request{kNoRequest};
  std::atomic<bool> stopped{false};
  std::atomic<bool> unresponsive{false};
  std::atomic<int> shieldDepth{0};
  std::atomic<const void*> updating{nullptr};
  std::atomic<bool> writing{false};  // the outermost update writes its record
  std::atomic<int> waitDepth{0};     // inside a wait or sleep
} mainThread;

thread_local bool onMainThread = false;
// Set on the main thread once it has stopped: its own waits from then on
// are no safe points.
thread_local bool stoppedHere = false;

// A trap raised at a safe point inside a function that may not throw (a
// wait made by a destructor) ends in terminate instead of its frame; it is
// reported as unhandled then, so the program still ends in its one exit.
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

[[noreturn]] void stopHere() {
  stoppedHere = true;
  mainThread.stopped.store(true);
  win32::SetEvent(mainThread.answered);
  for (;;) win32::Sleep(win32::INFINITE);
}

// The main thread's answer, where it holds nothing another thread needs.
void answerRequest(const void* location) {
  if (!onMainThread || stoppedHere || mainThread.shieldDepth.load() > 0) return;
  std::uint32_t request = mainThread.request.load();
  if (request == kNoRequest) return;
  if (request == kStopRequest) stopHere();
  if (!mainThread.request.compare_exchange_strong(request, kNoRequest)) {
    if (request == kStopRequest) stopHere();
    return;
  }
  win32::SetEvent(mainThread.answered);
  // The exit this thread runs already ends the program.
  if (K2C_ExitInProgress()) return;
  armTerminateFallback(request);
  K2C_TRAP_G(request, location);
}

// Blocked in a wait the main thread holds nothing another thread needs: an
// exit goes on without it, and it stops when the wait is over (it may have
// taken a mutex there, which no exit step waits for). A trap is raised on
// entry only, before the wait takes anything.
__attribute__((noinline)) void safePoint(bool entering) {
  if (!onMainThread || stoppedHere) return;
  if (entering) {
    answerRequest(__builtin_return_address(0));
    mainThread.waitDepth.fetch_add(1);
    return;
  }
  mainThread.waitDepth.fetch_sub(1);
  if (mainThread.request.load() == kStopRequest) stopHere();
}

__attribute__((noinline)) void WINAPI answerApc(win32::ULONG_PTR /*parameter*/) {
  answerRequest(__builtin_return_address(0));
}

// Waits within the bound until `answered` holds; each answer sets the event,
// so a stale set only makes it look again. Two may wait at once (a break and
// an exit) while one set wakes one of them: the other looks again after a
// short slice.
template <class Answered>
bool awaitAnswer(Answered answered) {
  const win32::DWORD bound = mainThread.unresponsive.load() ? kUnresponsiveBoundMs : kAnswerBoundMs;
  K2C_RunningClock clock;  // a stop meanwhile gives the main thread no less time
  while (!answered()) {
    const win32::ULONGLONG ran = clock.Step();
    if (ran >= bound) {
      mainThread.unresponsive.store(true);
      return false;
    }
    const win32::ULONGLONG left = bound - ran;
    const auto slice = static_cast<win32::DWORD>(left < kAnswerSliceMs ? left : kAnswerSliceMs);
    if (win32::WaitForSingleObject(mainThread.answered, slice) == win32::WAIT_FAILED) {
      win32::Sleep(1);  // the event is gone: look again without it
    }
  }
  mainThread.unresponsive.store(false);
  return true;
}

bool askable() {
  return mainThread.handle != nullptr && mainThread.answered != nullptr && !onMainThread;
}

}  // namespace

void K2C_SetMainThread(win32::HANDLE thread) {
  mainThread.handle = thread;
  mainThread.answered = win32::CreateEventA(nullptr, win32::FALSE, win32::FALSE, nullptr);
  onMainThread = true;
  win32::detail::SetSafePointHook(&safePoint);
}

bool K2C_StopMainThread() {
  if (!askable()) return true;
  mainThread.request.store(kStopRequest);
  // The heavy half of the shield's barrier (see K2C_ExitShield).
  win32::FlushProcessWriteBuffers();
  if (mainThread.stopped.load()) return true;
  win32::QueueUserAPC(&answerApc, mainThread.handle, 0);
  return awaitAnswer([] { return mainThread.stopped.load() || mainThread.waitDepth.load() > 0; });
}

bool K2C_TrapMainThread(std::uint32_t trap) {
  if (!askable()) return false;
  std::uint32_t request = kNoRequest;
  if (!mainThread.request.compare_exchange_strong(request, trap)) return true;
  win32::QueueUserAPC(&answerApc, mainThread.handle, 0);
  if (awaitAnswer([trap] { return mainThread.request.load() != trap; })) return true;
  // Withdrawn, unless the main thread takes it at this very moment.
  request = trap;
  return !mainThread.request.compare_exchange_strong(request, kNoRequest);
}

void K2C_AwaitOtherExit() {
  if (onMainThread) stopHere();
  for (;;) win32::Sleep(win32::INFINITE);
}

void K2C_NoteTrapDelivered(bool caught) {
  if (!onMainThread || sentTrap.load() == 0) return;
  sentTrap.store(0);
  if (caught) K2C_DisarmExitLimit();
}

// The shield's two words belong to the main thread: only it writes them, so
// it needs no locked instruction. Each entry and leave stores a word and then
// loads the request; an exit stores the request and then, in
// K2C_StopMainThread, makes every thread pass a full barrier before it loads
// the words. So either the exit sees the update begun (and leaves the
// record alone), or the main thread sees the stop (and begins no update, or
// stops as it leaves one), or both.
//
//   depth 0 --entry (main thread)--> depth 1, updating = record --> nested entries
//   depth 1 --leave (main thread)--> updating = null, depth 0 --> stops if asked
K2C_ExitShield::K2C_ExitShield(const void* record, K2C_Update kind) {
  if (!onMainThread || stoppedHere) return;
  answerRequest(__builtin_return_address(0));
  counted_ = true;
  const int depth = mainThread.shieldDepth.load(std::memory_order_relaxed);
  if (depth == 0) {
    mainThread.writing.store(kind == K2C_Update::write, std::memory_order_relaxed);
    mainThread.updating.store(record, std::memory_order_relaxed);
  }
  mainThread.shieldDepth.store(depth + 1, std::memory_order_release);
  std::atomic_signal_fence(std::memory_order_seq_cst);
  // A stop asked for since the answer: the exit may already be looking at
  // the records, so this update does not begin.
  if (mainThread.request.load(std::memory_order_relaxed) == kStopRequest) {
    if (depth == 0) mainThread.updating.store(nullptr, std::memory_order_release);
    mainThread.shieldDepth.store(depth, std::memory_order_release);
    stopHere();
  }
}

// An exit that ran on without the main thread finds it stopped as soon as
// its update is done.
K2C_ExitShield::~K2C_ExitShield() {
  if (!counted_) return;
  const int depth = mainThread.shieldDepth.load(std::memory_order_relaxed);
  if (depth == 1) mainThread.updating.store(nullptr, std::memory_order_release);
  mainThread.shieldDepth.store(depth - 1, std::memory_order_release);
  std::atomic_signal_fence(std::memory_order_seq_cst);
  if (depth == 1 && mainThread.request.load(std::memory_order_relaxed) == kStopRequest) stopHere();
}

bool K2C_InChannelUpdate(const void* record) {
  return record != nullptr && mainThread.shieldDepth.load(std::memory_order_acquire) > 0 &&
         mainThread.updating.load(std::memory_order_acquire) == record;
}

bool K2C_InChannelWrite(const void* record) {
  return K2C_InChannelUpdate(record) && mainThread.writing.load(std::memory_order_acquire);
}
