#include <gtest/gtest.h>

#include <string>

#include "runtime/WinRTL.h"
#include "platform/kernel/Errors.h"
#include "platform/kernel/Files.h"
#ifndef _WIN32
#include <fcntl.h>
#include <unistd.h>

#include "platform/kernel/FilesInternal.h"
#include "tests/support/Pty.h"
#endif

namespace {

TEST(WinRTL, ColourComponentsAndWords) {
  constexpr std::uint32_t colour = WinRTL::RGB(0x12, 0x34, 0x56);
  static_assert(colour == 0x563412u);
  EXPECT_EQ(WinRTL::GetRValue(colour), 0x12u);
  EXPECT_EQ(WinRTL::GetGValue(colour), 0x34u);
  EXPECT_EQ(WinRTL::GetBValue(colour), 0x56u);
  EXPECT_EQ(WinRTL::GetBValue(0xFF563412u), 0x56u);  // the top byte is no component
  EXPECT_EQ(WinRTL::LOWORD(0xABCD1234u), 0x1234u);
  EXPECT_EQ(WinRTL::HIWORD(0xABCD1234u), 0xABCDu);
}

TEST(WinRTL, PaletteIndexTakesEightBits) {
  EXPECT_EQ(WinRTL::PALETTEINDEX(7), 0x01000007u);
  EXPECT_EQ(WinRTL::PALETTEINDEX(0), 16777216u);
  EXPECT_EQ(WinRTL::PALETTEINDEX(0x1FF), 0x010000FFu);
}

#ifndef _WIN32
// A pseudo-terminal standing in for the console's screen; what the helpers
// make the console write is read back from its other side.
class ScreenTerminal {
 public:
  ScreenTerminal() {
    if (!pty_.ok()) return;
    ::fcntl(pty_.master(), F_SETFL, O_NONBLOCK);
    output_ = win32::detail::HandleForDescriptor(pty_.slave());
  }
  ~ScreenTerminal() { win32::CloseHandle(output_); }
  win32::HANDLE output() const { return output_; }
  std::string written() { return pty_.drain(); }

 private:
  testing_support::Pty pty_;
  win32::HANDLE output_ = nullptr;
};
#endif

struct ConsoleHelperRow {
  const char* name;
  win32::COORD position;
  const char* text;  // null: the cursor helper
  std::string expected;
};

TEST(WinRTL, ConsoleHelpersPassThePositionOn) {
#ifdef _WIN32
  GTEST_SKIP() << "the Linux platform's console writes escape sequences to a terminal, read "
                  "back here; Windows' console keeps a screen buffer of its own";
#else
  const ConsoleHelperRow rows[] = {
      {"cursor to column 4, row 2", {4, 2}, nullptr, "\x1b[3;5H"},
      {"cursor home", {0, 0}, nullptr, "\x1b[1;1H"},
      {"text at column 0, row 1",
       {0, 1},
       "ab",
       "\x1b"
       "7\x1b[2;1Hab\x1b"
       "8"},
      {"text at column 9, row 0",
       {9, 0},
       "xyz",
       "\x1b"
       "7\x1b[1;10Hxyz\x1b"
       "8"},
  };
  ScreenTerminal terminal;
  ASSERT_NE(terminal.output(), nullptr);
  for (const ConsoleHelperRow& row : rows) {
    SCOPED_TRACE(row.name);
    if (row.text == nullptr) {
      EXPECT_TRUE(WinRTL::rtlSetConsoleCursorPosition(terminal.output(), row.position));
    } else {
      std::uint32_t written = 0;
      const auto count = static_cast<std::uint32_t>(std::string(row.text).size());
      EXPECT_TRUE(WinRTL::rtlWriteConsoleOutputCharacterA(terminal.output(), row.text, count,
                                                          row.position, written));
      EXPECT_EQ(written, count);
    }
    EXPECT_EQ(terminal.written(), row.expected);
  }
#endif
}

// A pipe is no console: the helpers fail as the console calls do.
TEST(WinRTL, ConsoleHelpersReportAFailedCall) {
#ifdef _WIN32
  win32::HANDLE other = nullptr;
  win32::HANDLE pipe = nullptr;
  ASSERT_TRUE(win32::CreatePipe(&other, &pipe, nullptr, 0));
#else
  int fds[2];
  ASSERT_EQ(::pipe(fds), 0);
  win32::HANDLE pipe = win32::detail::HandleForDescriptor(fds[1]);
#endif
  std::uint32_t written = 7;
  EXPECT_FALSE(WinRTL::rtlWriteConsoleOutputCharacterA(pipe, "ab", 2, {0, 0}, written));
  EXPECT_EQ(written, 0u);
  EXPECT_EQ(win32::GetLastError(), win32::ERROR_INVALID_HANDLE);
  EXPECT_FALSE(WinRTL::rtlSetConsoleCursorPosition(pipe, {1, 1}));
  EXPECT_EQ(win32::GetLastError(), win32::ERROR_INVALID_HANDLE);
  win32::CloseHandle(pipe);
#ifdef _WIN32
  win32::CloseHandle(other);
#else
  ::close(fds[0]);
#endif
}

}  // namespace
