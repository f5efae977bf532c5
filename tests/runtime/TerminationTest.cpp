#include <gtest/gtest.h>

#include <csignal>
#include <string>

#include "tests/runtime/ProbeRunner.h"

namespace {

using runtime_tests::Report;
using runtime_tests::RunProbe;

// Standard output a file, so the channel buffers it to the end.
testing_support::RunResult RunProbeToFile(const std::string& scenario) {
  testing_support::RunOptions options;
  options.stdoutTarget = testing_support::StdoutTarget::File;
  return testing_support::RunProgram(runtime_tests::ProbePath(), {scenario}, options);
}

TEST(Termination, MainReturningRunsFinalisersNewestFirstAndExitsZero) {
  auto result = RunProbe("return");
  EXPECT_EQ(result.exitCode, 0);
  EXPECT_EQ(result.out, "main returns\nfin C\nfin B\nfin A\n");
  EXPECT_EQ(result.err, "");
}

TEST(Termination, HaltEndsWithItsCodeAfterTheSameSequence) {
  auto result = RunProbe("halt");
  EXPECT_EQ(result.exitCode, 3);
  EXPECT_EQ(result.out, "fin C\nfin B\nfin A\n");
}

TEST(Termination, HaltFromAnotherThreadRunsTheSameSequenceThere) {
  auto result = RunProbe("thread-halt");
  EXPECT_EQ(result.exitCode, 5);
  EXPECT_EQ(result.out, "fin C\nfin B\nfin A\n");
}

TEST(Termination, ASecondExitWaitsForTheFirstToEndWithItsCode) {
  auto result = RunProbe("two-exits");
  EXPECT_EQ(result.exitCode, 3);
  EXPECT_EQ(result.out, "fin slow start\nfin slow end\nfin A\n");
}

TEST(Termination, ExceptionInFinaliserIsDroppedWhileOlderOnesRemain) {
  auto result = RunProbe("fin-raise-older");
  EXPECT_EQ(result.exitCode, 0);
  EXPECT_EQ(result.out, "main returns\nfin C\nfin raising\nfin A\n");
  EXPECT_EQ(result.err, "");
}

TEST(Termination, ExceptionInLastFinaliserIsReportedAndEndsWithNine) {
  auto result = RunProbe("fin-raise-last");
  EXPECT_EQ(result.exitCode, 9);
  EXPECT_EQ(result.out, "main returns\nfin B\nfin raising\n");
  EXPECT_EQ(result.err, Report("1: expression out of bounds"));
}

TEST(Termination, HaltInFinaliserSkipsTheRestAndTakesItsCode) {
  auto result = RunProbe("fin-halt");
  EXPECT_EQ(result.exitCode, 4);
  EXPECT_EQ(result.out, "main returns\nfin C\nfin halting\n");
}

// The new code ends the process even when the exit had one of its own.
TEST(Termination, HaltInFinaliserOfAHaltTakesTheNewCode) {
  auto result = RunProbe("halt-then-fin-halt");
  EXPECT_EQ(result.exitCode, 4);
  EXPECT_EQ(result.out, "fin C\nfin halting\n");
}

// Another thread halts while the main thread is busy: making platform
// calls, it stops at its next wait; computing, it reaches no safe point and
// the exit runs without it once the bound is over. Every finaliser runs on
// the halting thread either way.
TEST(Termination, HaltFromAnotherThreadWhileTheMainThreadIsBusy) {
  for (const char* scenario : {"busy-halt", "spin-halt"}) {
    auto result = RunProbe(scenario);
    EXPECT_EQ(result.exitCode, 5) << scenario;
    EXPECT_EQ(result.out, "fin C\nfin B\nfin A\n") << scenario;
    EXPECT_EQ(result.err, "") << scenario;
  }
}

// A stop seen by an update nested in another leaves the outer one marked
// as under way: the exit must not flush that half-updated record.
TEST(Termination, AStopSeenInANestedUpdateLeavesTheOuterUpdateMarked) {
  auto result = RunProbe("stop-in-nested-update");
  EXPECT_EQ(result.exitCode, 6);
  EXPECT_EQ(result.out, "stopped yes\nouter update open\ninner update closed\n");
}

// A break caught by its frame is done with: a later terminate is not
// reported as the break.
TEST(Termination, TerminateAfterACaughtBreakIsNotTheBreak) {
#ifdef _WIN32
  GTEST_SKIP() << "the break is sent as SIGINT, which Windows has no call to send";
#else
  auto result = RunProbe("terminate-after-break");
  EXPECT_EQ(result.out, "caught 21 USER BREAK\n");
  EXPECT_EQ(result.err.find("USER BREAK"), std::string::npos) << result.err;
  EXPECT_EQ(result.signal, SIGABRT);
#endif
}

// A fault signal sent from outside is no hardware fault: the program ends as
// for a termination signal, the orderly exit first, then by that signal.
TEST(Termination, FaultSignalSentFromOutsideEndsByItAfterTheOrderlyExit) {
#ifdef _WIN32
  GTEST_SKIP() << "Windows has no fault signals a process can send";
#else
  for (int signal : {SIGSEGV, SIGFPE, SIGBUS}) {
    auto result = RunProbe("sent-fault-signal", {std::to_string(signal)});
    EXPECT_EQ(result.signal, signal);
    EXPECT_EQ(result.out, "fin C\nfin B\nfin A\n") << signal;
    EXPECT_EQ(result.err, "") << signal;
  }
#endif
}

// A finaliser that never returns: the limiter says so, still writes out the
// buffered output, and ends with 9, not with the exit's 0.
TEST(Termination, AStuckFinaliserIsReportedAndTheOutputStillWritten) {
  auto result = RunProbeToFile("fin-stuck");
  EXPECT_EQ(result.exitCode, 9);
  EXPECT_EQ(result.out, "main returns\nfin stuck\npending");
  EXPECT_EQ(result.err, "#RTS: the exit did not finish in time\r\n");
}

// Stopped from outside for longer than the exit's bound: the bound counts
// the time the process runs, so the exit goes on in full after the continue.
TEST(Termination, AStopInTheMiddleOfTheExitDoesNotCutItShort) {
#ifdef _WIN32
  GTEST_SKIP() << "the stop and the continue are SIGSTOP and SIGCONT, which Windows lacks";
#else
  auto result = RunProbeToFile("stop-in-exit");
  EXPECT_EQ(result.exitCode, 0) << result.err;
  EXPECT_EQ(result.out, "main returns\nfin stopped start\nfin stopped end\nfin A\npending");
  EXPECT_EQ(result.err, "");
#endif
}

// The main thread is stuck in a write to a pipe nobody reads when another
// thread halts: the exit runs on without it and names the cut channel.
TEST(Termination, OutputCutByAnExitWithoutTheMainThreadIsReported) {
  auto result = RunProbe("halt-while-output-stalls");
  EXPECT_EQ(result.exitCode, 5);
  EXPECT_EQ(result.err, "fin on halter\n#RTS: output to standard output not written in full\r\n");
}

TEST(Termination, NinthExitProcedureRaisesTrap13AndTheEightStillRun) {
  auto result = RunProbe("atexit");
  EXPECT_EQ(result.exitCode, 9);
  EXPECT_EQ(result.out,
            "eight registered\nexit 7\nexit 6\nexit 5\nexit 4\nexit 3\nexit 2\nexit 1\nexit 0\n");
  EXPECT_EQ(result.err, Report("13: COROUTINE exception"));
}

// Start-up takes two slots (coroutine clean-up, finaliser runner), however
// often K2C_BEGIN runs; the finalisers registered before a second K2C_BEGIN
// stay.
TEST(Termination, SecondBeginTakesNoFurtherSlot) {
  auto result = RunProbe("begin-twice");
  EXPECT_EQ(result.exitCode, 0) << result.err;
  EXPECT_EQ(result.out,
            "six more registered\nmain returns\nexit 7\nexit 6\nexit 5\nexit 4\nexit 3\n"
            "exit 2\nfin C\nfin B\nfin A\n");
}

TEST(Termination, FinaliserWithoutMemoryRaisesTrap18) {
  auto result = RunProbe("finally-exhausted");
  EXPECT_EQ(result.exitCode, 9);
  EXPECT_EQ(result.err, Report("18: out of heap space"));
}

}  // namespace
