// Splitting the command line at start-up.
#include <gtest/gtest.h>

#include <filesystem>
#include <random>
#include <string>
#include <vector>

#include "platform/kernel/Process.h"
#include "runtime/krnStart.h"
#ifndef _WIN32
#include "platform/kernel/ProcessInternal.h"
#endif
#include "tests/runtime/ProbeRunner.h"
#include "tests/support/TestFiles.h"

namespace {

namespace fs = std::filesystem;

struct Split {
  std::vector<std::string> args;
  std::string sysarg;  // "NIL" when there is none
};

Split SplitLine(std::string line) {
  std::vector<char> buffer(line.begin(), line.end());
  buffer.push_back('\0');
  K2C_SplitResult result = K2C_SplitCommandLine(buffer.data());
  Split split;
  for (std::int32_t i = 0; i < result.argc; ++i) split.args.emplace_back(result.argv[i]);
  split.sysarg = result.sysarg != nullptr ? std::string(result.sysarg) : "NIL";
  if (result.sysarg != nullptr) {
    EXPECT_GE(result.sysarg, buffer.data());
    EXPECT_LT(result.sysarg, buffer.data() + buffer.size());
  }
  return split;
}

using Args = std::vector<std::string>;

TEST(CommandLine, QuotesEscapedQuotesAndEmptyArgument) {
  Split split = SplitLine(R"(prog a "b c" d\"e "")");
  EXPECT_EQ(split.args, (Args{"prog", "a", "b c", "d\"e"}));
  EXPECT_EQ(split.sysarg, R"( a "b c" d\"e "")");
}

TEST(CommandLine, ProgramNameOnlyHasNoRawRest) {
  Split split = SplitLine("prog");
  EXPECT_EQ(split.args, (Args{"prog"}));
  EXPECT_EQ(split.sysarg, "NIL");
}

TEST(CommandLine, RawRestStartsAtFirstSpaceEvenInsideQuotes) {
  Split split = SplitLine(R"("C:\my dir\prog.exe" x)");
  EXPECT_EQ(split.args, (Args{R"(C:\my dir\prog.exe)", "x"}));
  EXPECT_EQ(split.sysarg, R"( dir\prog.exe" x)");
}

TEST(CommandLine, TabsSeparateArgumentsButDoNotEndTheProgramNameForTheRawRest) {
  Split tabs = SplitLine("prog\ta\t\tb");
  EXPECT_EQ(tabs.args, (Args{"prog", "a", "b"}));
  EXPECT_EQ(tabs.sysarg, "NIL");
  Split mixed = SplitLine("prog\ta b");
  EXPECT_EQ(mixed.args, (Args{"prog", "a", "b"}));
  EXPECT_EQ(mixed.sysarg, " b");
}

TEST(CommandLine, LeadingBlanksAndOrdinaryBackslashes) {
  Split split = SplitLine(" \t prog a\\\\b c\\ \"\\\"x y\"");
  EXPECT_EQ(split.args, (Args{"prog", "a\\\\b", "c\\", "\"x y"}));
  EXPECT_EQ(split.sysarg, " a\\\\b c\\ \"\\\"x y\"");
}

TEST(CommandLine, EmptyAndMissingLines) {
  Split empty = SplitLine("");
  EXPECT_TRUE(empty.args.empty());
  EXPECT_EQ(empty.sysarg, "NIL");
  Split blanks = SplitLine("  \t ");
  EXPECT_TRUE(blanks.args.empty());
  K2C_SplitResult none = K2C_SplitCommandLine(nullptr);
  EXPECT_EQ(none.argc, 0);
  EXPECT_EQ(none.argv, nullptr);
  EXPECT_EQ(none.sysarg, nullptr);
}

#ifndef _WIN32
// Arguments that this splitting can carry: not empty (empty ones are
// dropped) and not ending in a backslash (a backslash before the closing
// quote would read as an escaped quote).
std::string RandomArgument(std::mt19937& random) {
  static constexpr char kAlphabet[] = "abcXYZ019 \t\"\\-_./";
  std::uniform_int_distribution<int> length(1, 12);
  std::uniform_int_distribution<int> pick(0, sizeof kAlphabet - 2);
  std::string argument;
  for (int i = length(random); i > 0; --i) argument += kAlphabet[pick(random)];
  if (argument.back() == '\\') argument.back() = 'z';
  return argument;
}
#endif

TEST(CommandLine, JoinedArgumentsSplitBackUnchanged) {
#ifdef _WIN32
  GTEST_SKIP() << "the joining is the Linux platform's GetCommandLineA, by the splitter's own "
                  "rules (not CommandLineToArgvW's); the rows above pin those rules";
#else
  std::mt19937 random(20261208);
  std::uniform_int_distribution<int> count(1, 8);
  for (int round = 0; round < 2000; ++round) {
    Args args;
    for (int i = count(random); i > 0; --i) args.push_back(RandomArgument(random));
    std::string line = win32::detail::JoinCommandLine(args);
    ASSERT_EQ(SplitLine(line).args, args) << "line: " << line;
  }
#endif
}

// This test process never ran the start-up: no arguments.
TEST(ProgramName, EmptyWithoutArgumentsAndModuleNameIsThePath) {
  EXPECT_STREQ(K2C_GetProgramName(), "");
  char path[4096];
  std::uint32_t length = K2C_GetModuleName(nullptr, path, sizeof path);
  ASSERT_GT(length, 0u);
#ifdef _WIN32
  char system[4096];
  const win32::DWORD systemLength = win32::GetModuleFileNameA(nullptr, system, sizeof system);
  EXPECT_EQ(std::string(path, length), std::string(system, systemLength));
#else
  EXPECT_EQ(std::string(path, length), fs::read_symlink("/proc/self/exe").string());
#endif
}

// A real start: argv[0] is the executable's full path, even when the path
// has a blank and the raw rest starts inside it.
TEST(CommandLine, StartUpReplacesTheProgramNameByTheFullPath) {
  const testing_support::TempDir temp;
  const fs::path dir = fs::path(temp.path()) / "shapeboard rt dir";
  fs::create_directories(dir);
#ifdef _WIN32
  // The full path as Windows gives it: backslashes throughout.
  fs::path probe = (dir / "rt_probe.exe").make_preferred();
  fs::copy_file(runtime_tests::ProbePath() + ".exe", probe, fs::copy_options::overwrite_existing);
#else
  fs::path probe = dir / "rt_probe";
  fs::copy_file(runtime_tests::ProbePath(), probe, fs::copy_options::overwrite_existing);
#endif
  auto result = testing_support::RunProgram(probe.string(), {"args", "two words"});
  EXPECT_EQ(result.exitCode, 0) << result.err;
  std::string expected =
      "argc 3\nargv[0] " + probe.string() + "\nargv[1] args\nargv[2] two words\n";
  EXPECT_EQ(result.out.substr(0, expected.size()), expected);
  EXPECT_NE(result.out.find("sysarg [ rt "), std::string::npos) << result.out;
  EXPECT_NE(result.out.find("program " + probe.string() + "\n"), std::string::npos);
}

}  // namespace
