// The input modules in a real terminal (a tmux pane), through the program's
// own layers: keys typed on the console reach the key queue, a full queue
// beeps, console mouse clicks reach the mouse state, and the line editor
// edits what the standard input channel reads.
#include <gtest/gtest.h>

#include <string>

#include "tests/input/TerminalProbe.h"

namespace input_test {
namespace {

class InputTerminal : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!testing_support::Tmux::Available()) GTEST_SKIP() << "tmux is missing";
  }
};

TEST_F(InputTerminal, TypedKeysAreQueuedAndPeekedUntilTaken) {
  TerminalProbe probe("keys");
  ASSERT_TRUE(probe.started()) << probe.errors();
  const struct {
    const char* keys;
    const char* line;
  } rows[] = {
      {"a", "peek 61/1e 61/1e get 61/1e empty"},    {"F1", "peek 00/3b 00/3b get 00/3b empty"},
      {"S-F1", "peek 00/54 00/54 get 00/54 empty"}, {"C-a", "peek 01/1e 01/1e get 01/1e empty"},
      {"Up", "peek 00/48 00/48 get 00/48 empty"},
  };
  std::size_t expected = 0;
  for (const auto& row : rows) {
    probe.keys(row.keys);
    ASSERT_TRUE(probe.awaitResults(++expected)) << row.keys;
    EXPECT_EQ(probe.results().back(), row.line) << row.keys;
  }
  EXPECT_EQ(probe.finish(), "EXIT=0\n") << probe.errors();
}

TEST_F(InputTerminal, ThirtyFourKeysWithNobodyReadingKeep33AndBeepOnce) {
  TerminalProbe probe("full");
  ASSERT_TRUE(probe.started()) << probe.errors();
  const std::string typed = "abcdefghijklmnopqrstuvwxyzabcdefgh";  // 34
  probe.keys(ShellQuote(typed), true);
  ASSERT_TRUE(probe.awaitBells(1));
  EXPECT_EQ(probe.finish(), "EXIT=0\n") << probe.errors();
  ASSERT_EQ(probe.results().size(), 1u);
  EXPECT_EQ(probe.results()[0], "queued 33 " + typed.substr(0, 33));
  EXPECT_EQ(probe.bells(), 1);
}

TEST_F(InputTerminal, AConsoleClickBeforeGraphicsModeShowsInCharacterCells) {
  TerminalProbe probe("mouse");
  ASSERT_TRUE(probe.started()) << probe.errors();
  ASSERT_TRUE(probe.awaitResults(1));
  EXPECT_EQ(probe.results()[0], "col=0 row=0 left=0 middle=0 right=0");
  probe.keys(ShellQuote("\x1b[<0;10;5M"), true);  // left button down at column 10, row 5 (1-based)
  ASSERT_TRUE(probe.awaitResults(2));
  EXPECT_EQ(probe.results()[1], "col=9 row=4 left=1 middle=0 right=0");
  probe.keys(ShellQuote("\x1b[<0;10;5m"), true);
  ASSERT_TRUE(probe.awaitResults(3));
  EXPECT_EQ(probe.results()[2], "col=9 row=4 left=0 middle=0 right=0");
  EXPECT_EQ(probe.finish(), "EXIT=0\n") << probe.errors();
}

TEST_F(InputTerminal, TheLineEditorOvertypesAndMovesWithHomeAndEnd) {
  TerminalProbe probe("lines");
  ASSERT_TRUE(probe.started()) << probe.errors();
  // Home and End as xterm sends them (tmux's own names send ESC [ 1 ~ and
  // ESC [ 4 ~, which the console host does not take for Home and End).
  probe.keys("abc", true);
  probe.keys(ShellQuote("\x1b[H"), true);
  probe.keys("x", true);
  probe.keys(ShellQuote("\x1b[F"), true);
  probe.keys("d", true);
  probe.keys("Enter");
  ASSERT_TRUE(probe.awaitResults(1));
  EXPECT_EQ(probe.results()[0], "line 4 [xbcd]");
  EXPECT_NE(probe.screen().find("xbcd"), std::string::npos) << probe.screen();
  probe.keys("Enter");
  EXPECT_EQ(probe.finish(), "EXIT=0\n") << probe.errors();
}

TEST_F(InputTerminal, ALineHolds255CharactersAndRefusesTheNextWithABeep) {
  TerminalProbe probe("lines");
  ASSERT_TRUE(probe.started()) << probe.errors();
  // 16 runs of 16 letters, typed a run at a time as a typist would (the key
  // queue holds 33 keys); a run is read once the editor shows it.
  std::string typed;
  for (char letter = 'a'; letter < 'a' + 16; ++letter) {
    const std::string run(16, letter);
    probe.keys(run, true);
    typed += run;
    const std::string shown = letter == 'a' + 15 ? run.substr(1) : run;
    ASSERT_TRUE(probe.awaitScreen(shown)) << letter << "\n" << probe.screen();
  }
  ASSERT_TRUE(probe.awaitBells(1));
  probe.keys("Enter");
  ASSERT_TRUE(probe.awaitResults(1));
  EXPECT_EQ(probe.results()[0], "line 255 [" + typed.substr(0, 255) + "]");
  probe.keys("Enter");
  EXPECT_EQ(probe.finish(), "EXIT=0\n") << probe.errors();
  EXPECT_EQ(probe.bells(), 1);
}

TEST_F(InputTerminal, ARawReadHandsOutTheLineAndItsLineEnd) {
  TerminalProbe probe("raw");
  ASSERT_TRUE(probe.started()) << probe.errors();
  probe.keys("hello", true);
  probe.keys("Enter");
  ASSERT_TRUE(probe.awaitResults(1));
  EXPECT_EQ(probe.results()[0], "raw 7 hello\\r\\n");
  probe.keys("ab", true);
  probe.keys("Enter");
  ASSERT_TRUE(probe.awaitResults(2));
  EXPECT_EQ(probe.results()[1], "raw 4 ab\\r\\n");
  EXPECT_EQ(probe.finish(), "EXIT=0\n") << probe.errors();
}

}  // namespace
}  // namespace input_test
