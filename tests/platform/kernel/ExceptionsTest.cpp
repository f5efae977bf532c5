#include "platform/kernel/Exceptions.h"
#include "platform/kernel/ExceptionsInternal.h"

#include <signal.h>

#include <gtest/gtest.h>

#include <string>

#include "tests/support/Subprocess.h"

namespace {

using testing_support::RunProgram;
using testing_support::RunResult;

RunResult runFaultProgram(const std::string& mode) {
  return RunProgram(testing_support::ExecutableDirectory() + "/kernel_fault_program", {mode});
}

RunResult runCtrlProgram(const std::string& mode, const testing_support::RunOptions& options = {}) {
  return RunProgram(testing_support::ExecutableDirectory() + "/kernel_ctrl_program", {mode},
                    options);
}

TEST(ExceptionsTest, NullDereferenceReachesTheFilterAsAccessViolation) {
  auto result = runFaultProgram("null");
  EXPECT_EQ(result.exitCode, 42) << result.err;
  EXPECT_EQ(result.out, "code=C0000005 same-thread=1\n");
}

TEST(ExceptionsTest, IntegerDivisionByZero) {
  auto result = runFaultProgram("intdiv");
  EXPECT_EQ(result.exitCode, 42) << result.err;
  EXPECT_EQ(result.out, "code=C0000094 same-thread=1\n");
}

TEST(ExceptionsTest, FloatDivisionByZeroWithTheTrapUnmasked) {
  auto result = runFaultProgram("fltdiv");
  EXPECT_EQ(result.exitCode, 42) << result.err;
  EXPECT_EQ(result.out, "code=C000008E same-thread=1\n");
}

TEST(ExceptionsTest, FilterRewritesRegistersAndResumes) {
  auto result = runFaultProgram("resume");
  EXPECT_EQ(result.exitCode, 0) << result.err;
  EXPECT_EQ(result.out, "resumed rax=1234 round=toward-zero\n");
}

TEST(ExceptionsTest, FaultOnAnotherThreadIsFilteredOnThatThread) {
  auto result = runFaultProgram("thread");
  EXPECT_EQ(result.exitCode, 42) << result.err;
  EXPECT_EQ(result.out, "code=C0000005 same-thread=1\n");
}

TEST(ExceptionsTest, StackOverflowIsReportedOnTheAlternateStack) {
  auto result = runFaultProgram("overflow");
  EXPECT_EQ(result.exitCode, 42) << result.err;
  EXPECT_EQ(result.out, "code=C00000FD same-thread=1\n");
}

TEST(ExceptionsTest, RefusedFaultRunsExitHooksAndEndsByTheSignal) {
  auto result = runFaultProgram("unhandled");
  EXPECT_EQ(result.signal, SIGSEGV);
  EXPECT_EQ(result.out, "exit hook ran\n");
}

TEST(ExceptionsTest, InterruptSignalCallsTheControlHandler) {
  auto result = runCtrlProgram("handled");
  EXPECT_EQ(result.exitCode, 0) << result.err;
  EXPECT_EQ(result.out, "event 0\ndone\n");
}

TEST(ExceptionsTest, HandlersAreAskedNewestFirst) {
  auto result = runCtrlProgram("order");
  EXPECT_EQ(result.exitCode, 0) << result.err;
  EXPECT_EQ(result.out, "refused 6\nevent 6\ndone\n");
}

TEST(ExceptionsTest, UnansweredInterruptRunsExitHooksAndEndsByTheSignal) {
  auto result = runCtrlProgram("default");
  EXPECT_EQ(result.signal, SIGINT);
  EXPECT_EQ(result.out, "refused 0\nexit hook ran\n");
}

TEST(ExceptionsTest, UnansweredInterruptPutsTheTerminalBack) {
  testing_support::RunOptions options;
  options.stdoutTarget = testing_support::StdoutTarget::Terminal;
  auto result = runCtrlProgram("restore", options);
  EXPECT_EQ(result.signal, SIGINT) << result.exitCode;
  EXPECT_EQ(result.out, "terminal restored\n");  // the terminal is raw: no CR added
}

TEST(ExceptionsTest, IgnoredInterruptReachesNoHandler) {
  auto result = runCtrlProgram("ignore");
  EXPECT_EQ(result.exitCode, 0) << result.err;
  EXPECT_EQ(result.out, "event 1\ndone\n");
}

TEST(ExceptionsTest, RaisedEventReachesTheHandlers) {
  auto result = runCtrlProgram("raise");
  EXPECT_EQ(result.exitCode, 0) << result.err;
  EXPECT_EQ(result.out, "event 2\ndone\n");
}

TEST(ExceptionsTest, BreakReachesTheMainThreadAsAThrowingApc) {
  auto result = runCtrlProgram("break");
  EXPECT_EQ(result.exitCode, 0) << result.err;
  EXPECT_EQ(result.out, "break caught\n");
}

TEST(ExceptionsTest, ControlSignalsAreBlockedHereAndUnblockedInAForkedChild) {
  win32::detail::StartConsoleCtrlThread();
  sigset_t mask;
  pthread_sigmask(SIG_BLOCK, nullptr, &mask);
  EXPECT_EQ(sigismember(&mask, SIGINT), 1);
  EXPECT_EQ(sigismember(&mask, SIGTERM), 1);
  const testing_support::ChildEnd end = testing_support::RunInChild([] {
    sigset_t childMask;
    pthread_sigmask(SIG_BLOCK, nullptr, &childMask);
    const bool unblocked =
        sigismember(&childMask, SIGINT) == 0 && sigismember(&childMask, SIGQUIT) == 0 &&
        sigismember(&childMask, SIGHUP) == 0 && sigismember(&childMask, SIGTERM) == 0;
    return unblocked ? 0 : 1;
  });
  ASSERT_TRUE(end.waited);
  EXPECT_TRUE(end.exited);
  EXPECT_EQ(end.code, 0);
}

}  // namespace
