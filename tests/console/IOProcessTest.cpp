// IO's output as it reaches a terminal, a pipe and a disk file.
#include <gtest/gtest.h>

#include <string>

#include "tests/support/Subprocess.h"

namespace {

using testing_support::RunOptions;
using testing_support::RunProgram;
using testing_support::RunResult;
using testing_support::StdoutTarget;

RunResult runProbe(const std::string& scenario, StdoutTarget target,
                   const std::string& input = "") {
  RunOptions options;
  options.stdoutTarget = target;
  options.stdinData = input;
  return RunProgram(testing_support::ExecutableDirectory() + "/io_probe", {scenario}, options);
}

TEST(IOProcessTest, ClickLinesWithCrLfOnTerminalPipeAndFile) {
  const std::string expected =
      "mouseclick at x=0, y=  0\r\n"
      "mouseclick at x=10, y=  1\r\n"
      "mouseclick at x=20, y=  2\r\n"
      "left  |\r\n";
  for (StdoutTarget target : testing_support::kEveryOutputKind) {
    RunResult r = runProbe("clicks", target);
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(r.out, expected) << static_cast<int>(target);
  }
}

TEST(IOProcessTest, ReadingStringsWithPrompt) {
  // The line end is passed over; a line longer than the array is read in
  // parts; the prompt appears only at the start of a line.
  RunResult r = runProbe("read", StdoutTarget::Capture, "hello\r\nlonger line\r\n");
  EXPECT_EQ(r.exitCode, 0) << r.err;
#ifdef _WIN32
  // The probe reports through the C library's stderr, which Windows' C
  // run-time opens in text mode: each "\n" goes out as CR LF.
  EXPECT_EQ(r.err, "[hello]\r\n[longer]\r\n[ line]\r\n");
#else
  EXPECT_EQ(r.err, "[hello]\n[longer]\n[ line]\n");
#endif
  EXPECT_EQ(r.out, "???");
}

}  // namespace
