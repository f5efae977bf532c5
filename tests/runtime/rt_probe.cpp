// A program for the run-time's tests: argv[1] names the scenario. Progress
// goes to standard output (plain writes, so it never mixes with the run-time's
// reports on standard error).
#include <fcntl.h>
#include <signal.h>
#include <unistd.h>
#ifdef _WIN32
#include <io.h>
#else
#include <sys/ioctl.h>
#endif

#include <atomic>
#include <cfenv>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <utility>
#include <string_view>
#include <thread>

#include "console/IO.h"
#include "runtime/kosFileIO.h"
#include "console/Lib.h"
#include "console/ktsIO.h"
#include "input/ktsEvQue.h"
#include "platform/console/Console.h"
#include "platform/kernel/Files.h"
#include "platform/kernel/Sync.h"
#include "platform/kernel/Threads.h"
#include "runtime/EXCEPTIONS.h"
#include "runtime/Storage.h"
#include "runtime/TERMINATION.h"
#include "runtime/kosExit.h"
#include "runtime/krExceptions.h"
#include "runtime/krnK2C.h"
#include "runtime/krnHold.h"
#include "runtime/krnShowHistory.h"
#include "runtime/krnStart.h"
#include "tests/runtime/ProbeScenarios.h"
#include "tests/support/Scenarios.h"

namespace {

void say(const std::string& text) {
  std::string line = text + "\n";
  if (::write(STDOUT_FILENO, line.data(), line.size()) < 0) _exit(120);
}

void sayTrap(const char* who, const K2C_HandlerFrame& frame) {
  say(std::string(who) + " " + std::to_string(frame.source->number) + " " + frame.source->message);
}

// ---- faults the compiler cannot see coming ----

__attribute__((noinline, no_sanitize("undefined"))) int divideBy(int divisor) {
  volatile int dividend = 7;
  return dividend / divisor;
}

__attribute__((noinline)) double divideFloat(double divisor) {
  volatile double dividend = 1.0;
  return dividend / divisor;
}

__attribute__((noinline, no_sanitize("undefined"))) int readThrough(int* pointer) {
  int* volatile p = pointer;
  return *p;
}

int zeroInt() {
  static volatile int zero = 0;
  return zero;
}

double zeroDouble() {
  static volatile double zero = 0.0;
  return zero;
}

int* nullInt() {
  static int* volatile null = nullptr;
  return null;
}

struct Announcer {
  std::string name;
  ~Announcer() { say("destroyed " + name); }
};

// ---- finalisers and exit procedures ----

void finA() {
  say("fin A");
}
void finB() {
  say("fin B");
}
void finC() {
  say("fin C");
}
void finRaising() {
  say("fin raising");
  K2C_TRAP_F(K2C_TRAP_NR_RANGE);
}
void finHalting() {
  say("fin halting");
  K2C_HALT(4);
}

template <int N>
void exitProc() {
  say("exit " + std::to_string(N));
}

// Registers exitProc<From> up to, not including, exitProc<To>, in order.
template <int From, int To>
void registerExitProcs() {
  []<int... I>(std::integer_sequence<int, I...>) {
    (K2C_atexit(&exitProc<From + I>), ...);
  }
  (std::make_integer_sequence<int, To - From>{});
}

// ---- scenarios ----

void registerThreeFinalisers();

void handledFloatTrap() {
  for (int round = 0; round < 2; ++round) {
    K2C_Protect([] { say("result " + std::to_string(divideFloat(zeroDouble()))); },
                [](K2C_HandlerFrame& frame) { sayTrap("caught", frame); });
    say(std::string("flags clear ") + (std::fetestexcept(FE_ALL_EXCEPT) == 0 ? "yes" : "no"));
  }
}

void handledNil() {
  K2C_Protect(
      [] {
        Announcer guard{"guard"};
        say("read " + std::to_string(readThrough(nullInt())));
      },
      [](K2C_HandlerFrame& frame) { sayTrap("caught", frame); });
  say("after");
}

void handledIntDiv() {
  K2C_Protect([] { say("quotient " + std::to_string(divideBy(zeroInt()))); },
              [](K2C_HandlerFrame& frame) { sayTrap("caught", frame); });
  say("after");
}

std::uint64_t opaque(std::uint64_t value) {
  static volatile std::uint64_t sink;
  sink = value;
  return sink;
}

// Values live in registers across a fault in the same function: the unwinder
// must hand them back to the handler as they were at the fault.
// An index check that fails two calls below the scenario.
__attribute__((noinline)) int indexInner(std::uint32_t index) {
  static int table[4] = {1, 2, 3, 4};
  return table[K2C_CheckIndex<std::uint32_t>(index, 4)];
}
__attribute__((noinline)) int indexOuter(std::uint32_t index) {
  return indexInner(index + 1) + 1;
}
// The same check under more frames than the history holds.
__attribute__((noinline)) int indexDeep(std::uint32_t depth) {
  if (depth == 0) return indexInner(9);
  return indexDeep(depth - 1) + 1;
}

__attribute__((noinline)) void registersSurviveFault() {
  std::uint64_t a = opaque(1), b = opaque(20), c = opaque(300), d = opaque(4000);
  std::uint64_t e = opaque(50000), f = opaque(600000);
  K2C_Protect(
      [&]() __attribute__((no_sanitize("undefined"))) {
        a += opaque(1);
        b += opaque(1);
        int* volatile p = nullInt();
        c += static_cast<std::uint64_t>(*p);
        d += opaque(1);
      },
      [&](K2C_HandlerFrame& frame) {
        e += frame.source->number;
        f += opaque(1);
      });
  say("sum " + std::to_string(a + b + c + d + e + f));
}

void nestedFrames() {
  K2C_Protect(
      [] {
        Announcer outerGuard{"outer guard"};
        K2C_Protect(
            [] {
              Announcer innerGuard{"inner guard"};
              K2C_CheckIndex<std::uint32_t>(7, 3);
              say("not reached");
            },
            [](K2C_HandlerFrame& frame) {
              sayTrap("inner", frame);
              K2C_XON();
            });
        say("not reached either");
      },
      [](K2C_HandlerFrame& frame) { sayTrap("outer", frame); });
  say("after");
}

void faultOnSecondThread() {
  K2C_Protect(
      [] {
        std::thread worker([] { say("worker read " + std::to_string(readThrough(nullInt()))); });
        worker.join();
        say("joined");
      },
      [](K2C_HandlerFrame& frame) { sayTrap("main caught", frame); });
  say("main after");
}

// A thread of the standard library has no alternate signal stack: the
// filter runs on the faulting stack itself.
void handledFaultOnSecondThread() {
  std::thread worker([] {
    K2C_Protect(
        [] {
          Announcer guard{"worker guard"};
          say("worker read " + std::to_string(readThrough(nullInt())));
        },
        [](K2C_HandlerFrame& frame) { sayTrap("worker caught", frame); });
  });
  worker.join();
  say("joined");
}

void writeMarker(const char* path) {
  std::ofstream(path) << "ready\n";
}

void waitInLoop(const char* marker) {
  Lib::BEGIN();
  writeMarker(marker);
  for (;;) Lib::Delay(50);
}

// The loop runs inside a frame that reports what it catches; the guard's
// destructor shows that the frame was unwound.
void loopInFrame(const char* marker, void (*loop)(const char*)) {
  K2C_Protect(
      [marker, loop] {
        Announcer guard{"loop guard"};
        loop(marker);
      },
      [](K2C_HandlerFrame& frame) { sayTrap("caught", frame); });
}

void waitInFrame(const char* marker) {
  Lib::BEGIN();
  loopInFrame(marker, waitInLoop);
}

void computeInLoop(const char* marker) {
  writeMarker(marker);
  volatile std::uint64_t counter = 0;
  for (;;) counter = counter + 1;
}

// A loop of platform calls that never waits for long and never writes: every
// wait is a safe point, so a break or an exit is answered here at once.
void busyInPlatformCalls() {
  win32::HANDLE event = win32::CreateEventA(nullptr, win32::TRUE, win32::FALSE, nullptr);
  for (;;) {
    win32::SetEvent(event);
    if (win32::WaitForSingleObject(event, 0) != win32::WAIT_OBJECT_0) K2C_HALT(98);
    win32::ResetEvent(event);
  }
}

void busyInLoop(const char* marker) {
  writeMarker(marker);
  busyInPlatformCalls();
}

void busyInFrame(const char* marker) {
  loopInFrame(marker, busyInLoop);
}

// A halt from another thread while the main thread is busy: in platform
// calls (answered at the next wait) or computing (no safe point: the exit
// runs without it once the bound is over). Either way every finaliser runs.
void haltWhileBusy(bool computes) {
  registerThreeFinalisers();
  std::thread([] {
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    K2C_HALT(5);
  }).detach();
  if (computes) {
    volatile std::uint64_t counter = 0;
    for (;;) counter = counter + 1;
  }
  busyInPlatformCalls();
}

// The main thread is inside a channel's update when another thread asks it
// to stop; it enters nested updates until one sees the stop. The outer
// update is still half done then, and the asking thread must find it so.
void stopInNestedUpdate() {
  static const int outerRecord = 0;
  static const int innerRecord = 0;
  K2C_ExitShield outer(&outerRecord);
  std::thread([] {
    const bool stopped = K2C_StopMainThread();
    say(std::string("stopped ") + (stopped ? "yes" : "no"));
    say(std::string("outer update ") + (K2C_InChannelUpdate(&outerRecord) ? "open" : "closed"));
    say(std::string("inner update ") + (K2C_InChannelUpdate(&innerRecord) ? "open" : "closed"));
    K2C_HALT(6);
  }).detach();
  for (;;) {
    K2C_ExitShield inner(&innerRecord);
  }
}

// The scenarios below that send signals, fork or look at a pipe's fill
// level are Linux's: Windows has no such calls.
#ifndef _WIN32
// A break caught by its frame, then an unrelated terminate: that is not
// reported as the break.
void terminateAfterCaughtBreak() {
  Lib::BEGIN();
  K2C_Protect(
      [] {
        ::kill(::getpid(), SIGINT);
        for (;;) Lib::Delay(10);
      },
      [](K2C_HandlerFrame& frame) { sayTrap("caught", frame); });
  std::terminate();
}
#endif

void spinInFrame(const char* marker) {
  loopInFrame(marker, computeInLoop);
}

// Two threads end the program at once: the second waits for the first,
// whose finaliser is still running, and the code is the first one's.
std::atomic<bool> slowFinaliserStarted{false};

void finSlow() {
  say("fin slow start");
  slowFinaliserStarted.store(true);
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  say("fin slow end");
}

void twoExits() {
  K2C_FINALLY(&finA);
  K2C_FINALLY(&finSlow);
  std::thread([] {
    while (!slowFinaliserStarted.load()) std::this_thread::yield();
    K2C_HALT(6);
  }).detach();
  K2C_HALT(3);
}

// ---- the exit race: the main thread writes numbered lines to standard
// output through the channels while the exits named by `kinds` come at
// about `delay` microseconds: r the main thread returns, h another thread
// halts with 5, t another thread traps (unhandled), b a break while the main
// thread now and then waits, B a break while it never waits; p keeps the
// main thread busy in platform calls between its lines; s stops the
// process for 300 ms from outside at that moment; w makes standard output a
// pipe nobody reads, and the exits come once the main thread is blocked in
// a write to it ("blocked" in their note). Each exit first notes on
// standard error how many lines were complete; the finaliser names the
// thread that runs the exit.

thread_local const char* threadRole = "other";
std::atomic<std::uint32_t> linesDone{0};
#ifdef _WIN32
win32::HANDLE stalledPipe = nullptr;  // the reading end, never read
#else
int stalledPipe = -1;  // w: the reading end, never read
#endif

void sayErr(const std::string& text) {
  std::string line = text + "\n";
  if (::write(STDERR_FILENO, line.data(), line.size()) < 0) _exit(121);
}

void finNamesItsThread() {
  sayErr(std::string("fin on ") + threadRole);
}

#ifdef _WIN32
// Standard output becomes a pipe nobody reads: the channels take the
// standard handle when they start.
void makeStandardOutputAStalledPipe() {
  win32::HANDLE write = nullptr;
  if (!win32::CreatePipe(&stalledPipe, &write, nullptr, 0) ||
      !win32::SetStdHandle(win32::STD_OUTPUT_HANDLE, write)) {
    _exit(122);
  }
}

// Bytes wait in the pipe and the main thread has not finished a line for
// 200 ms: it is blocked in a write.
void awaitMainBlockedInAWrite() {
  std::uint32_t lines = linesDone.load();
  for (;; lines = linesDone.load()) {
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    win32::DWORD queued = 0;
    if (win32::PeekNamedPipe(stalledPipe, nullptr, 0, nullptr, &queued, nullptr) && queued > 0 &&
        linesDone.load() == lines) {
      return;
    }
  }
}
#else
// With the moment on the monotonic clock (microseconds), which the test
// compares with the moment the process had ended.
void noteExit(const char* kind) {
  const auto now = std::chrono::steady_clock::now().time_since_epoch();
  const auto micros = std::chrono::duration_cast<std::chrono::microseconds>(now).count();
  sayErr(std::string(kind) + " at " + std::to_string(linesDone.load()) +
         " t=" + std::to_string(micros) + (stalledPipe >= 0 ? " blocked" : ""));
}

void makeStandardOutputAStalledPipe() {
  int ends[2];
  if (::pipe(ends) != 0 || ::dup2(ends[1], STDOUT_FILENO) < 0) _exit(122);
  stalledPipe = ends[0];
}

// The pipe is full and the main thread has not finished a line for 200 ms:
// it is blocked in a write.
void awaitMainBlockedInAWrite() {
  const int capacity = ::fcntl(stalledPipe, F_GETPIPE_SZ);
  std::uint32_t lines = linesDone.load();
  for (int queued = 0;; lines = linesDone.load()) {
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    if (::ioctl(stalledPipe, FIONREAD, &queued) == 0 && queued >= capacity - 1024 &&
        linesDone.load() == lines) {
      return;
    }
  }
}
#endif

#ifndef _WIN32
void startStopper(std::chrono::microseconds delay) {
  const pid_t self = ::getpid();
  if (::fork() != 0) return;
  ::close(STDOUT_FILENO);
  ::close(STDERR_FILENO);
  ::usleep(static_cast<useconds_t>(delay.count()));
  ::kill(self, SIGSTOP);
  ::usleep(300000);
  ::kill(self, SIGCONT);
  ::_exit(0);
}

void startExitThread(char kind, std::chrono::microseconds delay) {
  std::thread([kind, delay] {
    if (stalledPipe >= 0) awaitMainBlockedInAWrite();
    std::this_thread::sleep_for(delay);
    if (kind == 'h') {
      threadRole = "halter";
      noteExit("halt");
      K2C_HALT(5);
    } else if (kind == 't') {
      threadRole = "trapper";
      noteExit("trap");
      K2C_TRAP_RANGE();
    } else {
      noteExit("break");
      ::kill(::getpid(), SIGINT);
    }
  }).detach();
}

void exitRace(const std::string& kinds, std::chrono::microseconds delay) {
  if (kinds.find('w') != std::string::npos) makeStandardOutputAStalledPipe();
  IO::BEGIN();
  threadRole = "main";
  K2C_FINALLY(&finNamesItsThread);
  for (char kind : kinds) {
    if (kind == 's') startStopper(delay);
    if (kind == 'h' || kind == 't' || kind == 'b' || kind == 'B') startExitThread(kind, delay);
  }
  const bool returns = kinds.find('r') != std::string::npos;
  const bool waits = kinds.find('b') != std::string::npos;
  // p: between its lines the main thread is busy in platform calls.
  const bool busy = kinds.find('p') != std::string::npos;
  win32::HANDLE event = win32::CreateEventA(nullptr, win32::TRUE, win32::FALSE, nullptr);
  const auto end = std::chrono::steady_clock::now() + delay;
  for (std::uint32_t i = 0;; ++i) {
    IO::WrStr("line ");
    IO::WrCard(i, 0);
    IO::WrLn();
    linesDone.store(i + 1);
    if (waits && i % 16 == 0) win32::SleepEx(0, win32::TRUE);
    for (int call = 0; busy && call < 64; ++call) {
      win32::SetEvent(event);
      win32::WaitForSingleObject(event, 0);
      win32::ResetEvent(event);
    }
    if (returns && std::chrono::steady_clock::now() >= end) {
      noteExit("return");
      IO::WrStr("pending");
      return;
    }
  }
}
#endif

void longMessage() {
  EXCEPTIONS::ExceptionSource source = nullptr;
  EXCEPTIONS::AllocateSource(source);
  std::string message(1024, 'm');
  message += "tail";
  EXCEPTIONS::RAISE(source, 77, message.c_str(), message.size() + 1);
}

void raisedSource() {
  EXCEPTIONS::ExceptionSource source = nullptr;
  EXCEPTIONS::AllocateSource(source);
  K2C_Protect([source] { EXCEPTIONS::RAISE(source, 42, "custom trouble", 40); },
              [](K2C_HandlerFrame& frame) { sayTrap("caught", frame); });
}

void printArguments(std::int32_t argc, char** argv) {
  say("argc " + std::to_string(argc));
  for (std::int32_t i = 0; i < argc; ++i) say("argv[" + std::to_string(i) + "] " + argv[i]);
  std::string sysarg = "NIL";
  if (K2C_sysarg != nullptr) sysarg.assign("[").append(K2C_sysarg).append("]");
  say("sysarg " + sysarg);
  say(std::string("program ") + K2C_GetProgramName());
}

void messageBox() {
  K2C_StdOutInit(win32::INVALID_HANDLE_VALUE);
  std::string text(2000, 'x');
  K2C_StdOut(text.data(), static_cast<std::uint32_t>(text.size()));
  K2C_StdOutFlush();
  K2C_StdOutFlush();  // empty now: no second box
}

std::string hex(std::uint32_t value) {
  char text[16];
  std::snprintf(text, sizeof text, "%X", value);
  return text;
}

std::uint16_t x87ControlWord() {
  std::uint16_t control;
  asm volatile("fnstcw %0" : "=m"(control));
  return control;
}

std::uint32_t sseExceptionMasks() {
  std::uint32_t mxcsr;
  asm volatile("stmxcsr %0" : "=m"(mxcsr));
  return mxcsr & 0x1F80;
}

void sayFpu(const std::string& who) {
  say(who + " x87 " + hex(x87ControlWord()) + " sse " + hex(sseExceptionMasks()));
}

win32::DWORD WINAPI reportFpuOfNewThread(win32::LPVOID) {
  sayFpu("new thread");
  return 0;
}

// Lib's body arms the floating-point traps on its own thread only, once.
void libraryBody() {
  sayFpu("before");
  Lib::BEGIN();
  Lib::BEGIN();
  sayFpu("after");
  win32::HANDLE thread =
      win32::CreateThread(nullptr, 0, &reportFpuOfNewThread, nullptr, 0, nullptr);
  win32::WaitForSingleObject(thread, win32::INFINITE);
  win32::CloseHandle(thread);
  Lib::Delay(0);
  Lib::Delay(1);
  say("delayed");
}

std::string consoleModeNow() {
  win32::DWORD mode = 0;
  if (!win32::GetConsoleMode(win32::GetStdHandle(win32::STD_INPUT_HANDLE), &mode)) return "none";
  return hex(mode);
}

void consoleModeSwitch() {
  say("start " + consoleModeNow());
  win32::DWORD saved = 0xABCD;
  ktsIO::SetConMode(true, saved);
  say("saved " + hex(saved));
  say("reading " + consoleModeNow());
  ktsIO::SetConMode(false, saved);
  say("restored " + consoleModeNow());
}

void registerThreeFinalisers() {
  K2C_FINALLY(&finA);
  K2C_FINALLY(&finB);
  K2C_FINALLY(&finC);
}

// The command line, for the scenarios that take more than their name.
std::int32_t commandArgc = 0;
char** commandArgv = nullptr;

const char* extra() {
  return commandArgc > 2 ? commandArgv[2] : "";
}

// The history tests name the frames from the fault up to Main: these two are
// the ones Main calls.
void indexTwoCallsDown() {
  say(std::to_string(indexOuter(7)));
}

void readNil() {
  say(std::to_string(readThrough(nullInt())));
}

// ---- exits that are stopped, stuck or cut short ----

// Work of about `total` in steps of 50 ms: a stop in the middle leaves the
// steps after it to do when the process goes on.
void workFor(std::chrono::milliseconds total) {
  for (auto done = std::chrono::milliseconds(0); done < total;
       done += std::chrono::milliseconds(50)) {
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
}

// A finaliser that never returns: the limiter ends the exit.
void finStuck() {
  say("fin stuck");
  for (;;) std::this_thread::sleep_for(std::chrono::hours(1));
}

#ifndef _WIN32
// 0.8 s of running time with a stop of 3 s in the middle, as a SIGSTOP and
// SIGCONT from outside would make it: a child of its own continues it.
void finStoppedInTheMiddle() {
  say("fin stopped start");
  std::this_thread::sleep_for(std::chrono::milliseconds(200));
  const pid_t self = ::getpid();
  if (::fork() == 0) {
    ::close(STDOUT_FILENO);
    ::close(STDERR_FILENO);
    ::sleep(3);
    ::kill(self, SIGCONT);
    ::_exit(0);
  }
  ::kill(self, SIGSTOP);
  workFor(std::chrono::milliseconds(600));
  say("fin stopped end");
}
#endif

// As the program ends while its terminal is the job's: the console's input
// mode is restored by the event queue's finaliser.
void endInTerminal(void (*finaliser)()) {
  ktsEvQue::BEGIN();
  K2C_FINALLY(&finA);
  if (finaliser != nullptr) K2C_FINALLY(finaliser);
}

// Its marker says the exit is under way, and it takes 0.8 s.
void finSlowMarked() {
  writeMarker(extra());
  say("fin slow start");
  workFor(std::chrono::milliseconds(800));
  say("fin slow end");
}

// Ends by itself once the file named after the marker (".go") is there.
void endWhenTold() {
  endInTerminal(nullptr);
  writeMarker(extra());
  const std::string go = std::string(extra()) + ".go";
  while (::access(go.c_str(), F_OK) != 0) Lib::Delay(50);
}

// The main thread writes to standard output, a pipe nobody reads, until a
// write blocks; another thread then halts. The exit runs on without the main
// thread, whose line is cut short.
void haltWhileOutputStalls() {
  makeStandardOutputAStalledPipe();
  IO::BEGIN();
  K2C_FINALLY(&finNamesItsThread);
  std::thread([] {
    threadRole = "halter";
    awaitMainBlockedInAWrite();
    K2C_HALT(5);
  }).detach();
  for (;;) {
    IO::WrStr("a line that will not get through");
    IO::WrLn();
    linesDone.fetch_add(1);
  }
}

using testing_support::Scenario;
namespace names = probe_scenario;

// Scenarios that run before K2C_BEGIN (nothing of the run-time's own is
// registered yet).
const Scenario<void()> kBeforeBegin[] = {
    {"atexit",
     [] {
       registerExitProcs<0, 8>();
       say("eight registered");
       K2C_atexit(&exitProc<8>);
       say("ninth registered");
     }},
    {"lib-body", &libraryBody},  // K2C_BEGIN arms the traps too
};

const Scenario<void()> kScenarios[] = {
    {"return", &registerThreeFinalisers},
    {"begin-twice",
     [] {
       registerThreeFinalisers();
       K2C_BEGIN(commandArgc, commandArgv, false, 0, 0);  // widens limits only
       registerExitProcs<2, 8>();
       say("six more registered");
     }},
    {"thread-halt",
     [] {
       registerThreeFinalisers();
       std::thread([] { K2C_HALT(5); }).join();
     }},
    {"halt",
     [] {
       registerThreeFinalisers();
       K2C_HALT(3);
     }},
    {names::kIndex, [] { K2C_CheckIndex<std::uint32_t>(5, 3); }},
    {names::kRange, [] { K2C_CheckRange<std::int32_t>(-1, 0, 10); }},
    {names::kOverflow, [] { K2C_CheckedAddU32(0xFFFFFFFFu, 1); }},
    {names::kUnderflow, [] { K2C_CheckedSubU32(1, 2); }},
    {names::kProduct,
     [] {
       say(std::to_string(K2C_CheckedMulU32(65536, 65535)));
       K2C_CheckedMulU32(65536, 65536);
     }},
    {names::kAssert, [] { K2C_ASSERT_F(100); }},
    {names::kTrap15, [] { K2C_TRAP_F(15); }},
    {names::kTrap4000000000, [] { K2C_TRAP_F(4000000000u); }},
    {names::kXRemoveEmpty, [] { K2C_XREMOVE(); }},
    {"intdiv", [] { say(std::to_string(divideBy(zeroInt()))); }},
    {"intdiv-handled", &handledIntDiv},
    {"floatdiv", [] { say(std::to_string(divideFloat(zeroDouble()))); }},
    {"floatdiv-handled", &handledFloatTrap},
    {"nil", &readNil},
    {names::kHistoryNil, &readNil},
    {"nil-handled", &handledNil},
    {"registers", &registersSurviveFault},
    {"nested", &nestedFrames},
    {"thread-fault-handled", &handledFaultOnSecondThread},
    {"thread-fault", &faultOnSecondThread},
    {"fin-raise-older",
     [] {
       K2C_FINALLY(&finA);
       K2C_FINALLY(&finRaising);
       K2C_FINALLY(&finC);
     }},
    {"fin-raise-last",
     [] {
       K2C_FINALLY(&finRaising);
       K2C_FINALLY(&finB);
     }},
    {"fin-halt",
     [] {
       K2C_FINALLY(&finA);
       K2C_FINALLY(&finHalting);
       K2C_FINALLY(&finC);
     }},
    {"halt-then-fin-halt",
     [] {
       K2C_FINALLY(&finA);
       K2C_FINALLY(&finHalting);
       K2C_FINALLY(&finC);
       K2C_HALT(3);
     }},
    {"finally-exhausted",
     [] {
       K2C_SimulateHeapExhaustion(true);
       K2C_FINALLY(&finA);
     }},
    {names::kHistoryIndex, &indexTwoCallsDown},
    {"nested-index", &indexTwoCallsDown},
    {"history-deep", [] { say(std::to_string(indexDeep(300))); }},
    {names::kSplitExhausted,
     [] {
       K2C_SimulateHeapExhaustion(true);
       char line[] = "rt_probe one two";
       say(std::to_string(K2C_SplitCommandLine(line).argc));
     }},
    {names::kSourceExhausted,
     [] {
       K2C_SimulateHeapExhaustion(true);
       EXCEPTIONS::ExceptionSource source = nullptr;
       EXCEPTIONS::AllocateSource(source);
     }},
    {"long-message", &longMessage},
    {"raise", &raisedSource},
    {"args", [] { printArguments(commandArgc, commandArgv); }},
    {"message-box", &messageBox},
    {"console-mode", &consoleModeSwitch},
    {names::kLoop, [] { waitInLoop(extra()); }},
    {names::kLoopInFrame, [] { waitInFrame(extra()); }},
    {names::kSpinInFrame, [] { spinInFrame(extra()); }},
    {names::kBusy, [] { busyInLoop(extra()); }},
    {names::kBusyInFrame, [] { busyInFrame(extra()); }},
    {"busy-halt", [] { haltWhileBusy(false); }},
    {"spin-halt", [] { haltWhileBusy(true); }},
    {"stop-in-nested-update", &stopInNestedUpdate},
    {names::kKeyWait,
     [] {
       // As the program waits for its ending key: mouse reporting on.
       ktsEvQue::BEGIN();
       writeMarker(extra());
       char ch = 0;
       std::uint8_t scan = 0;
       if (ktsEvQue::getKey(ch, scan, true)) say(std::string("key ") + ch);
     }},
// Signals sent by a process, a stop from outside, a pipe's fill level:
// Linux's alone.
#ifndef _WIN32
    {"sent-fault-signal",
     [] {
       // A fault signal sent by a process: no instruction faulted.
       registerThreeFinalisers();
       Lib::BEGIN();
       ::kill(::getpid(), std::atoi(extra()));
       for (;;) Lib::Delay(50);
     }},
    {"terminate-after-break", &terminateAfterCaughtBreak},
#endif
    {"fin-stuck",
     [] {
       IO::BEGIN();
       K2C_FINALLY(&finA);
       K2C_FINALLY(&finStuck);
       IO::WrStr("pending");
     }},
#ifndef _WIN32
    {"stop-in-exit",
     [] {
       IO::BEGIN();
       K2C_FINALLY(&finA);
       K2C_FINALLY(&finStoppedInTheMiddle);
       IO::WrStr("pending");
     }},
#endif
    {names::kSlowExit, [] { endInTerminal(&finSlowMarked); }},
    {names::kEndWhenTold, &endWhenTold},
    {"two-exits", &twoExits},
    {"halt-while-output-stalls", &haltWhileOutputStalls},
#ifndef _WIN32
    {"exit-race",
     [] {
       exitRace(extra(),
                std::chrono::microseconds(commandArgc > 3 ? std::atoi(commandArgv[3]) : 0));
     }},
#endif
    {names::kSpin, [] { computeInLoop(extra()); }},
};

void Main(std::int32_t argc, char** argv) {
  commandArgc = argc;
  commandArgv = argv;
  const std::string_view scenario = argc > 1 ? argv[1] : "";
  if (auto* bare = testing_support::FindScenario(kBeforeBegin, scenario)) {
    bare();
    return;
  }
  auto* run = testing_support::ScenarioOrExit(kScenarios, scenario);
  if (scenario.starts_with("history-")) K2C_INIT_HISTORY();
  K2C_InitFPP();
  K2C_BEGIN(argc, argv, true, 2000000, 4000000);
  run();
  // The exit race's standard output holds its lines only.
  if (scenario != "exit-race") say("main returns");
}

}  // namespace

int main() {
#ifdef _WIN32
  // The probe's own lines are compared byte for byte with Linux's: the C
  // run-time must not turn "\n" into CR LF on standard output or error.
  _setmode(STDOUT_FILENO, _O_BINARY);
  _setmode(STDERR_FILENO, _O_BINARY);
#endif
  kStart(&Main);
}
