// The console host on a real terminal (a tmux pane of the test's own): the
// terminal's settings, mouse reporting and title come back on every way out;
// typed keys and mouse reports arrive as records; the cursor query works.
// Standard input that is no terminal costs next to no CPU.
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>

#include "tests/platform/console/ConsoleHostScenarios.h"
#include "tests/support/Pty.h"
#include "tests/support/Subprocess.h"
#include "tests/support/TestFiles.h"
#include "tests/support/Tmux.h"
#include "tests/support/Wait.h"

namespace {

using testing_support::ReadFile;
using testing_support::TempDir;
using testing_support::WaitForFile;
using testing_support::WaitUntil;
namespace scenarios = console_host_scenario;

constexpr auto kLimit = std::chrono::seconds(20);

bool tmuxMissing() {
  return !testing_support::Tmux::Available();
}

std::string lastLine(std::string text) {
  while (!text.empty() && text.back() == '\n') text.pop_back();
  return text.substr(text.rfind('\n') == std::string::npos ? 0 : text.rfind('\n') + 1);
}

// One tmux server (own socket) with one 80x24 pane running a wrapper script
// that notes the terminal's settings before and after the program.
class Pane {
 public:
  Pane(const TempDir& dir, const std::string& scenario)
      : dir_(dir.path()), tmux_("conhost", "host") {
    const std::string script = dir_ + "/run.sh";
    // The wrapper outlives a Ctrl+C meant for the program (a caught signal is
    // the default again in the program).
    std::ofstream(script) << "#!/bin/sh\n"
                          << "trap true INT\n"
                          << "printf '\\033]2;before-title\\007'\n"
                          << "stty -g > " << dir_ << "/before\n"
                          << CONSOLE_HOST_PROGRAM << " " << scenario << " " << dir_ << "/out\n"
                          << "echo $? > " << dir_ << "/exit\n"
                          << "stty -g > " << dir_ << "/after\n"
                          << "echo done > " << dir_ << "/finished\n"
                          << "sleep 60\n";
    tmux_.Start("sh " + script);
  }

  bool tmux(const std::string& arguments) { return tmux_.Run(arguments); }
  std::string query(const std::string& format) { return tmux_.Query(format); }
  bool awaitQuery(const std::string& format, const std::string& value) {
    return tmux_.AwaitQuery(format, value);
  }
  std::string screen() { return tmux_.Screen(); }
  bool ready() {
    return WaitForFile(dir_ + "/out.pid", kLimit) && WaitForFile(dir_ + "/out", kLimit);
  }
  bool finished() { return WaitForFile(dir_ + "/finished", kLimit); }
  std::string file(const std::string& name) { return ReadFile(dir_ + "/" + name); }
  pid_t pid() { return static_cast<pid_t>(std::atoi(file("out.pid").c_str())); }

 private:
  std::string dir_;
  testing_support::Tmux tmux_;
};

struct WayOut {
  const char* name;
  const char* scenario;
  const char* keys;  // sent with send-keys, or empty
  int signal;        // sent to the program, or 0
};

void PrintTo(const WayOut& way, std::ostream* os) {
  *os << way.name;
}

class TerminalComesBack : public testing::TestWithParam<WayOut> {};

TEST_P(TerminalComesBack, SettingsMouseAndTitleAreAsBefore) {
  if (tmuxMissing()) GTEST_SKIP() << "tmux is missing";
  const WayOut& way = GetParam();
  TempDir dir;
  Pane pane(dir, way.scenario);
  ASSERT_TRUE(pane.ready());
  EXPECT_TRUE(pane.awaitQuery("#{pane_title}", "__console host test"))
      << pane.query("#{pane_title}");
  EXPECT_TRUE(pane.awaitQuery("#{mouse_sgr_flag}", "1"));
  if (way.keys[0] != '\0') pane.tmux(std::string("send-keys -t host ") + way.keys);
  if (way.signal != 0) ::kill(pane.pid(), way.signal);
  ASSERT_TRUE(pane.finished());
  EXPECT_EQ(pane.file("after"), pane.file("before"));
  EXPECT_FALSE(pane.file("before").empty());
  EXPECT_EQ(pane.query("#{pane_title}"), "before-title");
  EXPECT_EQ(pane.query("#{mouse_sgr_flag}#{mouse_any_flag}#{mouse_button_flag}"), "000");
}

const WayOut kWaysOut[] = {
    {"NormalEnd", scenarios::kEnd, "q", 0},      {"Halt", scenarios::kHalt, "q", 0},
    {"UnhandledTrap", scenarios::kTrap, "q", 0}, {"CtrlC", scenarios::kWait, "C-c", 0},
    {"Sigterm", scenarios::kWait, "", SIGTERM},  {"Sighup", scenarios::kWait, "", SIGHUP},
};

INSTANTIATE_TEST_SUITE_P(Console, TerminalComesBack, testing::ValuesIn(kWaysOut),
                         [](const testing::TestParamInfo<WayOut>& info) {
                           return info.param.name;
                         });

// While the host has the terminal, Ctrl+C and Ctrl+Z leave the output the
// terminal has not shown yet (noflsh); the end puts the setting back.
TEST(TerminalHostTest, SignalKeysKeepTheOutputNotShownYet) {
  if (tmuxMissing()) GTEST_SKIP() << "tmux is missing";
  TempDir dir;
  Pane pane(dir, scenarios::kWait);
  ASSERT_TRUE(pane.ready());
  ASSERT_TRUE(pane.awaitQuery("#{mouse_sgr_flag}", "1"));
  const std::string settings = testing_support::CommandOutput(
      "stty -a < " + testing_support::ShellQuote(pane.query("#{pane_tty}")));
  EXPECT_NE(settings.find(" noflsh"), std::string::npos) << settings;
  pane.tmux("send-keys -t host C-c");
  ASSERT_TRUE(pane.finished());
  EXPECT_EQ(pane.file("after"), pane.file("before"));
}

TEST(TerminalHostTest, TypedKeysAndMouseReportsArriveAsRecords) {
  if (tmuxMissing()) GTEST_SKIP() << "tmux is missing";
  TempDir dir;
  Pane pane(dir, "records");
  // Raw mode comes before the pid: the keys reach the console as records.
  ASSERT_TRUE(pane.ready());
  pane.tmux("send-keys -t host a F1 S-F1 Up C-a M-x KPEnter");
  pane.tmux("send-keys -t host -l \"$(printf '\\033[<0;10;5M')\"");
  pane.tmux("send-keys -t host -l \"$(printf '\\033[<0;10;5m')\"");
  pane.tmux("send-keys -t host q");
  ASSERT_TRUE(pane.finished());
  EXPECT_EQ(pane.file("out"),
            "ready\n"
            "key+ 1e 41 61 0\nkey- 1e 41 61 0\n"
            "key+ 3b 70 0 0\nkey- 3b 70 0 0\n"
            "key+ 3b 70 0 10\nkey- 3b 70 0 10\n"
            "key+ 48 26 0 100\nkey- 48 26 0 100\n"
            "key+ 1e 41 1 8\nkey- 1e 41 1 8\n"
            "key+ 2d 58 78 2\nkey- 2d 58 78 2\n"
            "key+ 1c d d 100\nkey- 1c d d 100\n"
            "mouse 9,4 1 0\nmouse 9,4 0 0\n"
            "key+ 10 51 71 0\n"
            "done\n");
}

TEST(TerminalHostTest, CursorPositionIsAskedOfTheTerminal) {
  if (tmuxMissing()) GTEST_SKIP() << "tmux is missing";
  TempDir dir;
  Pane pane(dir, "cursor");
  ASSERT_TRUE(pane.ready());
  ASSERT_TRUE(pane.finished());
  EXPECT_EQ(pane.file("out"), "ready\ncursor 7,4 size 80,24\nafter write 7,4 wrote 9\ndone\n");
  const std::string screen = pane.screen();
  const std::size_t row10 = [&] {
    std::size_t at = 0;
    for (int row = 0; row < 10; ++row) at = screen.find('\n', at) + 1;
    return at;
  }();
  EXPECT_EQ(screen.substr(row10, 11), "  CELL TEXT");
}

TEST(TerminalHostTest, CursorAfterWritesIsWhereWindowsPutsIt) {
  if (tmuxMissing()) GTEST_SKIP() << "tmux is missing";
  TempDir dir;
  Pane pane(dir, "writes");
  ASSERT_TRUE(pane.ready());
  ASSERT_TRUE(pane.finished());
  // Without wrapping the last column takes every character past it.
  EXPECT_EQ(pane.file("out"),
            "ready\nafter 16 16,0\nafter 0 16,0\nafter 16 NULs 16,0 wrote 16\nno wrap 79,5\n"
            "wrap 5,8\nread output 0 6\ndone\n");
}

// The console host program on a pseudo-terminal the test plays: it reads
// what the program writes and answers as a terminal would, when it chooses.
class PlayedTerminal {
 public:
  PlayedTerminal(const TempDir& dir, const char* scenario) : out_(dir.path() + "/out") {
    if (!pty_.ok()) return;
    child_ = ::fork();
    if (child_ == 0) {
      for (int fd = 0; fd < 3; ++fd) ::dup2(pty_.slave(), fd);
      ::execl(CONSOLE_HOST_PROGRAM, CONSOLE_HOST_PROGRAM, scenario, out_.c_str(), nullptr);
      ::_exit(127);
    }
    ::close(pty_.slave());
  }
  ~PlayedTerminal() {
    if (child_ <= 0) return;
    ::kill(child_, SIGKILL);
    ::waitpid(child_, nullptr, 0);
  }
  bool ok() const { return child_ > 0; }
  // Waits until the program's file holds `line`, keeping what it wrote to
  // the terminal.
  bool awaitLine(const std::string& line, std::chrono::milliseconds limit = kLimit) {
    return WaitUntil(
        [&] {
          written_ += pty_.drain(std::chrono::milliseconds(1));
          return ReadFile(out_).find(line) != std::string::npos;
        },
        limit);
  }
  // Waits until the program has written `bytes` `count` times in all.
  bool awaitWritten(const std::string& bytes, std::size_t count) {
    return WaitUntil(
        [&] {
          written_ += pty_.drain(std::chrono::milliseconds(1));
          std::size_t seen = 0;
          for (auto at = written_.find(bytes); at != std::string::npos;
               at = written_.find(bytes, at + 1)) {
            ++seen;
          }
          return seen >= count;
        },
        kLimit);
  }
  void answer(const std::string& bytes) {
    ASSERT_EQ(::write(pty_.master(), bytes.data(), bytes.size()),
              static_cast<ssize_t>(bytes.size()));
  }
  const std::string& written() const { return written_; }
  std::string lines() const { return ReadFile(out_); }
  const std::string& out() const { return out_; }

 private:
  testing_support::Pty pty_{true};
  std::string out_;
  pid_t child_ = -1;
  std::string written_;
};

// Nothing waits for the terminal's title: the program reads its first title
// (its path) before the terminal has said anything, and the terminal's own
// once it came; setting the first title back reads as the terminal's again.
TEST(TerminalHostTest, TheTitleIsAskedWithoutWaitingForTheAnswer) {
  TempDir dir;
  PlayedTerminal terminal(dir, "title");
  ASSERT_TRUE(terminal.ok());
  EXPECT_TRUE(terminal.awaitLine("first "));
  EXPECT_NE(terminal.written().find("\x1b[21t"), std::string::npos);
  terminal.answer("\x1b]lmy shell\x1b\\");
  EXPECT_TRUE(terminal.awaitLine("back "));
  const std::string lines = terminal.lines();
  EXPECT_EQ(lines.substr(lines.find("then ")), "then my shell\nback my shell\n");
  EXPECT_EQ(lines.substr(0, 6), "first ");
}

// A cursor reply that comes after its asker gave up answers no later query,
// also while the next one waits: the second query takes the second reply.
TEST(TerminalHostTest, ALateCursorReplyAnswersNoLaterQuery) {
  TempDir dir;
  PlayedTerminal terminal(dir, "late-reply");
  ASSERT_TRUE(terminal.ok());
  EXPECT_TRUE(terminal.awaitLine("first none 1460"));
  std::ofstream(terminal.out() + ".go") << "go\n";
  EXPECT_TRUE(terminal.awaitWritten("\x1b[6n", 2));
  // The terminal was slow: the first reply comes only now, and is read
  // before the second comes (a wrong match would show within the look).
  terminal.answer("\x1b[3;3R");
  EXPECT_FALSE(terminal.awaitLine("second ", std::chrono::milliseconds(300)));
  terminal.answer("\x1b[7;9R");
  EXPECT_TRUE(terminal.awaitLine("second "));
  EXPECT_EQ(terminal.lines(), "first none 1460\nsecond 8,6\n");
}

// A key typed before the program first reads the console is dropped by the
// flush at its start, also while it still waits in the terminal.
TEST(TerminalHostTest, KeysTypedBeforeTheFlushAreDropped) {
  if (tmuxMissing()) GTEST_SKIP() << "tmux is missing";
  TempDir dir;
  Pane pane(dir, "typed-before");
  ASSERT_TRUE(WaitForFile(dir.path() + "/out", kLimit));
  pane.tmux("send-keys -t host q x");
  // tmux has handed the keys to the terminal once its cursor moved on (the
  // terminal echoes them: its settings are still the shell's).
  WaitUntil([&] { return pane.screen().find("qx") != std::string::npos; }, kLimit);
  std::ofstream(dir.path() + "/out.go") << "go\n";
  // The pid comes after the flush: keys sent from now on are kept.
  ASSERT_TRUE(pane.ready());
  pane.tmux("send-keys -t host a q");
  ASSERT_TRUE(pane.finished());
  EXPECT_EQ(pane.file("out"),
            "started\nready\n"
            "key+ 1e 41 61 0\nkey- 1e 41 61 0\n"
            "key+ 10 51 71 0\n"
            "done\n");
}

// The event queue's way of reading, on a standard input that is a file, an
// empty pipe still open, or /dev/null: 100 failed waits 10 ms apart and a
// one-second wait on the console input handle, in next to no CPU time.
TEST(TerminalHostTest, StandardInputThatIsNoTerminalDoesNotSpin) {
  TempDir dir;
  const std::string program = std::string(CONSOLE_HOST_PROGRAM) + " nontty " + dir.path();
  const std::string inputs[] = {
      program + "/null < /dev/null",
      "sleep 4 | " + program + "/pipe",
      program + "/file < " + CONSOLE_HOST_PROGRAM,
  };
  for (const std::string& command : inputs) {
    SCOPED_TRACE(command);
    ASSERT_EQ(std::system(("timeout 20 sh -c '" + command + "'").c_str()), 0);
  }
  for (const char* name : {"null", "pipe", "file"}) {
    SCOPED_TRACE(name);
    const std::string line = lastLine(ReadFile(dir.path() + "/" + name));
    int failed = 0;
    unsigned long wait = 0;
    double cpu = 1.0;
    ASSERT_EQ(
        std::sscanf(line.c_str(), "failed waits %d console wait %lu cpu %lf", &failed, &wait, &cpu),
        3)
        << line;
    EXPECT_EQ(failed, 100);
    EXPECT_EQ(wait, 0x102u);  // WAIT_TIMEOUT: no record, no terminal
    EXPECT_LT(cpu, 0.3) << "two seconds of waiting";
    std::printf("[ cpu ] %s: %s\n", name, line.c_str());
  }
}

}  // namespace
