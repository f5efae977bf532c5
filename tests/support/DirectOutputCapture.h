// A test fixture that sends the run-time's direct output (the path of its
// reports) into a file for the test to read back.
#pragma once

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <string>

#include "runtime/kosFileIO.h"
#include "platform/kernel/Files.h"
#include "platform/kernel/Handles.h"
#include "tests/support/TestFiles.h"

namespace testing_support {

class DirectOutputCapture : public testing::Test {
 protected:
  void SetUp() override {
    path_ =
        (std::filesystem::temp_directory_path() / ("direct-output-" + std::to_string(::getpid())))
            .string();
    // Shared for reading: written() reads the file back while the handle is
    // open, which Windows refuses for a file opened without sharing.
    file_ = win32::CreateFileA(path_.c_str(), win32::GENERIC_WRITE, win32::FILE_SHARE_READ, nullptr,
                               win32::CREATE_ALWAYS, 0, nullptr);
    ASSERT_NE(file_, win32::INVALID_HANDLE_VALUE);
    K2C_StdOutInit(file_);
  }
  void TearDown() override {
    K2C_StdOutInit(win32::GetStdHandle(win32::STD_ERROR_HANDLE));
    win32::CloseHandle(file_);
    std::remove(path_.c_str());
  }
  std::string written() const { return ReadFile(path_); }

 private:
  std::string path_;
  win32::HANDLE file_ = nullptr;
};

}  // namespace testing_support
