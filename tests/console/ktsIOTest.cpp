// The console mode switch around string reads.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <thread>

#include "tests/support/Subprocess.h"
#include "tests/support/TestFiles.h"
#ifndef _WIN32
#include "tests/support/Tmux.h"
#endif
#include "tests/support/Wait.h"

namespace {

std::string Probe() {
  return testing_support::ExecutableDirectory() + "/../runtime/rt_probe";
}

TEST(SetConMode, StandardInputNotAConsoleChangesNothingAndHandsBackZero) {
  testing_support::RunOptions options;
  options.stdinData = "typed ahead\n";
  auto result = testing_support::RunProgram(Probe(), {"console-mode"}, options);
  EXPECT_EQ(result.exitCode, 0) << result.err;
  EXPECT_EQ(result.out, "start none\nsaved 0\nreading none\nrestored none\nmain returns\n");
}

#ifndef _WIN32
using testing_support::ReadFile;
using testing_support::ShellQuote;
#endif

// On a real terminal (a tmux pane) the mode is widened by processed, line and
// echo input and put back afterwards.
TEST(SetConMode, OnATerminalWidensAndRestores) {
#ifdef _WIN32
  GTEST_SKIP() << "the probe runs in a terminal under tmux, which the Windows build has not; the "
                  "runner gives it pipes, no console of its own";
#else
  if (!testing_support::Tmux::Available()) GTEST_SKIP() << "tmux is missing";
  const testing_support::TempDir dir;
  const std::string out = dir.file("out");
  const std::string done = dir.file("done");
  auto tmux = std::make_unique<testing_support::Tmux>("ktsio");
  ASSERT_TRUE(tmux->Start(ShellQuote(Probe()) + " console-mode > " + ShellQuote(out) + " 2>&1; " +
                          testing_support::RecordExitStatus(done)));
  testing_support::WaitUntil([&] { return !ReadFile(done).empty(); }, std::chrono::seconds(30),
                             std::chrono::milliseconds(50));
  tmux.reset();
  std::string text = ReadFile(out);
  std::string status = ReadFile(done);
  ASSERT_EQ(status, "EXIT=0\n") << text;

  std::istringstream lines(text);
  std::string word, start, saved, reading, restored;
  lines >> word >> start >> word >> saved >> word >> reading >> word >> restored;
  ASSERT_NE(start, "none") << text;
  unsigned long startMode = std::stoul(start, nullptr, 16);
  EXPECT_EQ(std::stoul(saved, nullptr, 16), startMode);
  EXPECT_EQ(std::stoul(reading, nullptr, 16), startMode | 7u);
  EXPECT_EQ(std::stoul(restored, nullptr, 16), startMode);
#endif
}

}  // namespace
