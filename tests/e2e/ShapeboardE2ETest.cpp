// The program as a user runs it: in a real terminal (tmux) beside a real X
// server (Xvfb), the mouse and keys driven with xdotool.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <thread>

#include "tests/support/Subprocess.h"
#include "tests/support/TestFiles.h"
#include "tests/support/XClient.h"
#include "tests/support/Tmux.h"
#include "tests/support/Wait.h"
#include "tests/support/XServer.h"

namespace {

using namespace testing_support;
using namespace std::chrono_literals;

std::string Program() {
  return SHAPEBOARD_PROGRAM;
}

Image Reference(const std::string& name) {
  return ReadReferencePicture(std::string(SHAPEBOARD_REFERENCE_DIR) + "/" + name + ".rle");
}

std::size_t Count(const std::string& text, const std::string& part) {
  std::size_t count = 0;
  for (auto at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) ++count;
  return count;
}

std::string ClickLine(int x, int y) {
  return "mouseclick at x=" + std::to_string(x) + ", y=" + std::to_string(y) + "\r\n";
}

// One run of the program in its own terminal beside its own X server. The
// terminal's settings are saved by the shell before and after the run.
class ShapeboardE2E : public testing::Test {
 protected:
  void SetUp() override {
    if (!Tmux::Available()) GTEST_SKIP() << "tmux is missing";
    ASSERT_TRUE(server_.ok()) << "Xvfb did not start";
  }

  std::string path(const std::string& name) const { return dir_->path() + "/" + name; }

  // Starts the program; `redirect` ends its command line ("> out" and the
  // like). Standard error always goes to the file "err". `typedBefore` (tmux
  // key names) is typed into the terminal before the program starts.
  void Launch(const std::string& redirect = "", bool withDisplay = true,
              const std::string& typedBefore = "") {
    if (tmux_) {
      // A run before this one ends with its terminal; its window must be
      // gone before the next one is looked for by name.
      tmux_.reset();
      WaitUntil([&] { return server_.WindowsNamed("Graph").empty(); }, 10s, 20ms);
    }
    dir_ = std::make_unique<TempDir>();
    tmux_ = std::make_unique<Tmux>("app");
    const char* tsan = std::getenv("TSAN_OPTIONS");
    const std::string environment =
        "DISPLAY=" + (withDisplay ? server_.display() : std::string()) +
        " SDL_AUDIODRIVER=dummy TSAN_OPTIONS=" +
        ShellQuote(std::string(tsan ? tsan : "") + " atexit_sleep_ms=0");
    const std::string command =
        "cd " + ShellQuote(dir_->path()) +
        " && while [ ! -e go ]; do sleep 0.02; done; stty -g > stty.before; " + environment + " " +
        ShellQuote(Program()) + " " + redirect +
        " 2> err; code=$?; stty -g > stty.after; echo $code > exit.tmp; mv exit.tmp exit";
    ASSERT_TRUE(tmux_->Start(command));
    titleBefore_ = tmux_->Query("#{pane_title}");
    if (!typedBefore.empty()) {
      tmux_->SendKeys(typedBefore);
      // The terminal still echoes (the shell's settings): once the key shows,
      // it waits in the terminal.
      WaitUntil([&] { return tmux_->Screen().find(typedBefore) != std::string::npos; }, 10s);
    }
    std::ofstream(path("go")).put('\n');
  }

  // The exit code, or -1 when the program is still running after `limit`.
  int WaitForExit(std::chrono::milliseconds limit = 30s) {
    if (!WaitForFile(path("exit"), limit)) return -1;
    return std::stoi(ReadFile(path("exit")));
  }

  void ExpectTerminalRestored() {
    EXPECT_EQ(ReadFile(path("stty.after")), ReadFile(path("stty.before")));
    EXPECT_EQ(tmux_->Query("#{pane_title}"), titleBefore_);
  }

  std::string Out() const { return ReadFile(path("out")); }
  std::string Err() const { return ReadFile(path("err")); }

  std::string Xdotool(const std::string& arguments) {
    return RunWithDisplay(server_.display(), "xdotool " + arguments);
  }

  // The id of the window named exactly "Graph", once it is there.
  std::string WaitForWindow() {
    std::string id;
    WaitUntil([&] { return !(id = server_.WindowNamed("Graph")).empty(); }, 30s, 20ms);
    return id;
  }

  Image Dump(const std::string& window) { return server_.Dump(window); }

  // What the window shows once it shows `picture`, or the last dump taken.
  Image WaitUntilShown(const std::string& window, const Image& picture) {
    return server_.DumpUntil([&] { return window; },
                             [&](const Image& shown) { return shown == picture; });
  }

  // Presses the left button at client position (x, y) and holds it until
  // the program has reported `clicks` clicks there, then lets go. The loop
  // looks at the button every 100 ms, so one more poll cannot slip in.
  void HoldUntilClicks(int x, int y, std::size_t clicks) {
    XClient button(server_.display());
    ASSERT_TRUE(button.ok());
    button.press(x + 1, y + 1);  // the window's client area starts at (1, 1)
    const std::string line = ClickLine(x, y);
    EXPECT_TRUE(WaitUntil([&] { return Count(Out(), line) >= clicks; }, 30s, 1ms))
        << "fewer than " << clicks << " clicks: " << Out();
    button.release();
  }

  XServer server_;
  std::unique_ptr<TempDir> dir_;
  std::unique_ptr<Tmux> tmux_;
  std::string titleBefore_;
};

TEST_F(ShapeboardE2E, StartUpDrawsFourFiguresAndWritesOneEmptyLine) {
  Launch();
  const std::string window = WaitForWindow();
  ASSERT_FALSE(window.empty()) << Err();
  const std::string geometry = Xdotool("getwindowgeometry " + window);
  EXPECT_NE(geometry.find("Position: 1,1"), std::string::npos) << geometry;
  EXPECT_NE(geometry.find("Geometry: 500x500"), std::string::npos) << geometry;
  const Image figures = Reference("s01_figures");
  EXPECT_TRUE(WaitUntilShown(window, figures) == figures);

  std::this_thread::sleep_for(1s);  // nothing more while nothing happens
  EXPECT_EQ(tmux_->Query("#{cursor_x},#{cursor_y}"), "0,1");
  EXPECT_EQ(tmux_->Screen().find_first_not_of(" \n"), std::string::npos) << tmux_->Screen();
  EXPECT_TRUE(Dump(window) == figures);

  tmux_->SendKeys("x");
  EXPECT_EQ(WaitForExit(), 0) << Err();
  ExpectTerminalRestored();
}

struct Press {
  int x;
  int y;
  std::size_t clicks;
  const char* picture;  // what the window shows afterwards
};

std::string PressName(const Press& press) {
  return "at_" + std::to_string(press.x) + "_" + std::to_string(press.y);
}

void PrintTo(const Press& press, std::ostream* os) {
  *os << PressName(press) << ", " << press.clicks << " clicks";
}

class ShapeboardPress : public ShapeboardE2E, public testing::WithParamInterface<Press> {};

// On a busy machine the release can come a poll late, and one click more
// changes the picture; such a run is tried again, three times at most.
TEST_P(ShapeboardPress, EachPollWithTheButtonDownReportsAndGrowsWhatItHits) {
  const Press press = GetParam();
  std::string expectedOut = "\r\n";
  for (std::size_t i = 0; i < press.clicks; ++i) expectedOut += ClickLine(press.x, press.y);
  const Image figures = Reference("s01_figures");
  std::string window;
  for (int attempt = 0; attempt < 3; ++attempt) {
    Launch("> out");
    window = WaitForWindow();
    ASSERT_FALSE(window.empty()) << Err();
    ASSERT_TRUE(WaitUntilShown(window, figures) == figures);
    HoldUntilClicks(press.x, press.y, press.clicks);
    std::this_thread::sleep_for(300ms);
    if (Out() == expectedOut) break;
    ASSERT_EQ(Out().substr(0, expectedOut.size()), expectedOut);  // only more of the same
  }
  EXPECT_EQ(Out(), expectedOut);
  const Image expected = Reference(press.picture);
  EXPECT_TRUE(WaitUntilShown(window, expected) == expected);

  tmux_->SendKeys("x");
  EXPECT_EQ(WaitForExit(), 0) << Err();
  EXPECT_EQ(Out(), expectedOut);
  ExpectTerminalRestored();
}

INSTANTIATE_TEST_SUITE_P(
    Figures, ShapeboardPress,
    testing::Values(Press{300, 300, 3, "s02_grown"},         // the small circle: 40, 80, 160
                    Press{200, 200, 1, "s03_square_grown"},  // the square: side 80
                    Press{300, 100, 2, "s01_figures"},       // nothing there
                    Press{130, 100, 1, "s01_figures"}),      // the ring outside the hit square
    [](const testing::TestParamInfo<Press>& info) { return PressName(info.param); });

// The mouse is not captured: dragged off the window, and let go there, the
// button stays down at the last position inside until the pointer is back.
TEST_F(ShapeboardE2E, ADragOffTheWindowKeepsReportingTheLastPositionInside) {
  Launch("> out");
  const std::string window = WaitForWindow();
  ASSERT_FALSE(window.empty()) << Err();
  const Image figures = Reference("s01_figures");
  ASSERT_TRUE(WaitUntilShown(window, figures) == figures);
  XClient button(server_.display());
  ASSERT_TRUE(button.ok());
  const std::string line = ClickLine(300, 100);  // nothing there: nothing grows
  const auto clicksAtLeast = [&](std::size_t clicks) {
    return WaitUntil([&] { return Count(Out(), line) >= clicks; }, 30s, 1ms);
  };
  button.press(301, 101);
  ASSERT_TRUE(clicksAtLeast(1)) << Out();
  button.move(0, 101);  // off the left edge
  std::size_t seen = Count(Out(), line);
  ASSERT_TRUE(clicksAtLeast(seen + 2)) << Out();
  button.move(700, 300);  // off the right edge
  button.release();
  seen = Count(Out(), line);
  ASSERT_TRUE(clicksAtLeast(seen + 2)) << Out();
  tmux_->SendKeys("x");
  EXPECT_EQ(WaitForExit(), 0) << Err();
  std::string expectedOut = "\r\n";
  for (std::size_t i = Count(Out(), line); i > 0; --i) expectedOut += line;
  EXPECT_EQ(Out(), expectedOut);
  ExpectTerminalRestored();
}

// A press before the window is on the screen goes to the root window, so
// the figures are waited for first.
TEST_F(ShapeboardE2E, OutputToAFileArrivesLineByLine) {
  Launch("> out");
  const std::string window = WaitForWindow();
  ASSERT_FALSE(window.empty()) << Err();
  const Image figures = Reference("s01_figures");
  ASSERT_TRUE(WaitUntilShown(window, figures) == figures);
  HoldUntilClicks(450, 450, 2);
  // The lines are in the file while the program still runs.
  EXPECT_EQ(Out().substr(0, 2 + 2 * ClickLine(450, 450).size()),
            "\r\n" + ClickLine(450, 450) + ClickLine(450, 450));
  EXPECT_EQ(WaitForExit(0ms), -1);
  tmux_->SendKeys("x");
  EXPECT_EQ(WaitForExit(), 0) << Err();
}

TEST_F(ShapeboardE2E, KeyInTheGraphicsWindowEndsTheProgram) {
  Launch("> out");
  const std::string window = WaitForWindow();
  ASSERT_FALSE(window.empty()) << Err();
  Xdotool("windowfocus --sync " + window);
  Xdotool("key 50");  // left Shift alone gives no key
  EXPECT_EQ(WaitForExit(1s), -1);
  Xdotool("key 38");  // A
  EXPECT_EQ(WaitForExit(), 0) << Err();
  EXPECT_EQ(Out(), "\r\n");
  ExpectTerminalRestored();
}

// GNU screen and the Linux console report the mouse in the X10/normal form
// (ESC [ M and three bytes): a click and its release are no keys. Nor is a
// sequence too long for any terminal, left unfinished; the key typed after
// it and a pause is a key again.
TEST_F(ShapeboardE2E, AClickInTheX10FormIsNoKeyNorIsALongUnfinishedSequence) {
  Launch("> out");
  const std::string window = WaitForWindow();
  ASSERT_FALSE(window.empty()) << Err();
  ASSERT_TRUE(tmux_->AwaitQuery("#{mouse_sgr_flag}", "1"));  // the console is taken
  // Drawn, the window is in graph mode, where the console's mouse moves no
  // button: a press seen before it and its release after would stay down.
  const Image figures = Reference("s01_figures");
  ASSERT_TRUE(WaitUntilShown(window, figures) == figures);
  tmux_->SendLiteral("\x1b[M *%");  // left button at column 10, row 5
  tmux_->SendLiteral("\x1b[M#*%");  // released
  EXPECT_EQ(WaitForExit(1s), -1) << Err();
  tmux_->SendLiteral("\x1b[" + std::string(68, '1'));  // 70 bytes, no final byte
  std::this_thread::sleep_for(1s);
  EXPECT_EQ(WaitForExit(0ms), -1) << Err();
  tmux_->SendKeys("x");
  EXPECT_EQ(WaitForExit(), 0) << Err();
  EXPECT_EQ(Out(), "\r\n");
  ExpectTerminalRestored();
}

TEST_F(ShapeboardE2E, AKeyTypedBeforeTheStartDoesNotEndTheProgram) {
  Launch("> out", true, "x");
  ASSERT_FALSE(WaitForWindow().empty()) << Err();
  EXPECT_EQ(WaitForExit(1s), -1);
  tmux_->SendKeys("a");
  EXPECT_EQ(WaitForExit(), 0) << Err();
  ExpectTerminalRestored();
}

TEST_F(ShapeboardE2E, CtrlCEndsWithTheBreakReport) {
  Launch("> out");
  ASSERT_FALSE(WaitForWindow().empty()) << Err();
  tmux_->SendKeys("C-c");
  EXPECT_EQ(WaitForExit(), 9);
  // The call history is on: the report names the file it went to.
  EXPECT_EQ(Err(),
            "#RTS: unhandled exception #21: USER BREAK\r\n\r\nFile errinfo.$$$ created.\r\n");
  EXPECT_TRUE(std::filesystem::exists(path("errinfo.$$$")));
  ExpectTerminalRestored();
}

// The X server goes away under the running program: an orderly exit with 9
// and a report, the pending output written, the terminal put back.
TEST_F(ShapeboardE2E, TheDisplayEndingIsAnOrderlyExitWithNine) {
  Launch("> out");
  ASSERT_FALSE(WaitForWindow().empty()) << Err();
  server_.Stop();
  EXPECT_EQ(WaitForExit(), 9) << Err();
  EXPECT_EQ(Err(), "#RTS: The connection to the display was lost.\r\n");
  EXPECT_EQ(Out(), "\r\n");
  ExpectTerminalRestored();
}

TEST_F(ShapeboardE2E, WithoutADisplayHaltsWithNine) {
  Launch("> out", false);
  EXPECT_EQ(WaitForExit(), 9);
  EXPECT_NE(Err().find("Couldn't create main window"), std::string::npos) << Err();
  EXPECT_EQ(Out(), "\r\n");
  ExpectTerminalRestored();
}

TEST(ShapeboardNoDisplay, HaltsWithinASecond) {
  RunOptions options;
  const char* tsan = std::getenv("TSAN_OPTIONS");
  options.environment = {"DISPLAY=", "WAYLAND_DISPLAY=",
                         std::string("TSAN_OPTIONS=") + (tsan ? tsan : "") + " atexit_sleep_ms=0"};
  options.timeoutSeconds = 10;
  const auto start = std::chrono::steady_clock::now();
  const RunResult result = RunProgram(Program(), {}, options);
  const auto elapsed = std::chrono::steady_clock::now() - start;
  EXPECT_EQ(result.exitCode, 9);
  EXPECT_NE(result.err.find("Couldn't create main window"), std::string::npos) << result.err;
  // The display's reason follows the message.
  EXPECT_NE(result.err.find("main window\nDisplay: no X display"), std::string::npos) << result.err;
  EXPECT_LT(elapsed, 1s);
}

}  // namespace
