#include "platform/console/Console.h"

#include <fcntl.h>
#include <termios.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "platform/kernel/Errors.h"
#include "platform/kernel/Files.h"
#include "tests/support/Pty.h"
#include "platform/kernel/FilesInternal.h"

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
