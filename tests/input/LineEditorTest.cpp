// The line editor behind the console input channel, fed with key records
// through the console input buffer and the event queue.
#include <gtest/gtest.h>

#include <map>
#include <string>
#include <thread>
#include <vector>

#include "input/BiosIO.h"
#include "input/ConsoleChannel.h"
#include "tests/input/InputTestSupport.h"

namespace input_test {
namespace {

// "<Name>" stands for a special key, every other character for itself.
const std::map<std::string, win32::INPUT_RECORD> kSpecialKeys = {
    {"Home", KeyRecord(0x47, 0, true, win32::ENHANCED_KEY)},
    {"End", KeyRecord(0x4F, 0, true, win32::ENHANCED_KEY)},
    {"Left", KeyRecord(0x4B, 0, true, win32::ENHANCED_KEY)},
    {"Right", KeyRecord(0x4D, 0, true, win32::ENHANCED_KEY)},
    {"Del", KeyRecord(0x53, 0, true, win32::ENHANCED_KEY)},
    {"KpLeft", KeyRecord(0x4B, 0, true)},  // keypad 4 without Num Lock
    {"BS", KeyRecord(0x0E, '\b', true)},
    {"Enter", KeyRecord(0x1C, '\r', true)},
    {"Tab", KeyRecord(0x0F, '\t', true)},
    {"Esc", KeyRecord(0x01, '\x1b', true)},
    {"F1", KeyRecord(0x3B, 0, true)},
    {"Up", KeyRecord(0x48, 0, true, win32::ENHANCED_KEY)},
    {"Ins", KeyRecord(0x52, 0, true, win32::ENHANCED_KEY)},
    {"CtrlA", KeyRecord(0x1E, '\x01', true, win32::LEFT_CTRL_PRESSED)},
};

std::vector<win32::INPUT_RECORD> Records(const std::string& keys) {
  std::vector<win32::INPUT_RECORD> records;
  for (std::size_t i = 0; i < keys.size(); ++i) {
    if (keys[i] == '<') {
      const std::size_t end = keys.find('>', i);
      records.push_back(kSpecialKeys.at(keys.substr(i + 1, end - i - 1)));
      i = end;
    } else {
      records.push_back(KeyRecord(0x39, keys[i], true));
    }
  }
  return records;
}

// Edits a line on a thread of its own while the keys arrive as a typist
// types them: never more than the key queue holds at a time.
std::string Edit(const std::string& keys) {
  char buffer[257] = {};
  std::uint32_t n = 0;
  std::thread editor([&] { n = ktsEvQue::detail::editLine(buffer, sizeof buffer); });
  const auto records = Records(keys + "<Enter>");
  for (std::size_t i = 0; i < records.size(); ++i) {
    EXPECT_TRUE(Write(records[i]));
    if (i % 16 == 15) {
      EXPECT_TRUE(WaitUntil([] { return BufferDrained() && !BiosIO::KeyPressed(); }));
    }
  }
  editor.join();
  return std::string(buffer, n);
}

class ktsEvQueLineEditor : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { StartInputModules(); }
};

TEST_F(ktsEvQueLineEditor, EditingKeys) {
  const struct {
    const char* keys;
    const char* line;
  } rows[] = {
      {"", "\r\n"},
      {"abc", "abc\r\n"},
      {"abc<Home>x", "xbc\r\n"},  // typing overwrites
      {"abc<Home>x<End>d", "xbcd\r\n"},
      {"abc<Left><Left>Z", "aZc\r\n"},
      {"abc<Left><Left><Right>Z", "abZ\r\n"},
      {"abc<KpLeft>Z", "abZ\r\n"},
      {"abc<Right><Right>d", "abcd\r\n"},  // Right stops at the end
      {"abc<BS>", "ab\r\n"},
      {"abc<Home><BS><BS>", "abc\r\n"},  // nothing before the cursor
      {"abc<Left><BS>", "ac\r\n"},
      {"abc<Home><Del>", "bc\r\n"},
      {"abc<Del>", "abc\r\n"},                         // nothing under the cursor
      {"a<Tab><Esc><F1><Up><Ins><CtrlA>b", "ab\r\n"},  // other keys are dropped
      {"a b\xe9", "a b\xe9\r\n"},                      // characters up to 0xFF
  };
  for (const auto& row : rows) EXPECT_EQ(Edit(row.keys), row.line) << row.keys;
}

TEST_F(ktsEvQueLineEditor, ALineHoldsAtMost255CharactersButEditingGoesOn) {
  EXPECT_EQ(Edit(std::string(256, 'y')), std::string(255, 'y') + "\r\n");
  EXPECT_EQ(Edit(std::string(300, 'y') + "<Home>x<BS><Del>"), std::string(253, 'y') + "\r\n");
}

}  // namespace
}  // namespace input_test
