// The input modules beside a real (virtual) X server: keys pressed in the
// graphics window reach the key queue through the console input buffer, and
// the window's mouse messages (not the console's) make the mouse state. The
// probe runs in a tmux pane, as the program runs in its terminal.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>

#include "tests/input/TerminalProbe.h"
#include "tests/support/XServer.h"

namespace input_test {
namespace {

using testing_support::RunWithDisplay;
using testing_support::XServer;

class InputWindowE2E : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!testing_support::Tmux::Available()) GTEST_SKIP() << "tmux is missing";
    ASSERT_TRUE(server_.ok()) << "Xvfb did not start";
  }

  // Starts the probe with its window, focuses the window and says where it is.
  std::unique_ptr<TerminalProbe> Start(const std::string& scenario) {
    auto probe = std::make_unique<TerminalProbe>(
        scenario, "DISPLAY=" + server_.display() + " SDL_AUDIODRIVER=dummy");
    EXPECT_TRUE(probe->started()) << probe->errors();
    window_ = server_.WindowNamed("Graph");
    EXPECT_FALSE(window_.empty());
    Xdotool("windowfocus --sync " + window_);
    return probe;
  }

  void Xdotool(const std::string& arguments) {
    RunWithDisplay(server_.display(), "xdotool " + arguments);
  }

  XServer server_;
  std::string window_;
};

// X keycodes under Xvfb: 38 A, 50 left Shift, 105 right Ctrl, 111 Up, 80 the
// keypad's 8 (Up while Num Lock is off).
TEST_F(InputWindowE2E, KeysInTheWindowArriveInTheKeyQueue) {
  auto probe = Start("window-keys");
  ASSERT_EQ(probe->results().at(0), "window");
  // tmux reads the program's title sequences in its own time.
  testing_support::WaitUntil([&] {
    return probe->title().find(input_test::TerminalProbe::kShellTitle) != std::string::npos;
  });
  // The console's window was looked up by a marker title, which is gone again.
  EXPECT_EQ(probe->title().find("__Tarvo console"), std::string::npos) << probe->title();
  // It is the terminal's own again, not the program's path.
  EXPECT_NE(probe->title().find(input_test::TerminalProbe::kShellTitle), std::string::npos)
      << probe->title();
  EXPECT_EQ(probe->title().find("input_probe"), std::string::npos) << probe->title();
  const struct {
    const char* keys;
    const char* line;
  } rows[] = {
      {"key 38", "peek 61/1e 61/1e get 61/1e empty"},                        // a
      {"keydown 50 key 38 keyup 50", "peek 41/1e 41/1e get 41/1e empty"},    // Shift+A
      {"keydown 105 key 38 keyup 105", "peek 01/1e 01/1e get 01/1e empty"},  // right Ctrl+A
      {"key 111", "peek 00/48 00/48 get 00/48 empty"},                       // cursor Up
      {"keydown 50 key 111 keyup 50", "peek 00/48 00/48 get 00/48 empty"},   // enhanced: no digit
      {"keydown 50 key 80 keyup 50", "peek 38/48 38/48 get 38/48 empty"},  // keypad: Shift gives 8
  };
  std::size_t expected = 1;
  for (const auto& row : rows) {
    Xdotool(row.keys);
    ASSERT_TRUE(probe->awaitResults(++expected)) << row.keys;
    EXPECT_EQ(probe->results().back(), row.line) << row.keys;
  }
  EXPECT_EQ(probe->finish(), "EXIT=0\n") << probe->errors();
}

TEST_F(InputWindowE2E, AHeldLeftButtonShowsInClientPixelsAndConsoleClicksChangeNothing) {
  auto probe = Start("window-mouse");
  const std::string held = "col=120 row=95 left=1 middle=0 right=0";
  const std::string released = "col=120 row=95 left=0 middle=0 right=0";
  Xdotool("mousemove --window " + window_ + " 120 95 mousedown 1");
  ASSERT_TRUE(probe->awaitLine(held)) << ::testing::PrintToString(probe->results());
  // While the button is held: a click in the console, then a key there. Once
  // the key has been read, so has the click before it.
  probe->keys(ShellQuote("\x1b[<0;10;5M"), true);
  probe->keys("z", true);
  ASSERT_TRUE(probe->awaitLine("key 7a/2c")) << ::testing::PrintToString(probe->results());
  Xdotool("mouseup 1");
  // The position may have shown released once already, before the press.
  ASSERT_TRUE(probe->awaitLineAfter("key 7a/2c", released))
      << ::testing::PrintToString(probe->results());
  EXPECT_EQ(probe->finish(), "EXIT=0\n") << probe->errors();
  const auto lines = probe->results();
  const auto key = std::find(lines.begin(), lines.end(), "key 7a/2c");
  ASSERT_NE(key, lines.begin());
  ASSERT_NE(key + 1, lines.end());
  EXPECT_EQ(*(key - 1), held);
  EXPECT_EQ(*(key + 1), released);
  for (const std::string& line : lines) EXPECT_EQ(line.find("col=9 "), std::string::npos) << line;
}

}  // namespace
}  // namespace input_test
