// Ctrl+C typed in a real terminal (a tmux pane) ends the program with the
// break report.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "tests/runtime/ProbeRunner.h"
#include "tests/runtime/ProbeScenarios.h"
#include "tests/support/TestFiles.h"
#include "tests/support/Tmux.h"
#include "tests/support/Wait.h"

namespace {

namespace fs = std::filesystem;

using testing_support::ReadFile;
using testing_support::ShellQuote;
namespace scenarios = probe_scenario;

// Waits until the file has something in it.
bool WaitForFile(const fs::path& path, std::chrono::seconds limit) {
  return testing_support::WaitUntil([&] { return !ReadFile(path).empty(); }, limit,
                                    std::chrono::milliseconds(50));
}

class BreakInTerminal : public testing::TestWithParam<const char*> {
 protected:
  void SetUp() override {
    if (!testing_support::Tmux::Available()) GTEST_SKIP() << "tmux is missing";
  }
  testing_support::TempDir dir_;
};

struct Outcome {
  std::string exitLine;
  std::string out;
  std::string err;
};

Outcome RunAndBreak(const testing_support::TempDir& dir, const std::string& scenario,
                    const std::string& keys = "C-c") {
  fs::path marker = dir.file("ready");
  fs::path out = dir.file("out");
  fs::path err = dir.file("err");
  fs::path exitFile = dir.file("exit");
  std::string program = ShellQuote(runtime_tests::ProbePath()) + " " + scenario + " " +
                        ShellQuote(marker.string()) + " >" + ShellQuote(out.string()) + " 2>" +
                        ShellQuote(err.string()) + "; " +
                        testing_support::RecordExitStatus(exitFile.string());
  testing_support::Tmux tmux("break");
  EXPECT_TRUE(tmux.Start(program));
  if (!WaitForFile(marker, std::chrono::seconds(30))) return {"never ready", "", ""};
  EXPECT_TRUE(tmux.SendKeys(keys));
  if (!WaitForFile(exitFile, std::chrono::seconds(30))) return {"no exit after the keys", "", ""};
  return {ReadFile(exitFile), ReadFile(out), ReadFile(err)};
}

TEST_P(BreakInTerminal, CtrlCEndsWithTheBreakReportAndNine) {
  Outcome outcome = RunAndBreak(dir_, GetParam());
  EXPECT_EQ(outcome.exitLine, "EXIT=9\n");
  EXPECT_EQ(outcome.err, "#RTS: unhandled exception #21: USER BREAK\r\n");
}

// "loop" waits in Lib.Delay, where the break arrives at once; "busy" makes
// platform calls only (each wait a safe point); "spin" computes and never
// reaches a safe point, so the control handler reports the break itself.
INSTANTIATE_TEST_SUITE_P(Runtime, BreakInTerminal,
                         testing::Values(scenarios::kLoop, scenarios::kBusy, scenarios::kSpin));

}  // namespace

namespace {

// The main thread raises the break itself at its next safe point, so a
// frame around a loop that reaches one (a delay, a wait) catches it like any
// trap. A loop of pure computation reaches none: it is left where it is, its
// frame never sees the break, and the control thread reports it and ends
// the program with every finaliser that can run.
struct FrameRow {
  const char* scenario;
  const char* exitLine;
  const char* out;
  const char* err;
};

void PrintTo(const FrameRow& row, std::ostream* out) {
  *out << row.scenario;
}

constexpr char kCaught[] = "destroyed loop guard\ncaught 21 USER BREAK\nmain returns\n";
constexpr char kBreakReport[] = "#RTS: unhandled exception #21: USER BREAK\r\n";

class BreakInFrame : public testing::TestWithParam<FrameRow> {
 protected:
  void SetUp() override {
    if (!testing_support::Tmux::Available()) GTEST_SKIP() << "tmux is missing";
  }
  testing_support::TempDir dir_;
};

TEST_P(BreakInFrame, CtrlCIsCaughtByTheMainThreadsFrame) {
  const FrameRow& row = GetParam();
  Outcome outcome = RunAndBreak(dir_, row.scenario);
  EXPECT_EQ(outcome.exitLine, row.exitLine);
  EXPECT_EQ(outcome.out, row.out);
  EXPECT_EQ(outcome.err, row.err);
}

INSTANTIATE_TEST_SUITE_P(Runtime, BreakInFrame,
                         testing::Values(FrameRow{scenarios::kLoopInFrame, "EXIT=0\n", kCaught, ""},
                                         FrameRow{scenarios::kBusyInFrame, "EXIT=0\n", kCaught, ""},
                                         FrameRow{scenarios::kSpinInFrame, "EXIT=9\n", "",
                                                  kBreakReport}),
                         [](const testing::TestParamInfo<FrameRow>& info) {
                           std::string name = info.param.scenario;
                           std::replace(name.begin(), name.end(), '-', '_');
                           return name;
                         });

}  // namespace

namespace {

using testing_support::ShellQuote;
using testing_support::Tmux;

// Ctrl+Z in a shell with job control: while the program is stopped the
// shell has its terminal back (line mode and echo, no mouse reporting);
// after fg the program has raw mode and its mouse reporting again, and one
// key, without Enter, ends it.
TEST(StopInTerminal, CtrlZHandsTheTerminalBackAndFgTakesItAgain) {
  if (!Tmux::Available()) GTEST_SKIP() << "tmux is missing";
  const testing_support::TempDir dir;
  const fs::path marker = dir.file("ready");
  const fs::path settings = dir.file("settings");
  const fs::path exitFile = dir.file("exit");
  // One job: the shell stops and continues the script and the program as one.
  const fs::path script = dir.file("run.sh");
  std::ofstream(script) << ShellQuote(runtime_tests::ProbePath()) << " key-wait "
                        << ShellQuote(marker.string()) << "\n"
                        << testing_support::RecordExitStatus(exitFile.string()) << "\n";
  Tmux tmux("stop");
  ASSERT_TRUE(tmux.Start("env PS1='$ ' bash --norc --noprofile -i"));
  ASSERT_TRUE(tmux.SendLiteral("sh " + ShellQuote(script.string()) + "\r"));
  ASSERT_TRUE(WaitForFile(marker, std::chrono::seconds(30)));
  EXPECT_TRUE(tmux.AwaitQuery("#{mouse_any_flag}", "1"));

  ASSERT_TRUE(tmux.SendKeys("C-z"));
  EXPECT_TRUE(tmux.AwaitQuery("#{mouse_any_flag}", "0"));
  ASSERT_TRUE(tmux.SendLiteral("stty -a > " + ShellQuote(settings.string()) + "\r"));
  ASSERT_TRUE(WaitForFile(settings, std::chrono::seconds(20)));
  const std::string modes = ReadFile(settings);
  EXPECT_NE(modes.find(" icanon"), std::string::npos) << modes;
  EXPECT_NE(modes.find(" echo "), std::string::npos) << modes;

  ASSERT_TRUE(tmux.SendLiteral("fg\r"));
  EXPECT_TRUE(tmux.AwaitQuery("#{mouse_any_flag}", "1"));
  ASSERT_TRUE(tmux.SendKeys("x"));
  EXPECT_TRUE(WaitForFile(exitFile, std::chrono::seconds(20))) << tmux.Screen();
  EXPECT_EQ(ReadFile(exitFile), "EXIT=0\n");
}

// Ctrl+Break's counterpart on a terminal is Ctrl+backslash (the quit character).
TEST(BreakInTerminalQuitKey, EndsWithTheBreakReportAndNine) {
  if (!testing_support::Tmux::Available()) GTEST_SKIP() << "tmux is missing";
  testing_support::TempDir dir;
  Outcome outcome = RunAndBreak(dir, "loop", "'C-\\'");
  EXPECT_EQ(outcome.exitLine, "EXIT=9\n");
  EXPECT_EQ(outcome.err, "#RTS: unhandled exception #21: USER BREAK\r\n");
}

}  // namespace
