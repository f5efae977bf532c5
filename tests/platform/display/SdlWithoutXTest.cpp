// The SDL back-end without an X server: windows fail at once, message boxes
// go to standard error.
#include <gtest/gtest.h>

#include "tests/support/Subprocess.h"

namespace {

using testing_support::RunOptions;
using testing_support::RunProgram;

std::string Program() {
  return testing_support::ExecutableDirectory() + "/display_without_x_program";
}

TEST(SdlWithoutXTest, CreateWindowFailsAtOnceWithEmptyDisplay) {
  RunOptions options;
  options.environment = {"DISPLAY="};
  options.timeoutSeconds = 20;
  auto result = RunProgram(Program(), {"create"}, options);
  EXPECT_FALSE(result.timedOut);
  EXPECT_EQ(result.exitCode, 0);
  EXPECT_EQ(result.out.rfind("no window", 0), 0u) << result.out;
}

TEST(SdlWithoutXTest, CreateWindowFailsWhenTheServerIsNotThere) {
  RunOptions options;
  options.environment = {"DISPLAY=:9873"};  // no server listens there
  options.timeoutSeconds = 20;
  auto result = RunProgram(Program(), {"create"}, options);
  EXPECT_FALSE(result.timedOut);
  EXPECT_EQ(result.out.rfind("no window", 0), 0u) << result.out;
}

TEST(SdlWithoutXTest, MessageBoxWritesToStandardError) {
  RunOptions options;
  options.environment = {"DISPLAY="};
  auto result = RunProgram(Program(), {"messagebox"}, options);
  EXPECT_FALSE(result.timedOut);
  EXPECT_EQ(result.exitCode, 0);
  EXPECT_EQ(result.err, "Graph: Something failed\n");
  EXPECT_EQ(result.out, "answer 1\n");
}

}  // namespace
