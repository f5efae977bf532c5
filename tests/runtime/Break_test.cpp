// Ctrl+C typed in a real terminal (a tmux pane) ends the program with the
// break report.
#include <gtest/gtest.h>

#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>

#include "tests/runtime/ProbeRunner.h"
#include "tests/support/TestFiles.h"
#include "tests/support/Tmux.h"
#include "tests/support/Wait.h"

namespace {

namespace fs = std::filesystem;

using testing_support::ReadFile;
using testing_support::ShellQuote;

// Waits until the file has something in it.
bool WaitForFile(const fs::path& path, std::chrono::seconds limit) {
  return testing_support::WaitUntil([&] { return !ReadFile(path).empty(); }, limit,
                                    std::chrono::milliseconds(50));
}

class BreakInTerminal : public testing::TestWithParam<const char*> {
 protected:
  void SetUp() override {
    if (!testing_support::Tmux::Available()) GTEST_SKIP() << "tmux is missing";
    dir_ = fs::temp_directory_path() /
           ("shapeboard-break-" + std::to_string(::getpid()) + "-" + GetParam());
    fs::create_directories(dir_);
  }
  void TearDown() override {
    std::error_code ignored;
    fs::remove_all(dir_, ignored);
  }
  fs::path dir_;
};

struct Outcome {
  std::string exitLine;
  std::string out;
  std::string err;
};

Outcome RunAndBreak(const fs::path& dir, const std::string& scenario,
                    const std::string& keys = "C-c") {
  fs::path marker = dir / "ready";
  fs::path out = dir / "out";
  fs::path err = dir / "err";
  fs::path exitFile = dir / "exit";
  std::string program = ShellQuote(runtime_tests::ProbePath()) + " " + scenario + " " +
                        ShellQuote(marker.string()) + " >" + ShellQuote(out.string()) + " 2>" +
                        ShellQuote(err.string()) + "; echo EXIT=$? > " +
                        ShellQuote(exitFile.string());
  testing_support::Tmux tmux("break");
  EXPECT_TRUE(tmux.Start(program));
  if (!WaitForFile(marker, std::chrono::seconds(30))) return {"never ready", "", ""};
  std::this_thread::sleep_for(std::chrono::milliseconds(200));
  EXPECT_TRUE(tmux.SendKeys(keys));
  if (!WaitForFile(exitFile, std::chrono::seconds(30))) return {"no exit after the keys", "", ""};
  return {ReadFile(exitFile), ReadFile(out), ReadFile(err)};
}

TEST_P(BreakInTerminal, CtrlCEndsWithTheBreakReportAndNine) {
  Outcome outcome = RunAndBreak(dir_, GetParam());
  EXPECT_EQ(outcome.exitLine, "EXIT=9\n");
  EXPECT_EQ(outcome.err, "#RTS: unhandled exception #21: USER BREAK\r\n");
}

// "loop" waits in Lib.Delay, where the break arrives at once; "spin" computes
// and never waits, so the control handler reports the break itself.
INSTANTIATE_TEST_SUITE_P(Runtime, BreakInTerminal, testing::Values("loop", "spin"));

}  // namespace

namespace {

// A frame around the loop catches the break like any trap, whether the main
// thread waits or computes (it is held and sent into the trap where it is).
class BreakInFrame : public BreakInTerminal {};

TEST_P(BreakInFrame, CtrlCIsCaughtByTheMainThreadsFrame) {
#if defined(__SANITIZE_THREAD__)
  // A computing thread cannot be held there: the break is reported instead.
  if (std::string(GetParam()) == "spin-in-frame") GTEST_SKIP() << "no thread holding";
#endif
  Outcome outcome = RunAndBreak(dir_, GetParam());
  EXPECT_EQ(outcome.exitLine, "EXIT=0\n");
  EXPECT_EQ(outcome.out, "destroyed loop guard\ncaught 21 USER BREAK\nmain returns\n");
  EXPECT_EQ(outcome.err, "");
}

INSTANTIATE_TEST_SUITE_P(Runtime, BreakInFrame, testing::Values("loop-in-frame", "spin-in-frame"));

}  // namespace

namespace {

// Ctrl+Break's counterpart on a terminal is Ctrl+backslash (the quit character).
TEST(BreakInTerminalQuitKey, EndsWithTheBreakReportAndNine) {
  if (std::system("command -v tmux >/dev/null 2>&1") != 0) GTEST_SKIP() << "tmux is missing";
  fs::path dir =
      fs::temp_directory_path() / ("shapeboard-break-quit-" + std::to_string(::getpid()));
  fs::create_directories(dir);
  Outcome outcome = RunAndBreak(dir, "loop", "'C-\\'");
  fs::remove_all(dir);
  EXPECT_EQ(outcome.exitLine, "EXIT=9\n");
  EXPECT_EQ(outcome.err, "#RTS: unhandled exception #21: USER BREAK\r\n");
}

}  // namespace
