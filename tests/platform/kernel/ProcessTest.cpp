#include "platform/kernel/Process.h"

#include <unistd.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "platform/kernel/Errors.h"
#include "platform/kernel/ProcessInternal.h"
#include "tests/support/Subprocess.h"

namespace {

using namespace win32;

// The run-time's splitting rules, restated here: blanks are space and tab; a
// backslash right before a quote gives a quote; any other backslash is an
// ordinary character; a quote toggles quoting; empty arguments are dropped.
std::vector<std::string> splitLikeTheRunTime(const std::string& line) {
  std::vector<std::string> arguments;
  std::size_t i = 0;
  auto isBlank = [](char c) { return c == ' ' || c == '\t'; };
  while (true) {
    while (i < line.size() && isBlank(line[i])) ++i;
    if (i >= line.size()) break;
    std::string argument;
    bool quoted = false;
    while (i < line.size()) {
      const char c = line[i];
      if (c == '\\' && i + 1 < line.size() && line[i + 1] == '"') {
        argument += '"';
        i += 2;
      } else if (c == '"') {
        quoted = !quoted;
        ++i;
      } else if (isBlank(c) && !quoted) {
        ++i;
        break;
      } else {
        argument += c;
        ++i;
      }
    }
    if (!argument.empty()) arguments.push_back(argument);
  }
  return arguments;
}

std::vector<std::string> withoutEmpty(const std::vector<std::string>& arguments) {
  std::vector<std::string> kept;
  for (const std::string& argument : arguments) {
    if (!argument.empty()) kept.push_back(argument);
  }
  return kept;
}

std::string ioProgram() {
  return testing_support::ExecutableDirectory() + "/kernel_io_program";
}

TEST(ProcessTest, JoinCommandLineQuotesBlanksAndEscapesQuotes) {
  EXPECT_EQ(detail::JoinCommandLine({"prog", "a", "b c"}), "prog a \"b c\"");
  EXPECT_EQ(detail::JoinCommandLine({"prog", "d\"e"}), "prog d\\\"e");
  EXPECT_EQ(detail::JoinCommandLine({"prog", "x y\\"}), "prog \"x y\"\\");
  EXPECT_EQ(detail::JoinCommandLine({"prog", ""}), "prog \"\"");
  EXPECT_EQ(detail::JoinCommandLine({"prog", "t\tab"}), "prog \"t\tab\"");
}

TEST(ProcessTest, JoinedCommandLinesSplitBackIntoTheSameArguments) {
  const std::string alphabet = " \t\"\\ab";
  std::mt19937 random(20261208);
  std::uniform_int_distribution<int> argumentCount(1, 5);
  std::uniform_int_distribution<int> argumentLength(0, 7);
  std::uniform_int_distribution<std::size_t> pick(0, alphabet.size() - 1);
  for (int round = 0; round < 20000; ++round) {
    std::vector<std::string> arguments{"prog"};
    const int count = argumentCount(random);
    for (int a = 0; a < count; ++a) {
      std::string argument;
      const int length = argumentLength(random);
      for (int c = 0; c < length; ++c) argument += alphabet[pick(random)];
      arguments.push_back(argument);
    }
    const std::string line = detail::JoinCommandLine(arguments);
    ASSERT_EQ(splitLikeTheRunTime(line), withoutEmpty(arguments)) << "line: [" << line << "]";
  }
}

TEST(ProcessTest, CommandLineOfAChildProcessSplitsIntoItsArguments) {
  const std::vector<std::string> args{"cmdline", "two words", "quote\"inside", "tail\\", "\t"};
  auto result = testing_support::RunProgram(ioProgram(), args);
  ASSERT_EQ(result.exitCode, 0);
  std::vector<std::string> expected{ioProgram()};
  expected.insert(expected.end(), args.begin(), args.end());
  EXPECT_EQ(splitLikeTheRunTime(result.out), expected);
}

TEST(ProcessTest, ModuleFileNameIsTheExecutablePath) {
  char expected[4096] = {};
  ASSERT_GT(::readlink("/proc/self/exe", expected, sizeof expected - 1), 0);
  char buffer[4096];
  const DWORD length = GetModuleFileNameA(nullptr, buffer, sizeof buffer);
  EXPECT_EQ(std::string(buffer, length), expected);
  EXPECT_EQ(GetModuleFileNameA(GetModuleHandleA(nullptr), buffer, sizeof buffer), length);
}

TEST(ProcessTest, ModuleFileNameTruncatesIntoASmallBuffer) {
  char buffer[5];
  EXPECT_EQ(GetModuleFileNameA(nullptr, buffer, sizeof buffer), 5u);
  EXPECT_EQ(GetLastError(), ERROR_INSUFFICIENT_BUFFER);
  EXPECT_EQ(std::strlen(buffer), 4u);
  EXPECT_EQ(buffer[0], '/');
}

TEST(ProcessTest, ModuleHandleIsTheExecutablesElfHeader) {
  const auto* image = reinterpret_cast<const unsigned char*>(GetModuleHandleA(nullptr));
  ASSERT_NE(image, nullptr);
  EXPECT_EQ(std::memcmp(image,
                        "\x7f"
                        "ELF",
                        4),
            0);
  EXPECT_EQ(GetModuleHandleA("other.dll"), nullptr);
}

// Whether an address lies in the program's own image or in a library's.
TEST(ProcessTest, TheModuleHoldingAnAddress) {
  const HMODULE executable = GetModuleHandleA(nullptr);
  static int inTheExecutable = 0;
  int onTheStack = 0;
  struct Row {
    const char* what;
    const void* address;
    bool found;
    bool isExecutable;
  };
  const Row rows[] = {
      {"code", reinterpret_cast<const void*>(&GetModuleHandleExA), true, true},
      {"data", &inTheExecutable, true, true},
      {"the C library's standard output", stdout, true, false},
      {"the stack", &onTheStack, false, false},
      {"null", nullptr, false, false},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.what);
    HMODULE module = reinterpret_cast<HMODULE>(1);
    const BOOL found = GetModuleHandleExA(
        GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
        static_cast<LPCSTR>(row.address), &module);
    EXPECT_EQ(found != FALSE, row.found);
    if (!row.found) {
      EXPECT_EQ(module, nullptr);
      EXPECT_EQ(GetLastError(), ERROR_MOD_NOT_FOUND);
      continue;
    }
    EXPECT_EQ(module == executable, row.isExecutable);
    EXPECT_NE(module, nullptr);
  }
  HMODULE module = nullptr;
  EXPECT_TRUE(GetModuleHandleExA(0, nullptr, &module));
  EXPECT_EQ(module, executable);
  EXPECT_FALSE(GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS, "", nullptr));
  EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
}

TEST(ProcessTest, SetErrorModeReturnsThePreviousMode) {
  const UINT before = SetErrorMode(SEM_FAILCRITICALERRORS);
  EXPECT_EQ(SetErrorMode(before), SEM_FAILCRITICALERRORS);
}

TEST(ProcessTest, ExitProcessRunsTheExitHooksNewestFirst) {
  auto result = testing_support::RunProgram(ioProgram(), {"exit"});
  EXPECT_EQ(result.exitCode, 7);
  EXPECT_EQ(result.err, "second hook\nfirst hook\n");
}

}  // namespace
