// Console control events on the terminal signals.
#include <pthread.h>
#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <mutex>
#include <thread>
#include <vector>

#include "platform/kernel/ErrorsInternal.h"
#include "platform/kernel/ExceptionsInternal.h"
#include "platform/kernel/ProcessInternal.h"

namespace win32 {
namespace {

struct CtrlSignal {
  int signal;
  DWORD event;
};
constexpr CtrlSignal kCtrlSignals[] = {
    {SIGINT, CTRL_C_EVENT},
    {SIGQUIT, CTRL_BREAK_EVENT},
    {SIGHUP, CTRL_CLOSE_EVENT},
    {SIGTERM, CTRL_SHUTDOWN_EVENT},
};

// A fault signal sent from outside comes to the signal thread as this one,
// with the fault signal's number as its value.
int forwardSignal() {
  return SIGRTMIN + 4;
}

// Constant-initialised or made on first use, and never destroyed: the signal
// thread starts before main and may dispatch while the process exits.
std::mutex handlersMutex;
std::atomic<bool> ctrlCIgnored{false};
std::atomic<void (*)()> stoppingHook{nullptr};
std::atomic<void (*)()> continuedHook{nullptr};
// Whether the process started with job-control stops ignored (a shell
// without job control): they stay ignored then.
std::atomic<bool> stopsIgnored{false};

std::vector<PHANDLER_ROUTINE>& handlers() {  // oldest first
  static auto* list = new std::vector<PHANDLER_ROUTINE>;
  return *list;
}

DWORD eventForSignal(int signal) {
  for (const CtrlSignal& entry : kCtrlSignals) {
    if (entry.signal == signal) return entry.event;
  }
  return CTRL_SHUTDOWN_EVENT;
}

// Log-off has no signal of its own; it ends the process the way a hang-up does.
int signalForEvent(DWORD event) {
  for (const CtrlSignal& entry : kCtrlSignals) {
    if (entry.event == event) return entry.signal;
  }
  return SIGHUP;
}

sigset_t ctrlSignalSet() {
  sigset_t set;
  sigemptyset(&set);
  for (const CtrlSignal& entry : kCtrlSignals) sigaddset(&set, entry.signal);
  sigaddset(&set, forwardSignal());
  if (!stopsIgnored.load()) sigaddset(&set, SIGTSTP);
  sigaddset(&set, SIGCONT);
  return set;
}

bool startedIgnoring(int signal) {
  struct sigaction current {};
  return ::sigaction(signal, nullptr, &current) == 0 && current.sa_handler == SIG_IGN;
}

void callHook(const std::atomic<void (*)()>& hook) {
  if (void (*function)() = hook.load()) function();
}

bool continuePending() {
  sigset_t pending;
  sigemptyset(&pending);
  return ::sigpending(&pending) == 0 && sigismember(&pending, SIGCONT) == 1;
}

// The terminal is handed back first; then the stop is the signal's own
// default action, taken on this thread alone (every other thread blocks it),
// so the shell sees the job stopped by SIGTSTP. The thread goes on here after
// SIGCONT, which then waits for it as a pending signal. A shell that saw the
// job's other processes stopped may continue it before this one stops: a
// stop raised after that continue would last for ever, so there is none.
void stopForTheShell() {
  callHook(stoppingHook);
  if (continuePending()) return;
  struct sigaction action {};
  action.sa_handler = SIG_DFL;
  sigemptyset(&action.sa_mask);
  ::sigaction(SIGTSTP, &action, nullptr);
  sigset_t only;
  sigemptyset(&only);
  sigaddset(&only, SIGTSTP);
  ::raise(SIGTSTP);
  ::pthread_sigmask(SIG_UNBLOCK, &only, nullptr);
  ::pthread_sigmask(SIG_BLOCK, &only, nullptr);
}

// The default handler: exit hooks (the terminal is put back), then the
// signal's own default action, so the parent sees the process end by it.
[[noreturn]] void endByDefaultAction(int signal) {
  detail::RunExitHooks();
  struct sigaction action {};
  action.sa_handler = SIG_DFL;
  sigemptyset(&action.sa_mask);
  ::sigaction(signal, &action, nullptr);
  sigset_t only;
  sigemptyset(&only);
  sigaddset(&only, signal);
  ::pthread_sigmask(SIG_UNBLOCK, &only, nullptr);
  ::raise(signal);
  ::_exit(128 + signal);  // not reached unless the default action is to ignore
}

void dispatch(DWORD event, int signal) {
  if (event == CTRL_C_EVENT && ctrlCIgnored.load()) return;
  std::vector<PHANDLER_ROUTINE> snapshot;
  {
    std::lock_guard lock(handlersMutex);
    snapshot.assign(handlers().rbegin(), handlers().rend());
  }
  for (PHANDLER_ROUTINE handler : snapshot) {
    if (handler(event) != FALSE) return;
  }
  endByDefaultAction(signal);
}

// A child made by fork has no signal thread: it gets the signals back, so a
// program it executes is not left with them blocked.
void unblockCtrlSignalsInChild() {
  const sigset_t set = ctrlSignalSet();
  ::pthread_sigmask(SIG_UNBLOCK, &set, nullptr);
}

void* signalThreadMain(void*) {
  const sigset_t set = ctrlSignalSet();
  while (true) {
    siginfo_t info{};
    const int signal = ::sigwaitinfo(&set, &info);
    if (signal < 0) continue;
    if (signal == SIGTSTP) {
      stopForTheShell();
    } else if (signal == SIGCONT) {
      callHook(continuedHook);
    } else if (signal == forwardSignal()) {
      dispatch(CTRL_SHUTDOWN_EVENT, info.si_value.sival_int);
    } else {
      dispatch(eventForSignal(signal), signal);
    }
  }
}

// Starts before main: the signals are blocked on the main thread before it
// makes any other thread, so every thread inherits the mask and the signals
// reach only the signal thread.
struct StartBeforeMain {
  StartBeforeMain() { detail::StartConsoleCtrlThread(); }
} startBeforeMain;

}  // namespace

BOOL SetConsoleCtrlHandler(PHANDLER_ROUTINE handler, BOOL add) {
  detail::StartConsoleCtrlThread();
  if (handler == nullptr) {
    ctrlCIgnored.store(add != FALSE);
    return TRUE;
  }
  std::lock_guard lock(handlersMutex);
  std::vector<PHANDLER_ROUTINE>& list = handlers();
  if (add != FALSE) {
    list.push_back(handler);
    return TRUE;
  }
  for (auto it = list.rbegin(); it != list.rend(); ++it) {
    if (*it == handler) {
      list.erase(std::next(it).base());
      return TRUE;
    }
  }
  SetLastError(ERROR_INVALID_PARAMETER);
  return FALSE;
}

namespace detail {

void StartConsoleCtrlThread() {
  static std::once_flag started;
  std::call_once(started, [] {
    stopsIgnored.store(startedIgnoring(SIGTSTP));
    const sigset_t set = ctrlSignalSet();
    ::pthread_sigmask(SIG_BLOCK, &set, nullptr);
    ::pthread_atfork(nullptr, nullptr, &unblockCtrlSignalsInChild);
    pthread_t thread{};
    if (::pthread_create(&thread, nullptr, &signalThreadMain, nullptr) == 0) {
      ::pthread_detach(thread);
    }
  });
}

// Like Windows, the handlers run on a thread of their own, not the caller's.
void RaiseConsoleCtrlEvent(DWORD ctrlType) {
  std::thread([ctrlType] { dispatch(ctrlType, signalForEvent(ctrlType)); }).detach();
}

void ForwardSentFaultSignal(int signal) {
  sigval value{};
  value.sival_int = signal;
  ::sigqueue(::getpid(), forwardSignal(), value);
}

void SetJobControlHooks(void (*stopping)(), void (*continued)()) {
  stoppingHook.store(stopping);
  continuedHook.store(continued);
}

}  // namespace detail
}  // namespace win32
