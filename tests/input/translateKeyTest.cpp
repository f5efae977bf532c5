// Key translation against the two key tables, row by row and column by
// column, and the records the console and the graphics window really make.
#include <gtest/gtest.h>

#include <cstdint>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "input/ktsEvQue.h"

namespace {

using ktsEvQue::detail::KeyPair;
using ktsEvQue::detail::translateKey;

// A table row as the keyboard documentation writes it: the scan code, then
// the Plain, Shift, Ctrl and Alt cells. "c 61" is a character, "k 3B" a key
// code, "c 0D, k E0" both, "-" no key.
const char* const kPlainKeyTable[] = {
    "00 | - | - | - | -",
    "01 | c 1B | c 1B | c 1B | k 01",
    "02 | c 31 | c 21 | - | k 78",
    "03 | c 32 | c 40 | k 03 | k 79",
    "04 | c 33 | c 23 | - | k 7A",
    "05 | c 34 | c 24 | - | k 7B",
    "06 | c 35 | c 25 | - | k 7C",
    "07 | c 36 | c 5E | c 1E | k 7D",
    "08 | c 37 | c 26 | - | k 7E",
    "09 | c 38 | c 2A | - | k 7F",
    "0A | c 39 | c 28 | - | k 80",
    "0B | c 30 | c 29 | - | k 81",
    "0C | c 2D | c 5F | c 1F | k 82",
    "0D | c 3D | c 2B | - | k 83",
    "0E | c 08 | c 08 | c 7F | k 0E",
    "0F | c 09 | k 0F | k 94 | k 0F",
    "10 | c 71 | c 51 | c 11 | k 10",
    "11 | c 77 | c 57 | c 17 | k 11",
    "12 | c 65 | c 45 | c 05 | k 12",
    "13 | c 72 | c 52 | c 12 | k 13",
    "14 | c 74 | c 54 | c 14 | k 14",
    "15 | c 79 | c 59 | c 19 | k 15",
    "16 | c 75 | c 55 | c 15 | k 16",
    "17 | c 69 | c 49 | c 09 | k 17",
    "18 | c 6F | c 4F | c 0F | k 18",
    "19 | c 70 | c 50 | c 10 | k 19",
    "1A | c 5B | c 7B | c 1B | k 1A",
    "1B | c 5D | c 7D | c 1D | k 1B",
    "1C | c 0D | c 0D | c 0A | k 1C",
    "1D | - | - | - | -",
    "1E | c 61 | c 41 | c 01 | k 1E",
    "1F | c 73 | c 53 | c 13 | k 1F",
    "20 | c 64 | c 44 | c 04 | k 20",
    "21 | c 66 | c 46 | c 06 | k 21",
    "22 | c 67 | c 47 | c 07 | k 22",
    "23 | c 68 | c 48 | c 08 | k 23",
    "24 | c 6A | c 4A | c 0A | k 24",
    "25 | c 6B | c 4B | c 0B | k 25",
    "26 | c 6C | c 4C | c 0C | k 26",
    "27 | c 3B | c 3A | - | k 27",
    "28 | c 27 | c 22 | - | k 28",
    "29 | c 60 | c 7E | - | k 29",
    "2A | - | - | - | -",
    "2B | c 5C | c 7C | c 1C | k 2B",
    "2C | c 7A | c 5A | c 1A | k 2C",
    "2D | c 78 | c 58 | c 18 | k 2D",
    "2E | c 63 | c 43 | c 03 | k 2E",
    "2F | c 76 | c 56 | c 16 | k 2F",
    "30 | c 62 | c 42 | c 02 | k 30",
    "31 | c 6E | c 4E | c 0E | k 31",
    "32 | c 6D | c 4D | c 0D | k 32",
    "33 | c 2C | c 3C | - | k 33",
    "34 | c 2E | c 3E | - | k 34",
    "35 | c 2F | c 3F | - | k 35",
    "36 | - | - | - | -",
    "37 | c 2A | c 2A | k 96 | k 37",
    "38 | - | - | - | -",
    "39 | c 20 | c 20 | c 20 | c 20",
    "3A | - | - | - | -",
    "3B | k 3B | k 54 | k 5E | k 68",
    "3C | k 3C | k 55 | k 5F | k 69",
    "3D | k 3D | k 56 | k 60 | k 6A",
    "3E | k 3E | k 57 | k 61 | k 6B",
    "3F | k 3F | k 58 | k 62 | k 6C",
    "40 | k 40 | k 59 | k 63 | k 6D",
    "41 | k 41 | k 5A | k 64 | k 6E",
    "42 | k 42 | k 5B | k 65 | k 6F",
    "43 | k 43 | k 5C | k 66 | k 70",
    "44 | k 44 | k 5D | k 67 | k 71",
    "45 | - | - | - | -",
    "46 | - | - | - | -",
    "47 | k 47 | c 37 | k 77 | -",
    "48 | k 48 | c 38 | k 8D | -",
    "49 | k 49 | c 39 | k 84 | -",
    "4A | c 2D | c 2D | k 8E | k 4A",
    "4B | k 4B | c 34 | k 73 | -",
    "4C | - | c 35 | - | -",
    "4D | k 4D | c 36 | k 74 | -",
    "4E | c 2B | c 2B | k 90 | k 4E",
    "4F | k 4F | c 31 | k 75 | -",
    "50 | k 50 | c 32 | k 91 | -",
    "51 | k 51 | c 33 | k 76 | -",
    "52 | k 52 | c 30 | k 92 | -",
    "53 | k 53 | c 2E | k 93 | -",
    "54 | - | - | - | -",
    "55 | - | - | - | -",
    "56 | - | - | - | -",
    "57 | k 85 | k 87 | k 89 | k 8B",
    "58 | k 86 | k 88 | k 8A | k 8C",
};

const char* const kEnhancedKeyTable[] = {
    "1C | c 0D, k E0 | c 0D, k E0 | c 0A, k E0 | k A6",
    "35 | c 2F, k E0 | c 3F, k E0 | k 95 | k A4",
    "47 | k 47 | k 47 | k 77 | k 97",
    "48 | k 48 | k 48 | k 8D | k 98",
    "49 | k 49 | k 49 | k 84 | k 99",
    "4B | k 4B | k 4B | k 73 | k 9B",
    "4D | k 4D | k 4D | k 74 | k 9D",
    "4F | k 4F | k 4F | k 75 | k 9F",
    "50 | k 50 | k 50 | k 91 | k A0",
    "51 | k 51 | k 51 | k 76 | k A1",
    "52 | k 52 | k 52 | k 92 | k A2",
    "53 | k 53 | k 53 | k 93 | k A3",
};

std::string trim(const std::string& s) {
  const auto first = s.find_first_not_of(' ');
  const auto last = s.find_last_not_of(' ');
  return first == std::string::npos ? "" : s.substr(first, last - first + 1);
}

std::optional<KeyPair> parseCell(const std::string& text) {
  if (text == "-") return std::nullopt;
  KeyPair pair{0, 0};
  std::istringstream parts(text);
  for (std::string part; std::getline(parts, part, ',');) {
    part = trim(part);
    const auto value = static_cast<std::uint8_t>(std::stoul(part.substr(2), nullptr, 16));
    if (part[0] == 'c') pair.ch = static_cast<char>(value);
    if (part[0] == 'k') pair.code = value;
  }
  return pair;
}

struct TableRow {
  std::uint16_t scan;
  std::optional<KeyPair> cells[4];
};

TableRow parseRow(const char* text) {
  std::istringstream fields(text);
  std::string field;
  std::getline(fields, field, '|');
  TableRow row{static_cast<std::uint16_t>(std::stoul(trim(field), nullptr, 16)), {}};
  for (auto& cell : row.cells) {
    std::getline(fields, field, '|');
    cell = parseCell(trim(field));
  }
  return row;
}

// A record as the graphics window writes it: no character, the state alone.
win32::KEY_EVENT_RECORD windowRecord(std::uint16_t scan, std::uint32_t state) {
  win32::KEY_EVENT_RECORD key{};
  key.bKeyDown = 1;
  key.wRepeatCount = 1;
  key.wVirtualScanCode = scan;
  key.dwControlKeyState = state;
  return key;
}

win32::KEY_EVENT_RECORD consoleRecord(std::uint16_t scan, char ch, std::uint32_t state) {
  win32::KEY_EVENT_RECORD key = windowRecord(scan, state);
  key.uChar.AsciiChar = ch;
  return key;
}

std::string show(const std::optional<KeyPair>& pair) {
  if (!pair) return "no key";
  std::ostringstream text;
  text << std::hex << "c " << int(static_cast<std::uint8_t>(pair->ch)) << ", k " << int(pair->code);
  return text.str();
}

// Each column is reached by either key of its kind.
struct ColumnStates {
  const char* name;
  std::uint32_t states[2];
};
constexpr ColumnStates kColumns[4] = {
    {"Plain", {0x0000, 0x0020 | 0x0040 | 0x0080}},  // lock keys count for nothing
    {"Shift", {0x0010, 0x0010 | 0x0020}},
    {"Ctrl", {0x0008, 0x0004}},
    {"Alt", {0x0002, 0x0001}},
};

void expectTable(const char* const* rows, std::size_t count, std::uint32_t extraState) {
  for (std::size_t r = 0; r < count; ++r) {
    const TableRow row = parseRow(rows[r]);
    for (int column = 0; column < 4; ++column) {
      for (std::uint32_t state : kColumns[column].states) {
        const auto got = translateKey(windowRecord(row.scan, state | extraState));
        EXPECT_EQ(show(got), show(row.cells[column]))
            << "scan " << std::hex << row.scan << ", " << kColumns[column].name << ", state "
            << (state | extraState);
      }
    }
  }
}

TEST(ktsEvQueTranslate, EveryCellOfThePlainKeyTable) {
  ASSERT_EQ(std::size(kPlainKeyTable), 0x59u);
  expectTable(kPlainKeyTable, std::size(kPlainKeyTable), 0);
}

TEST(ktsEvQueTranslate, EveryCellOfTheEnhancedKeyTable) {
  expectTable(kEnhancedKeyTable, std::size(kEnhancedKeyTable), win32::ENHANCED_KEY);
}

TEST(ktsEvQueTranslate, ScanCodesBeyondTheTablesGiveNoKey) {
  for (std::uint16_t scan : {0x59, 0x5B, 0x7F, 0xFF, 0x1E1}) {
    EXPECT_FALSE(translateKey(windowRecord(scan, 0))) << scan;
  }
  for (std::uint16_t scan : {0x1E, 0x1D, 0x38, 0x3B, 0x4C}) {  // not cursor-block keys
    EXPECT_FALSE(translateKey(windowRecord(scan, win32::ENHANCED_KEY))) << scan;
  }
}

struct EdgeCase {
  const char* what;
  win32::KEY_EVENT_RECORD record;
  std::optional<KeyPair> expected;
};

TEST(ktsEvQueTranslate, RecordsTheConsoleAndTheWindowMake) {
  const EdgeCase cases[] = {
      {"a typed", consoleRecord(0x1E, 'a', 0), KeyPair{'a', 0}},
      {"A with Caps Lock", consoleRecord(0x1E, 'A', win32::CAPSLOCK_ON), KeyPair{'A', 0}},
      {"Shift+a", consoleRecord(0x1E, 'A', win32::SHIFT_PRESSED), KeyPair{'A', 0}},
      {"F1", consoleRecord(0x3B, 0, 0), KeyPair{0, 0x3B}},
      {"Shift+F1", consoleRecord(0x3B, 0, win32::SHIFT_PRESSED), KeyPair{0, 0x54}},
      {"Alt+F1", consoleRecord(0x3B, 0, win32::LEFT_ALT_PRESSED), KeyPair{0, 0x68}},
      {"Ctrl+F1", consoleRecord(0x3B, 0, win32::RIGHT_CTRL_PRESSED), KeyPair{0, 0x5E}},
      {"Ctrl+A", consoleRecord(0x1E, '\x01', win32::LEFT_CTRL_PRESSED), KeyPair{'\x01', 0}},
      {"Alt+x", consoleRecord(0x2D, 'x', win32::LEFT_ALT_PRESSED), KeyPair{0, 0x2D}},
      {"keypad Enter", consoleRecord(0x1C, '\r', win32::ENHANCED_KEY), KeyPair{'\r', 0xE0}},
      {"Enter", consoleRecord(0x1C, '\r', 0), KeyPair{'\r', 0}},
      {"AltGr+q gives @", consoleRecord(0x10, '@', 0x0009), KeyPair{'@', 0}},
      {"AltGr with Num Lock", consoleRecord(0x10, '@', 0x0009 | win32::NUMLOCK_ON),
       KeyPair{'@', 0}},
      {"right Alt+q", consoleRecord(0x10, 'q', 0x0001), KeyPair{0, 0x10}},
      {"q with ENHANCED_KEY and right Alt", consoleRecord(0x10, 'q', 0x0101), std::nullopt},
      {"Ctrl+Shift+a keeps the character", consoleRecord(0x1E, '\x01', 0x0018), KeyPair{'\x01', 0}},
      {"left Shift alone", consoleRecord(0x2A, 0, win32::SHIFT_PRESSED), std::nullopt},
      {"left Shift with a stray character", consoleRecord(0x2A, 'x', win32::SHIFT_PRESSED),
       std::nullopt},
      {"Ctrl alone", consoleRecord(0x1D, 0, win32::LEFT_CTRL_PRESSED), std::nullopt},
      {"cursor Up", consoleRecord(0x48, 0, win32::ENHANCED_KEY), KeyPair{0, 0x48}},
      {"keypad 8 without Num Lock", consoleRecord(0x48, 0, 0), KeyPair{0, 0x48}},
      {"keypad 8 with Num Lock", consoleRecord(0x48, '8', win32::NUMLOCK_ON), KeyPair{'8', 0}},
      {"window: A", windowRecord(0x1E, 0), KeyPair{'a', 0}},
      {"window: Shift+A", windowRecord(0x1E, win32::SHIFT_PRESSED), KeyPair{'A', 0}},
      {"window: right Ctrl", windowRecord(0x1D, win32::ENHANCED_KEY), std::nullopt},
      {"window: right Ctrl+A", windowRecord(0x1E, win32::RIGHT_CTRL_PRESSED), KeyPair{'\x01', 0}},
      {"window: cursor Up", windowRecord(0x48, win32::ENHANCED_KEY), KeyPair{0, 0x48}},
      {"window: keypad Up", windowRecord(0x48, 0), KeyPair{0, 0x48}},
      {"window: Shift+cursor Up", windowRecord(0x48, 0x0110), KeyPair{0, 0x48}},
      {"window: Shift+keypad 8", windowRecord(0x48, 0x0010), KeyPair{'8', 0}},
  };
  for (const EdgeCase& c : cases) {
    EXPECT_EQ(show(translateKey(c.record)), show(c.expected)) << c.what;
  }
}

}  // namespace
