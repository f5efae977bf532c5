// The run-time's own files, and its direct output without a handle.
#include <gtest/gtest.h>

#ifndef _WIN32
#include <fcntl.h>
#include <unistd.h>
#endif

#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>

#include "runtime/kosFileIO.h"
#include "platform/kernel/Files.h"
#include "tests/support/TestFiles.h"

namespace {

using testing_support::ReadFile;

class KosFileIO : public testing::Test {
 protected:
  testing_support::TempDir dir_;
  std::string path_ = dir_.file("kosFileIO");
};

TEST_F(KosFileIO, OpenWriteCreatesAndTruncates) {
  std::ofstream(path_) << "old contents that must go";
  win32::HANDLE file = nullptr;
  ASSERT_EQ(K2C_FileOpenWrite(file, path_.c_str()), 0u);
  std::uint32_t count = 5;
  ASSERT_EQ(K2C_FileWrite(file, "fresh", count), 0u);
  EXPECT_EQ(count, 5u);
  EXPECT_EQ(K2C_FileClose(file), 0u);
  EXPECT_EQ(ReadFile(path_), "fresh");
}

TEST_F(KosFileIO, OpenReadWriteNeedsAnExistingFileAndKeepsTheHandleOnFailure) {
  auto untouched = reinterpret_cast<win32::HANDLE>(0x1234);
  win32::HANDLE file = untouched;
  EXPECT_EQ(K2C_FileOpenRW(file, path_.c_str()), 1u);
  EXPECT_EQ(file, untouched);

  std::ofstream(path_) << "0123456789";
  ASSERT_EQ(K2C_FileOpenRW(file, path_.c_str()), 0u);
  std::uint32_t position = 4;
  ASSERT_EQ(K2C_FileSeek(file, position, 0), 0u);
  EXPECT_EQ(position, 4u);
  std::uint32_t count = 2;
  ASSERT_EQ(K2C_FileWrite(file, "ab", count), 0u);
  position = 0;
  ASSERT_EQ(K2C_FileSeek(file, position, 1), 0u);
  EXPECT_EQ(position, 6u);
  position = 0;
  ASSERT_EQ(K2C_FileSeek(file, position, 2), 0u);
  EXPECT_EQ(position, 10u);
  EXPECT_EQ(K2C_FileClose(file), 0u);
  EXPECT_EQ(ReadFile(path_), "0123ab6789");
}

TEST_F(KosFileIO, FailuresCollapseIntoOne) {
  win32::HANDLE file = nullptr;
  EXPECT_EQ(K2C_FileOpenWrite(file, "/nonexistent-dir/x/y"), 1u);
  auto invalid = reinterpret_cast<win32::HANDLE>(0x7654321);
  EXPECT_EQ(K2C_FileClose(invalid), 1u);
  std::uint32_t count = 3;
  EXPECT_EQ(K2C_FileWrite(invalid, "abc", count), 1u);
  EXPECT_EQ(count, 0u);
  std::uint32_t position = 7;
  EXPECT_EQ(K2C_FileSeek(invalid, position, 0), 1u);
  EXPECT_EQ(position, 7u);
}

// Without a handle the text is buffered (1023 characters at most) and shown
// in one message box by the flush; the message box of this platform writes
// "caption: text" to the standard error stream.
TEST_F(KosFileIO, DirectOutputWithoutHandleShowsOneMessageBox) {
#ifdef _WIN32
  GTEST_SKIP() << "Windows' message box is a window that waits for a click, not text on the "
                  "standard error stream";
#else
  int saved = ::dup(STDERR_FILENO);
  int capture = ::open(path_.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
  ASSERT_GE(capture, 0);
  ::dup2(capture, STDERR_FILENO);

  K2C_StdOutInit(win32::INVALID_HANDLE_VALUE);
  K2C_StdOutFlush();  // nothing buffered: no box
  std::string text(700, 'a');
  K2C_StdOut(text.data(), 700);
  text.assign(700, 'b');
  K2C_StdOut(text.data(), 700);
  K2C_StdOutFlush();
  K2C_StdOutFlush();  // emptied by the first flush
  K2C_StdOut("again", 5);
  K2C_StdOutFlush();
  K2C_StdOutInit(win32::GetStdHandle(win32::STD_ERROR_HANDLE));

  ::dup2(saved, STDERR_FILENO);
  ::close(saved);
  ::close(capture);
  std::string expected = "Application Error: " + std::string(700, 'a') + std::string(323, 'b') +
                         "\nApplication Error: again\n";
  EXPECT_EQ(ReadFile(path_), expected);
#endif
}

}  // namespace
