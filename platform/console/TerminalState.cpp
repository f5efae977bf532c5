#include "platform/console/TerminalState.h"

#include <fcntl.h>
#include <pthread.h>
#include <signal.h>
#include <termios.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <mutex>

#include "platform/kernel/ExceptionsInternal.h"
#include "platform/kernel/ProcessInternal.h"

namespace win32::detail {
namespace {

// Button and drag reports, in the best form the terminal has: a terminal takes
// the last of urxvt's (1015) and SGR (1006) it knows, and one that knows
// neither reports in the X10/normal form.
constexpr char kMouseOn[] = "\x1b[?1000h\x1b[?1002h\x1b[?1015h\x1b[?1006h";
constexpr char kMouseOff[] = "\x1b[?1006l\x1b[?1015l\x1b[?1002l\x1b[?1000l";
constexpr char kWrapOn[] = "\x1b[?7h";
constexpr char kWrapOff[] = "\x1b[?7l";
constexpr char kTitlePush[] = "\x1b[22;0t";
constexpr char kTitlePop[] = "\x1b[23;0t";

// What the restore needs, written before any restore can run and read by it
// without locks. The byte string only grows (mouse off, title pop), each part
// added once; `restoreLength` is stored after the bytes.
struct RestoreState {
  struct termios original {};
  std::atomic<int> terminal{-1};
  char bytes[64] = {};
  std::atomic<std::size_t> restoreLength{0};
  std::atomic<bool> restored{false};
  // A stop handed the terminal back to the shell and nothing took it since:
  // the shell's settings are in force and ours are undone.
  std::atomic<bool> handedBack{false};
};

// Changes to the terminal's state, made by normal threads under `lock`.
struct HostState {
  std::mutex lock;
  bool mouseOffPrepared = false;
  bool titleSaved = false;
  bool mouseOn = false;
  // The host's settings as last set, put back after a stop; and whether the
  // terminal is the shell's now (a stop handed it back).
  bool hostSettingsSet = false;
  struct termios hostSettings {};
  bool wrapOnPrepared = false;
  bool wrapOn = true;
};

RestoreState restoreState;  // constant-initialised, never destroyed

HostState& host() {
  static auto* state = new HostState;
  return *state;
}

void writeAll(int fd, const char* bytes, std::size_t length) {
  while (length > 0) {
    const ssize_t n = ::write(fd, bytes, length);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return;
    bytes += n;
    length -= static_cast<std::size_t>(n);
  }
}

// Called with the host lock held.
void prepareRestoreBytes(const char* part) {
  const std::size_t used = restoreState.restoreLength.load();
  const std::size_t length = std::strlen(part);
  if (used + length > sizeof restoreState.bytes) return;
  std::memcpy(restoreState.bytes + used, part, length);
  restoreState.restoreLength.store(used + length);
}

// abort() (an uncaught exception on any thread, a failed assertion) ends the
// process without the exit hooks; the terminal is put back first.
void restoreOnAbort(int signal) {
  RestoreTerminal();
  ::signal(signal, SIG_DFL);
  ::raise(signal);
}

void restoreAtExit() {
  RestoreTerminal();
}

// A terminal that is not the controlling one (tcgetpgrp fails) has no job
// control: it is always the process's to set.
bool inForeground(int fd) {
  const pid_t group = ::tcgetpgrp(fd);
  return group < 0 || group == ::getpgrp();
}

// SIGTTOU blocked on this thread while it lives; errno as the calls inside
// left it. Async-signal-safe.
class TtouBlocked {
 public:
  TtouBlocked() {
    sigset_t ttou;
    sigemptyset(&ttou);
    sigaddset(&ttou, SIGTTOU);
    ::pthread_sigmask(SIG_BLOCK, &ttou, &previous_);
  }
  ~TtouBlocked() {
    const int callErrno = errno;
    ::pthread_sigmask(SIG_SETMASK, &previous_, nullptr);
    errno = callErrno;
  }
  TtouBlocked(const TtouBlocked&) = delete;
  TtouBlocked& operator=(const TtouBlocked&) = delete;

 private:
  sigset_t previous_;
};

// Sets the terminal when the process is in the foreground; answers whether
// it did. From a background process group tcsetattr raises SIGTTOU, whose
// default action stops every thread, the exit's limiter included; a process
// in the background leaves the terminal to the shell, which puts its own
// settings back when it takes the terminal. SIGTTOU is blocked on this
// thread meanwhile, so a move to the background between the look and the
// call cannot stop the process either (the call then goes through).
// Async-signal-safe.
bool applyInForeground(int fd, int when, const struct termios& settings) {
  const TtouBlocked blocked;
  return inForeground(fd) && ::tcsetattr(fd, when, &settings) == 0;
}

// Ctrl+Z: the shell gets the terminal as the program found it (settings,
// mouse reporting off, its own title) while the program is stopped.
void handBackForStop() {
  HostState& state = host();
  std::lock_guard lock(state.lock);
  const int fd = restoreState.terminal.load();
  if (fd < 0 || restoreState.restored.load()) return;
  if (state.mouseOn) WriteToTerminal(kMouseOff, std::strlen(kMouseOff));
  if (state.titleSaved) WriteToTerminal(kTitlePop, std::strlen(kTitlePop));
  if (!state.wrapOn) WriteToTerminal(kWrapOn, std::strlen(kWrapOn));
  applyInForeground(fd, TCSADRAIN, restoreState.original);
  restoreState.handedBack.store(true);
}

// Continued (after a stop of ours, or a SIGSTOP from outside, when the shell
// may have set the terminal its own way): the host's settings and mouse mode
// again. In the background the terminal is not the program's to change; the
// next continue in the foreground takes it.
void takeBackAfterStop() {
  HostState& state = host();
  std::lock_guard lock(state.lock);
  const int fd = restoreState.terminal.load();
  if (fd < 0 || restoreState.restored.load() || !inForeground(fd)) return;
  if (state.hostSettingsSet && !applyInForeground(fd, TCSANOW, state.hostSettings)) return;
  const bool handedBack = restoreState.handedBack.exchange(false);
  if (handedBack && state.titleSaved) WriteToTerminal(kTitlePush, std::strlen(kTitlePush));
  if (handedBack && !state.wrapOn) WriteToTerminal(kWrapOff, std::strlen(kWrapOff));
  if (state.mouseOn) WriteToTerminal(kMouseOn, std::strlen(kMouseOn));
}

void registerRestore() {
  AddExitHook(&RestoreTerminal);
  SetJobControlHooks(&handBackForStop, &takeBackAfterStop);
  std::atexit(&restoreAtExit);
  struct sigaction previous {};
  ::sigaction(SIGABRT, nullptr, &previous);
  if (previous.sa_handler == SIG_DFL) ::signal(SIGABRT, &restoreOnAbort);
}

void arrangeRestore() {
  static std::once_flag arranged;
  std::call_once(arranged, registerRestore);
}

}  // namespace

bool TakeTerminal(int fd) {
  if (restoreState.terminal.load() >= 0) return true;
  struct termios settings {};
  if (::tcgetattr(fd, &settings) != 0) return false;
  std::lock_guard lock(host().lock);
  if (restoreState.terminal.load() >= 0) return true;
  // A descriptor of our own: the caller's may be closed and its number reused.
  const int kept = ::fcntl(fd, F_DUPFD_CLOEXEC, 0);
  if (kept < 0) return false;
  restoreState.original = settings;
  restoreState.terminal.store(kept);
  arrangeRestore();
  return true;
}

int TakenTerminal() {
  return restoreState.terminal.load();
}

bool SetHostSettings(bool signals) {
  const int fd = restoreState.terminal.load();
  struct termios settings {};
  if (fd < 0 || ::tcgetattr(fd, &settings) != 0) return false;
  settings.c_lflag &= ~static_cast<tcflag_t>(ICANON | ECHO | ECHONL | IEXTEN);
  settings.c_lflag = signals ? (settings.c_lflag | ISIG) : (settings.c_lflag & ~ISIG);
  // A signal key (Ctrl+C, Ctrl+Z) would otherwise throw away the output the
  // terminal has not shown yet.
  settings.c_lflag |= NOFLSH;
  // CR stays CR (Enter) and LF stays LF (the keypad's Enter).
  settings.c_iflag &= ~static_cast<tcflag_t>(ICRNL | INLCR | IGNCR | IXON);
  settings.c_cc[VMIN] = 1;
  settings.c_cc[VTIME] = 0;
  HostState& state = host();
  std::lock_guard lock(state.lock);
  // In the background the settings wait for the continue in the foreground
  // that takes the terminal back.
  if (!applyInForeground(fd, TCSANOW, settings) && inForeground(fd)) return false;
  state.hostSettings = settings;
  state.hostSettingsSet = true;
  return true;
}

bool SetTerminalSettings(int fd, const struct termios& settings) {
  return applyInForeground(fd, TCSANOW, settings) || !inForeground(fd);
}

void SetMouseReporting(bool on) {
  HostState& state = host();
  std::lock_guard lock(state.lock);
  if (restoreState.terminal.load() < 0 || state.mouseOn == on) return;
  if (!state.mouseOffPrepared) {
    prepareRestoreBytes(kMouseOff);
    state.mouseOffPrepared = true;
  }
  state.mouseOn = on;
  // Handed back to the shell, the terminal reports no mouse: the continue
  // that takes it back asks for the mode then.
  if (restoreState.handedBack.load()) return;
  WriteToTerminal(on ? kMouseOn : kMouseOff, std::strlen(on ? kMouseOn : kMouseOff));
}

void SetAutoWrap(int fd, bool on) {
  HostState& state = host();
  std::lock_guard lock(state.lock);
  if (state.wrapOn == on) return;
  if (!state.wrapOnPrepared) {
    arrangeRestore();
    prepareRestoreBytes(kWrapOn);
    state.wrapOnPrepared = true;
  }
  state.wrapOn = on;
  writeAll(fd, on ? kWrapOn : kWrapOff, std::strlen(on ? kWrapOn : kWrapOff));
}

void SaveTerminalTitle() {
  HostState& state = host();
  std::lock_guard lock(state.lock);
  if (state.titleSaved) return;
  state.titleSaved = true;
  arrangeRestore();
  prepareRestoreBytes(kTitlePop);
  WriteToTerminal(kTitlePush, std::strlen(kTitlePush));
}

void ShowSavedTerminalTitle() {
  HostState& state = host();
  std::lock_guard lock(state.lock);
  if (!state.titleSaved) return;
  WriteToTerminal(kTitlePop, std::strlen(kTitlePop));
  WriteToTerminal(kTitlePush, std::strlen(kTitlePush));
}

void WriteToTerminal(const char* bytes, unsigned long length) {
  const int fd = restoreState.terminal.load();
  writeAll(fd >= 0 ? fd : STDOUT_FILENO, bytes, length);
}

// In the background the settings are the shell's business; the bytes
// (mouse reporting off, the title popped) still go out unless a stop handed
// the terminal back already, which wrote them.
void RestoreTerminal() {
  if (restoreState.restored.exchange(true)) return;
  const int fd = restoreState.terminal.load();
  if (restoreState.handedBack.load()) return;
  const int savedErrno = errno;  // it may run in a signal handler
  {
    const TtouBlocked blocked;  // with TOSTOP a write from the background raises it too
    writeAll(fd >= 0 ? fd : STDOUT_FILENO, restoreState.bytes, restoreState.restoreLength.load());
    if (fd >= 0) applyInForeground(fd, TCSANOW, restoreState.original);
  }
  errno = savedErrno;
}

}  // namespace win32::detail
