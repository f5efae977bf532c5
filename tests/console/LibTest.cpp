#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <string>

#include "console/Lib.h"
#include "console/ktsLib.h"
#include "platform/kernel/Sync.h"
#include "platform/kernel/Threads.h"
#include "tests/support/Subprocess.h"

namespace {

std::string Probe() {
  return testing_support::ExecutableDirectory() + "/../runtime/rt_probe";
}

// Each delay lasts at least as long as asked, and a short one returns soon
// after (the bound leaves room for a busy machine).
TEST(Delay, ReturnsForZeroAndShortDelays) {
  using Clock = std::chrono::steady_clock;
  const auto lasts = [](auto delay, std::uint32_t milliseconds) {
    const auto start = Clock::now();
    delay(milliseconds);
    return Clock::now() - start;
  };
  const auto lib = [](std::uint32_t ms) { Lib::Delay(ms); };
  const auto kts = [](std::uint32_t ms) { ktsLib::Delay(ms); };
  constexpr auto kSoon = std::chrono::milliseconds(500);
  EXPECT_LT(lasts(lib, 0), kSoon);
  const auto libTwo = lasts(lib, 2);
  EXPECT_GE(libTwo, std::chrono::milliseconds(2));
  EXPECT_LT(libTwo, kSoon);
  EXPECT_LT(lasts(kts, 0), kSoon);
  const auto ktsOne = lasts(kts, 1);
  EXPECT_GE(ktsOne, std::chrono::milliseconds(1));
  EXPECT_LT(ktsOne, kSoon);
}

int apcRuns = 0;

// The delay is where the console break reaches the main thread: it runs the
// APCs queued for its thread, which no plain wait does.
TEST(Delay, RunsTheApcsQueuedForItsThread) {
  auto count = [](win32::ULONG_PTR) WINAPI { ++apcRuns; };
  ASSERT_TRUE(win32::QueueUserAPC(count, win32::GetCurrentThread(), 0));
  ASSERT_TRUE(win32::QueueUserAPC(count, win32::GetCurrentThread(), 0));
  Lib::Delay(1);
  EXPECT_EQ(apcRuns, 2);
  ASSERT_TRUE(win32::QueueUserAPC(count, win32::GetCurrentThread(), 0));
  ktsLib::Delay(0);
  EXPECT_EQ(apcRuns, 3);
}

// Lib's body sets up the floating-point unit once, on its own thread: new
// threads still start with every exception masked, and with Windows x64's
// double precision (027F; the main thread's 037F is the C run-time's
// start-up). The x87 control word 0332 reads back as 0372: its bit 6 always
// reads as one.
TEST(LibBody, ArmsTheFloatingPointTrapsOnItsThreadOnly) {
  auto result = testing_support::RunProgram(Probe(), {"lib-body"});
  EXPECT_EQ(result.exitCode, 0) << result.err;
  EXPECT_EQ(result.out, std::string("before x87 37F sse 1F80\n"
                                    "after x87 372 sse 1900\n"
                                    "new thread x87 27F sse 1F80\n"
                                    "delayed\n"));
}

}  // namespace
