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
#include <thread>

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
  std::ofstream(script) << ShellQuote(runtime_tests::ProbePath()) << " " << scenarios::kKeyWait
                        << " " << ShellQuote(marker.string()) << "\n"
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

// A job of bash's, with job control, in a tmux pane: the probe with a
// scenario (its marker says it is ready), standard output in a file, the
// exit status noted by the script around it.
class JobInShell {
 public:
  explicit JobInShell(const char* scenario) : tmux_("job") {
    const fs::path script = dir_.file("run.sh");
    // bash's kill reaches the script too: it waits on and notes the status.
    std::ofstream(script) << "trap : TERM\n"
                          << ShellQuote(runtime_tests::ProbePath()) << " " << scenario << " "
                          << ShellQuote(marker().string()) << " >" << ShellQuote(out().string())
                          << "\n"
                          << testing_support::RecordExitStatus(dir_.file("exit")) << "\n";
    started_ = tmux_.Start("env PS1='$ ' bash --norc --noprofile -i") &&
               tmux_.SendLiteral("sh " + ShellQuote(script.string()) + "\r");
  }

  bool Ready() { return started_ && WaitForFile(marker(), std::chrono::seconds(30)); }
  // Ctrl+Z, and the shell has said so.
  bool Stop() { return tmux_.SendKeys("C-z") && AwaitScreen("Stopped"); }
  bool AwaitScreen(const std::string& text) {
    return testing_support::WaitUntil(
        [&] { return tmux_.Screen().find(text) != std::string::npos; }, std::chrono::seconds(20),
        std::chrono::milliseconds(50));
  }
  bool Command(const std::string& line) { return tmux_.SendLiteral(line + "\r"); }
  // The exit line, once the job has ended; empty when it has not in time.
  std::string ExitLine() {
    WaitForFile(dir_.file("exit"), std::chrono::seconds(20));
    return ReadFile(dir_.file("exit"));
  }
  // The terminal's settings as the shell has them now.
  std::string ShellsSettings() {
    const fs::path settings = dir_.file("settings");
    Command("stty -a > " + ShellQuote(settings.string()));
    WaitForFile(settings, std::chrono::seconds(20));
    return ReadFile(settings);
  }
  fs::path marker() const { return dir_.file("ready"); }
  fs::path out() const { return dir_.file("out"); }
  std::string Screen() { return tmux_.Screen(); }

 private:
  testing_support::TempDir dir_;
  Tmux tmux_;
  bool started_ = false;
};

// bash's kill of a stopped job sends SIGTERM, then SIGCONT: the job goes on
// in the background, where its exit must neither stop it again nor touch
// the terminal the shell has.
TEST(StopInTerminal, KillEndsAStoppedJob) {
  if (!Tmux::Available()) GTEST_SKIP() << "tmux is missing";
  JobInShell job(scenarios::kKeyWait);
  ASSERT_TRUE(job.Ready());
  ASSERT_TRUE(job.Stop());
  ASSERT_TRUE(job.Command("kill %1"));
  EXPECT_EQ(job.ExitLine(), "EXIT=143\n") << job.Screen();
  const std::string modes = job.ShellsSettings();
  EXPECT_NE(modes.find(" icanon"), std::string::npos) << modes;
  EXPECT_NE(modes.find(" echo "), std::string::npos) << modes;
}

TEST(StopInTerminal, AJobSentToTheBackgroundEndsByItself) {
  if (!Tmux::Available()) GTEST_SKIP() << "tmux is missing";
  JobInShell job(scenarios::kEndWhenTold);
  ASSERT_TRUE(job.Ready());
  ASSERT_TRUE(job.Stop());
  ASSERT_TRUE(job.Command("bg"));
  ASSERT_TRUE(job.AwaitScreen("&"));
  std::ofstream(job.marker().string() + ".go") << "go\n";
  EXPECT_EQ(job.ExitLine(), "EXIT=0\n") << job.Screen();
  EXPECT_EQ(ReadFile(job.out()), "main returns\nfin A\n");
}

// Stopped for longer than the exit's bound in the middle of a finaliser:
// after fg the exit goes on where it was, every finaliser runs.
TEST(StopInTerminal, CtrlZDuringTheExitLeavesItWhole) {
  if (!Tmux::Available()) GTEST_SKIP() << "tmux is missing";
  JobInShell job(scenarios::kSlowExit);
  ASSERT_TRUE(job.Ready());
  ASSERT_TRUE(job.Stop());
  // The stop has to outlast the bound: this wait is the case, not a guess.
  std::this_thread::sleep_for(std::chrono::seconds(3));
  ASSERT_TRUE(job.Command("fg"));
  EXPECT_EQ(job.ExitLine(), "EXIT=0\n") << job.Screen();
  EXPECT_EQ(ReadFile(job.out()), "main returns\nfin slow start\nfin slow end\nfin A\n");
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
