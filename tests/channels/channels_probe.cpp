// Helper program for the channel process tests: runs the scenario named by
// its first argument through the standard channels and IO, as the
// application does, and reports what it observes on standard error.
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>
#ifdef _WIN32
#include <fcntl.h>
#include <io.h>
#else
#include <sys/resource.h>
#endif

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <string_view>

#include "channels/IOChan.h"
#include "channels/IOLink.h"
#include "channels/StdChans.h"
#include "channels/kDevData.h"
#include "console/IO.h"
#include "runtime/EXCEPTIONS.h"
#include "runtime/Storage.h"
#include "runtime/TERMINATION.h"
#include "runtime/krExceptions.h"
#include "runtime/krnK2C.h"
#include "runtime/krnShowHistory.h"
#include "runtime/krnStart.h"
#ifdef _WIN32
#include "platform/kernel/Handles.h"
#endif
#include "tests/support/Scenarios.h"

namespace {

// The size of standard output's file, written as a line on standard error.
void reportSize(const char* label) {
  struct stat st {};
  ::fstat(1, &st);
  std::fprintf(stderr, "%s %lld\n", label, static_cast<long long>(st.st_size));
  std::fflush(stderr);
}

void writeLines() {
  IO::WrStr("mouseclick at x=");
  IO::WrCard(12, 0);
  IO::WrStr(", y=");
  IO::WrCard(345, 0);
  IO::WrLn();
  IO::WrStr("second");
  IO::WrLn();
}

void pendingThenLine() {
  IO::WrStr("abc");
  reportSize("after text:");
  IO::WrLn();
  reportSize("after line:");
}

void threeHundredWithoutLineEnd() {
  std::string text(300, 'x');
  IO::WrStr(text);
  reportSize("after 300:");
  IO::WrStr("y");
  reportSize("after 301:");
  IO::WrLn();
  reportSize("after line:");
}

#ifndef _WIN32
// Writes beyond `bytes` fail; the platform keeps the limit's signal from
// ending the process. Windows has no limit of the kind: the scenarios that
// use it are Linux's.
void limitFileSize(rlim_t bytes) {
  rlimit limit{bytes, bytes};
  ::setrlimit(RLIMIT_FSIZE, &limit);
}

// A write failure caught by the program; the text written after it is still
// pending at the end.
void caughtThenPending() {
  limitFileSize(4);
  K2C_Protect(
      [] {
        IO::WrStr("more than four bytes");
        IO::WrLn();
      },
      [](K2C_HandlerFrame&) { std::fprintf(stderr, "caught\n"); });
  IO::WrStr("final pending text");
}

// A halt inside a handler frame whose pending output cannot be written: the
// exit reports it and never resumes in the frame.
void haltInFrame() {
  limitFileSize(4);
  K2C_Protect(
      [] {
        IO::WrStr("pending at the halt");
        K2C_HALT(3);
      },
      [](K2C_HandlerFrame&) { std::fprintf(stderr, "resumed\n"); });
  std::fprintf(stderr, "after the halt\n");
}

// Ends by the named signal, sent to itself while the main thread waits, with
// text pending on standard output.
void pendingAtSignal(int signal) {
  IO::WrStr("pending at the signal");
  ::kill(::getpid(), signal);
  for (;;) ::pause();
}
#endif

// Standard input through the standard input channel: every read result.
void readInput() {
  IOChan::ChanId in = StdChans::InChan();
  for (int i = 0; i < 20; ++i) {
    char text[3] = {};
    std::uint32_t n = 0;
    IOChan::TextRead(in, text, sizeof text, n);
    char ch = '?';
    IOConsts::ReadResult look = IOConsts::notKnown;
    IOChan::Look(in, ch, look);
    std::fprintf(stderr, "read %u [%.*s] look %d\n", n, static_cast<int>(n), text, look);
    if (look == IOConsts::endOfInput) break;
    if (look == IOConsts::endOfLine) IOChan::Skip(in);
  }
  IOChan::Skip(in);  // at the end: skipAtEnd
}

using testing_support::Scenario;

// Scenarios that start the standard channels themselves.
const Scenario<void()> kBeforeIO[] = {
    {"exhausted-start",
     [] {
       // Entered through IOLink, IOChan's body runs inside IOLink's, before
       // IOLink needs its exception source: IOChan cannot make the invalid
       // channel and halts with 9, without a report. The heap's own body and
       // the exception sources start with memory.
       EXCEPTIONS::BEGIN();
       Storage::BEGIN();
       K2C_SimulateHeapExhaustion(true);
       IOLink::BEGIN();
       std::fprintf(stderr, "start-up went on\n");
     }},
    {"exhausted-std",
     [] {
       IOChan::BEGIN();
       kDevData::BEGIN();
       // Only the standard channels are made without memory: IO's own imports
       // (the console input queue registers a finaliser) need the heap.
       K2C_SimulateHeapExhaustion(true);
       StdChans::BEGIN();
       K2C_SimulateHeapExhaustion(false);
       IO::BEGIN();
       IO::WrStr("lost");  // the standard output channel is the invalid channel
     }},
};

const Scenario<void()> kScenarios[] = {
    {"lines", &writeLines},
    {"pending-end", [] { IO::WrStr("tail without line end"); }},
    {"pending-halt",
     [] {
       IO::WrStr("before halt");
       K2C_HALT(3);
     }},
    {"pending-trap",
     [] {
       IO::WrStr("before trap");
       K2C_TRAP_RANGE();
     }},
    {"pending-line", &pendingThenLine},
    {"three-hundred", &threeHundredWithoutLineEnd},
    {"write-fails",
     [] {
       IO::WrStr("never seen");
       IO::WrLn();
       std::fprintf(stderr, "still running\n");
     }},
#ifndef _WIN32
    {"end-flush-fails",
     [] {
       limitFileSize(4);
       IO::WrStr("more than four bytes, no line end");
     }},
    {"line-flush-fails",
     [] {
       limitFileSize(4);
       IO::WrStr("more than four bytes");
       IO::WrLn();
     }},
    {"trap-over-pending",
     [] {
       // The file is full to a byte when the trap comes; its report's history
       // is what the report file must keep.
       K2C_INIT_HISTORY();
       limitFileSize(1024);
       IO::WrStr(std::string(1021, 'x'));
       IO::WrLn();
       IO::WrStr(std::string(100, 'y'));
       K2C_TRAP_RANGE();
     }},
    {"caught-then-pending", &caughtThenPending},
    {"halt-in-frame", &haltInFrame},
    {"pending-sigterm", [] { pendingAtSignal(SIGTERM); }},
    {"pending-sighup", [] { pendingAtSignal(SIGHUP); }},
#endif
    {"read", &readInput},
};

void Main(std::int32_t argc, char** argv) {
  const std::string_view scenario = argc > 1 ? argv[1] : "";
  K2C_InitFPP();
  K2C_BEGIN(argc, argv, true, 2000000, 4000000);
  if (auto* beforeIO = testing_support::FindScenario(kBeforeIO, scenario)) {
    beforeIO();
    return;
  }
  auto* run = testing_support::ScenarioOrExit(kScenarios, scenario);
  IO::BEGIN();
  run();
}

}  // namespace

int main(int argc, char** argv) {
#ifdef _WIN32
  // The probe's own lines are compared byte for byte with Linux's: the C
  // run-time's stderr must not turn "\n" into CR LF.
  _setmode(_fileno(stderr), _O_BINARY);
  // Standard error shares standard output's file from the start.
  if (argc > 2 && std::string_view(argv[2]) == "stderr-to-stdout") {
    win32::SetStdHandle(win32::STD_ERROR_HANDLE, win32::GetStdHandle(win32::STD_OUTPUT_HANDLE));
  }
#else
  // Standard error shares standard output's file from the start.
  if (argc > 2 && std::string_view(argv[2]) == "stderr-to-stdout") ::dup2(1, 2);
#endif
  kStart(&Main);
}
