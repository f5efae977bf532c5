#include <gtest/gtest.h>

#include "console/Lib.h"
#include "console/ktsLib.h"
#include "platform/kernel/Sync.h"
#include "platform/kernel/Threads.h"
#include "tests/support/Subprocess.h"

namespace {

std::string Probe() {
  return testing_support::ExecutableDirectory() + "/../runtime/rt_probe";
}

TEST(Delay, ReturnsForZeroAndShortDelays) {
  Lib::Delay(0);
  Lib::Delay(2);
  ktsLib::Delay(0);
  ktsLib::Delay(1);
  SUCCEED();
}

int apcRuns = 0;

// The delay is where the console break reaches the main thread: it runs the
// APCs queued for its thread, which no plain wait does.
TEST(Delay, RunsTheApcsQueuedForItsThread) {
  auto count = [](win32::ULONG_PTR) { ++apcRuns; };
  ASSERT_TRUE(win32::QueueUserAPC(count, win32::GetCurrentThread(), 0));
  ASSERT_TRUE(win32::QueueUserAPC(count, win32::GetCurrentThread(), 0));
  Lib::Delay(1);
  EXPECT_EQ(apcRuns, 2);
  ASSERT_TRUE(win32::QueueUserAPC(count, win32::GetCurrentThread(), 0));
  ktsLib::Delay(0);
  EXPECT_EQ(apcRuns, 3);
}

// Lib's body sets up the floating-point unit once, on its own thread: new
// threads still start with every exception masked. (The x87 control word
// 0332 reads back as 0372: its bit 6 always reads as one.)
TEST(LibBody, ArmsTheFloatingPointTrapsOnItsThreadOnly) {
  auto result = testing_support::RunProgram(Probe(), {"lib-body"});
  EXPECT_EQ(result.exitCode, 0) << result.err;
  EXPECT_EQ(result.out,
            "before x87 37F sse 1F80\n"
            "after x87 372 sse 1900\n"
            "new thread x87 37F sse 1F80\n"
            "delayed\n");
}

}  // namespace
