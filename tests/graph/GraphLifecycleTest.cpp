// What happens before the first Init, seen from a process of its own.
#include <gtest/gtest.h>

#include "tests/support/Subprocess.h"

namespace {

using testing_support::ExecutableDirectory;
using testing_support::RunProgram;

TEST(GraphLifecycle, StartValuesAndExitBeforeInitDoNothing) {
  const auto result = RunProgram(ExecutableDirectory() + "/graph_probe", {"start"});
  ASSERT_FALSE(result.timedOut) << result.err;
  EXPECT_EQ(result.exitCode, 0) << result.err;
  EXPECT_EQ(result.out,
            "fill mask 8, solid 8, width 0, depth 0, colours 0, grmode 0, hook 0\n"
            "exit before init: returned\n"
            "init: TRUE, window open, console title \"probe title\"\n"
            "exit twice after init: returned, window none\n");
}

TEST(GraphLifecycle, ClassThatCannotBeRegisteredHaltsWithAMessage) {
  const auto result = RunProgram(ExecutableDirectory() + "/graph_probe", {"class-taken"});
  ASSERT_FALSE(result.timedOut) << result.err;
  EXPECT_EQ(result.exitCode, 9);
  EXPECT_EQ(result.out, "");
  EXPECT_EQ(result.err, "Error: Win class was not registered\n");
}

TEST(GraphLifecycle, SizesTooLargeFailWithTheMessageAndKeepTheWindow) {
  const auto result = RunProgram(ExecutableDirectory() + "/graph_probe", {"too-large"});
  ASSERT_FALSE(result.timedOut) << result.err;
  EXPECT_EQ(result.exitCode, 0) << result.err;
  EXPECT_EQ(result.out,
            "init 8193x8192: FALSE, size 500x500, same window yes\n"
            "init 2147483647x0: FALSE, size 500x500, same window yes\n"
            "init 1x4294967280: FALSE, size 500x500, same window yes\n");
  EXPECT_EQ(result.err,
            "Error: Couldn't create main window\nError: Couldn't create main window\n"
            "Error: Couldn't create main window\n");
}

}  // namespace
