// The handle-level file operations under the channel devices.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "runtime/kosFiles.h"
#include "platform/kernel/Errors.h"
#include "platform/kernel/Files.h"
#include "platform/kernel/Handles.h"
#include "tests/support/TestFiles.h"
#include "tests/support/TestPipe.h"

namespace {

class KosFiles : public testing::Test {
 protected:
  void SetUp() override {
    path_ = dir_.file("kosFiles");
    file_ = win32::CreateFileA(path_.c_str(), win32::GENERIC_READ | win32::GENERIC_WRITE, 0,
                               nullptr, win32::CREATE_ALWAYS, 0, nullptr);
    ASSERT_NE(file_, win32::INVALID_HANDLE_VALUE);
  }
  void TearDown() override { win32::CloseHandle(file_); }

  void writeText(const std::string& text) {
    std::uint32_t written = 0;
    ASSERT_EQ(K2C_fWrite(file_, text.data(), static_cast<std::uint32_t>(text.size()), written), 0u);
    ASSERT_EQ(written, text.size());
  }

  testing_support::TempDir dir_;
  std::string path_;
  win32::HANDLE file_ = nullptr;
};

TEST_F(KosFiles, WriteSeekAndReadBack) {
  writeText("hello, world");
  FilePos pos{0, 7};
  ASSERT_EQ(K2C_fSeek(file_, pos, 0), 0u);
  EXPECT_EQ(pos.high, 0u);
  EXPECT_EQ(pos.low, 7u);
  char buffer[16] = {};
  std::uint32_t read = 0;
  ASSERT_EQ(K2C_fRead(file_, buffer, sizeof buffer, read), 0u);
  EXPECT_EQ(std::string(buffer, read), "world");
  // At the end a read succeeds with nothing.
  ASSERT_EQ(K2C_fRead(file_, buffer, sizeof buffer, read), 0u);
  EXPECT_EQ(read, 0u);
}

TEST_F(KosFiles, TellAndSeekFromEveryOrigin) {
  writeText("0123456789");
  FilePos pos{};
  ASSERT_EQ(K2C_fTell(file_, pos), 0u);
  EXPECT_EQ(pos.low, 10u);

  pos = FilePos{0, 2};
  ASSERT_EQ(K2C_fSeek(file_, pos, 0), 0u);
  pos = FilePos{0, 3};
  ASSERT_EQ(K2C_fSeek(file_, pos, 1), 0u);
  EXPECT_EQ(pos.low, 5u);

  // Any origin above 1 counts from the end.
  pos = FilePos{0, 0};
  ASSERT_EQ(K2C_fSeek(file_, pos, 5), 0u);
  EXPECT_EQ(pos.low, 10u);
  pos = FilePos{0xFFFFFFFFu, 0xFFFFFFFDu};  // -3 as a 64-bit distance
  ASSERT_EQ(K2C_fSeek(file_, pos, 2), 0u);
  EXPECT_EQ(pos.high, 0u);
  EXPECT_EQ(pos.low, 7u);
}

TEST_F(KosFiles, PositionsBeyondFourGigabytesUseTheHighWord) {
  FilePos pos{1, 16};
  ASSERT_EQ(K2C_fSeek(file_, pos, 0), 0u);
  EXPECT_EQ(pos.high, 1u);
  EXPECT_EQ(pos.low, 16u);
  FilePos told{};
  ASSERT_EQ(K2C_fTell(file_, told), 0u);
  EXPECT_EQ(told.high, 1u);
  EXPECT_EQ(told.low, 16u);
}

TEST_F(KosFiles, FailedSeekReturnsTheCodeAndLeavesThePosition) {
  FilePos pos{0xFFFFFFFFu, 0xFFFFFFF0u};  // before the start
  std::uint32_t error = K2C_fSeek(file_, pos, 0);
  EXPECT_NE(error, 0u);
  EXPECT_EQ(pos.high, 0xFFFFFFFFu);
  EXPECT_EQ(pos.low, 0xFFFFFFF0u);
}

TEST_F(KosFiles, FileTypes) {
  EXPECT_EQ(K2C_fGetFileType(file_), K2C_FILE_DISK);
  testing_support::PipeHandles pipe;
  ASSERT_TRUE(testing_support::MakePipe(pipe));
  win32::HANDLE reader = pipe.read;
  win32::HANDLE writer = pipe.write;
  EXPECT_EQ(K2C_fGetFileType(reader), K2C_FILE_PIPE);
  win32::HANDLE device = win32::CreateFileA(testing_support::kNullDevice, win32::GENERIC_WRITE, 0,
                                            nullptr, win32::OPEN_EXISTING, 0, nullptr);
  ASSERT_NE(device, win32::INVALID_HANDLE_VALUE);
  EXPECT_EQ(K2C_fGetFileType(device), K2C_FILE_CHAR);
  EXPECT_EQ(K2C_fGetFileType(reinterpret_cast<win32::HANDLE>(0x7654321)), K2C_FILE_OTHER);

  // Seeking a pipe fails with the system's code.
  FilePos pos{0, 0};
  EXPECT_NE(K2C_fSeek(reader, pos, 0), 0u);
  win32::CloseHandle(reader);
  win32::CloseHandle(writer);
  win32::CloseHandle(device);
}

TEST_F(KosFiles, FlushCountsAnInvalidHandleAsSuccess) {
  writeText("x");
  EXPECT_EQ(K2C_fFlush(file_), 0u);
  EXPECT_EQ(K2C_fFlush(reinterpret_cast<win32::HANDLE>(0x7654321)), 0u);
}

TEST_F(KosFiles, ReadAndWriteErrorsPassTheCodeThrough) {
  auto invalid = reinterpret_cast<win32::HANDLE>(0x7654321);
  char buffer[4];
  std::uint32_t count = 99;
  EXPECT_EQ(K2C_fRead(invalid, buffer, sizeof buffer, count), win32::ERROR_INVALID_HANDLE);
  EXPECT_EQ(K2C_fWrite(invalid, buffer, sizeof buffer, count), win32::ERROR_INVALID_HANDLE);
  EXPECT_EQ(count, 0u);
}

TEST(KosStd, GetAndSetTheStandardHandles) {
  EXPECT_TRUE(K2C_IsMixAllowed());
  win32::HANDLE in = nullptr, out = nullptr, err = nullptr, larger = nullptr;
  ASSERT_EQ(K2C_fGetStd(in, 0), 0u);
  ASSERT_EQ(K2C_fGetStd(out, 1), 0u);
  ASSERT_EQ(K2C_fGetStd(err, 2), 0u);
  ASSERT_EQ(K2C_fGetStd(larger, 7), 0u);
  EXPECT_EQ(in, win32::GetStdHandle(win32::STD_INPUT_HANDLE));
  EXPECT_EQ(out, win32::GetStdHandle(win32::STD_OUTPUT_HANDLE));
  EXPECT_EQ(err, win32::GetStdHandle(win32::STD_ERROR_HANDLE));
  EXPECT_EQ(larger, err);

  win32::HANDLE replacement = win32::CreateFileA(testing_support::kNullDevice, win32::GENERIC_WRITE,
                                                 0, nullptr, win32::OPEN_EXISTING, 0, nullptr);
  ASSERT_EQ(K2C_fSetStd(replacement, 1), 0u);
  win32::HANDLE now = nullptr;
  ASSERT_EQ(K2C_fGetStd(now, 1), 0u);
  EXPECT_EQ(now, replacement);
  ASSERT_EQ(K2C_fSetStd(out, 1), 0u);
  win32::CloseHandle(replacement);
}

}  // namespace
