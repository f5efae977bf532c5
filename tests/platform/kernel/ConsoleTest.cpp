#include "platform/console/Console.h"

#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "platform/kernel/Errors.h"
#include "platform/kernel/Files.h"
#include "tests/support/Pty.h"
#include "platform/kernel/FilesInternal.h"
#include "platform/kernel/Handles.h"

namespace {

using namespace win32;

// A pseudo-terminal whose slave side stands in for the console; the input
// handle is opened read-only, as a console input handle is.
class Terminal {
 public:
  Terminal() {
    if (!pty_.ok()) return;
    input_ =
        detail::HandleForDescriptor(::open(pty_.name().c_str(), O_RDONLY | O_NOCTTY | O_CLOEXEC));
    output_ = detail::HandleForDescriptor(pty_.slave());
  }
  ~Terminal() {
    CloseHandle(input_);
    CloseHandle(output_);
  }
  HANDLE input() const { return input_; }
  int master() const { return pty_.master(); }
  // What was written to the terminal, read until nothing more comes.
  std::string written() const {
    std::string bytes;
    pollfd readable{pty_.master(), POLLIN, 0};
    char buffer[256];
    while (::poll(&readable, 1, 200) > 0) {
      const ssize_t n = ::read(pty_.master(), buffer, sizeof buffer);
      if (n <= 0) break;
      bytes.append(buffer, static_cast<std::size_t>(n));
    }
    return bytes;
  }
  HANDLE output() const { return output_; }
  tcflag_t localFlags() const {
    struct termios settings {};
    ::tcgetattr(pty_.slave(), &settings);
    return settings.c_lflag;
  }

 private:
  testing_support::Pty pty_;
  HANDLE input_ = nullptr;
  HANDLE output_ = nullptr;
};

TEST(ConsoleTest, ModesOfNonTerminalHandlesFail) {
  int fds[2];
  ASSERT_EQ(::pipe(fds), 0);
  HANDLE pipe = detail::HandleForDescriptor(fds[0]);
  DWORD mode = 0;
  EXPECT_FALSE(GetConsoleMode(pipe, &mode));
  EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
  EXPECT_FALSE(SetConsoleMode(pipe, ENABLE_PROCESSED_INPUT));
  EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
  EXPECT_FALSE(GetConsoleMode(reinterpret_cast<HANDLE>(4000004), &mode));
  CloseHandle(pipe);
  ::close(fds[1]);
}

TEST(ConsoleTest, InputModeMapsOntoTheTerminalSettings) {
  Terminal terminal;
  DWORD mode = 0;
  ASSERT_TRUE(GetConsoleMode(terminal.input(), &mode));

  ASSERT_TRUE(SetConsoleMode(terminal.input(), ENABLE_PROCESSED_INPUT | ENABLE_MOUSE_INPUT));
  EXPECT_TRUE(GetConsoleMode(terminal.input(), &mode));
  EXPECT_EQ(mode, ENABLE_PROCESSED_INPUT | ENABLE_MOUSE_INPUT);
  tcflag_t flags = terminal.localFlags();
  EXPECT_NE(flags & ISIG, 0u);
  EXPECT_EQ(flags & ICANON, 0u);
  EXPECT_EQ(flags & ECHO, 0u);

  ASSERT_TRUE(SetConsoleMode(terminal.input(), 0x17));
  flags = terminal.localFlags();
  EXPECT_NE(flags & ISIG, 0u);
  EXPECT_NE(flags & ICANON, 0u);
  EXPECT_NE(flags & ECHO, 0u);

  ASSERT_TRUE(SetConsoleMode(terminal.input(), 0));
  flags = terminal.localFlags();
  EXPECT_EQ(flags & (ISIG | ICANON | ECHO), 0u);
  SetConsoleMode(terminal.input(), 0x17);
}

TEST(ConsoleTest, OutputModeIsKeptApartFromTheInputMode) {
  Terminal terminal;
  ASSERT_TRUE(SetConsoleMode(terminal.output(), ENABLE_PROCESSED_OUTPUT));
  ASSERT_TRUE(SetConsoleMode(terminal.input(), 0x17));
  DWORD mode = 0;
  EXPECT_TRUE(GetConsoleMode(terminal.output(), &mode));
  EXPECT_EQ(mode, ENABLE_PROCESSED_OUTPUT);
  EXPECT_TRUE(GetConsoleMode(terminal.input(), &mode));
  EXPECT_EQ(mode, 0x17u);
  SetConsoleMode(terminal.output(), ENABLE_PROCESSED_OUTPUT | ENABLE_WRAP_AT_EOL_OUTPUT);
}

// Console calls that Windows refuses: the screen buffer's calls on the
// console input handle, a cursor outside the buffer, a read of the screen
// buffer (which must fail at once, not wait for the terminal's input).
struct RefusedCall {
  const char* name;
  BOOL (*call)(HANDLE input, HANDLE output, HANDLE screen);
  DWORD error;
};

void PrintTo(const RefusedCall& row, std::ostream* os) {
  *os << row.name;
}

const RefusedCall kRefusedCalls[] = {
    {"screen buffer info of the console input",
     [](HANDLE input, HANDLE, HANDLE) {
       CONSOLE_SCREEN_BUFFER_INFO info{};
       return GetConsoleScreenBufferInfo(input, &info);
     },
     ERROR_INVALID_HANDLE},
    {"cursor of the console input",
     [](HANDLE input, HANDLE, HANDLE) {
       return SetConsoleCursorPosition(input, {0, 0});
     },
     ERROR_INVALID_HANDLE},
    {"text at a cell of the console input",
     [](HANDLE input, HANDLE, HANDLE) {
       DWORD written = 0;
       return WriteConsoleOutputCharacterA(input, "a", 1, {0, 0}, &written);
     },
     ERROR_INVALID_HANDLE},
    {"cursor beyond the last column",
     [](HANDLE, HANDLE output, HANDLE) {
       return SetConsoleCursorPosition(output, {80, 0});
     },
     ERROR_INVALID_PARAMETER},
    {"cursor below the last row",
     [](HANDLE, HANDLE output, HANDLE) {
       return SetConsoleCursorPosition(output, {0, 24});
     },
     ERROR_INVALID_PARAMETER},
    {"cursor left of the buffer",
     [](HANDLE, HANDLE output, HANDLE) {
       return SetConsoleCursorPosition(output, {-1, 3});
     },
     ERROR_INVALID_PARAMETER},
    {"text beyond the buffer",
     [](HANDLE, HANDLE output, HANDLE) {
       DWORD written = 0;
       return WriteConsoleOutputCharacterA(output, "a", 1, {0, 24}, &written);
     },
     ERROR_INVALID_PARAMETER},
    {"reading the screen buffer",
     [](HANDLE, HANDLE, HANDLE screen) {
       char byte = 0;
       DWORD read = 0;
       return ReadFile(screen, &byte, 1, &read, nullptr);
     },
     ERROR_INVALID_HANDLE},
};

class ConsoleRefuses : public testing::TestWithParam<RefusedCall> {};

TEST_P(ConsoleRefuses, WhatWindowsRefuses) {
  Terminal terminal;
  HANDLE input =
      CreateFileA("CONIN$", GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
  ASSERT_NE(input, INVALID_HANDLE_VALUE);
  HANDLE screen = detail::HandleForConsoleOutput(::dup(detail::FileDescriptor(terminal.output())));
  // Typed input waits, so that a read that wrongly reads the terminal returns.
  ASSERT_EQ(::write(terminal.master(), "x\n", 2), 2);
  SetLastError(0);
  EXPECT_FALSE(GetParam().call(input, terminal.output(), screen));
  EXPECT_EQ(GetLastError(), GetParam().error);
  CloseHandle(screen);
  CloseHandle(input);
}

INSTANTIATE_TEST_SUITE_P(ConsoleTest, ConsoleRefuses, testing::ValuesIn(kRefusedCalls));

TEST(ConsoleTest, TextAtACellStopsAtTheBuffersEnd) {
  Terminal terminal;
  DWORD written = 0;
  ASSERT_TRUE(WriteConsoleOutputCharacterA(terminal.output(), "VWXYZ", 5, {78, 23}, &written));
  EXPECT_EQ(written, 2u);
  EXPECT_EQ(terminal.written(),
            "\x1b"
            "7\x1b[24;79HVW\x1b"
            "8");
  // Across a row's end the text goes on at the next row's start.
  ASSERT_TRUE(WriteConsoleOutputCharacterA(terminal.output(), "abc", 3, {79, 0}, &written));
  EXPECT_EQ(written, 3u);
  EXPECT_EQ(terminal.written(),
            "\x1b"
            "7\x1b[1;80Ha\x1b[2;1Hbc\x1b"
            "8");
}

// Windows places no text and looks no further at the cell.
TEST(ConsoleTest, NoTextAtACellOutsideTheBufferSucceeds) {
  Terminal terminal;
  DWORD written = 9;
  EXPECT_TRUE(WriteConsoleOutputCharacterA(terminal.output(), "", 0, {200, 0}, &written));
  EXPECT_EQ(written, 0u);
  EXPECT_EQ(terminal.written(), "");
}

TEST(ConsoleTest, WrapAtTheEndOfALineFollowsTheOutputMode) {
  Terminal terminal;
  ASSERT_TRUE(SetConsoleMode(terminal.output(), ENABLE_PROCESSED_OUTPUT));
  EXPECT_EQ(terminal.written(), "\x1b[?7l");
  ASSERT_TRUE(SetConsoleMode(terminal.output(), ENABLE_PROCESSED_OUTPUT));
  EXPECT_EQ(terminal.written(), "");
  ASSERT_TRUE(
      SetConsoleMode(terminal.output(), ENABLE_PROCESSED_OUTPUT | ENABLE_WRAP_AT_EOL_OUTPUT));
  EXPECT_EQ(terminal.written(), "\x1b[?7h");
}

TEST(ConsoleTest, TitleIsKeptAndRestored) {
  char saved[256];
  GetConsoleTitleA(saved, sizeof saved);
  ASSERT_TRUE(SetConsoleTitleA("__marker title"));
  char buffer[256];
  EXPECT_EQ(GetConsoleTitleA(buffer, sizeof buffer), 14u);
  EXPECT_STREQ(buffer, "__marker title");
  char small[5];
  EXPECT_EQ(GetConsoleTitleA(small, sizeof small), 4u);
  EXPECT_STREQ(small, "__ma");
  ASSERT_TRUE(SetConsoleTitleA(saved));
  GetConsoleTitleA(buffer, sizeof buffer);
  EXPECT_STREQ(buffer, saved);
  EXPECT_FALSE(SetConsoleTitleA(nullptr));
}

TEST(ConsoleTest, InitialTitleIsTheExecutablePath) {
  char title[4096];
  char path[4096] = {};
  ASSERT_GT(::readlink("/proc/self/exe", path, sizeof path - 1), 0);
  GetConsoleTitleA(title, sizeof title);
  // Another test may have set it; it then set it back.
  EXPECT_EQ(std::string(title), std::string(path).substr(0, 259));
}

}  // namespace
