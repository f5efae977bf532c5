// The call history and the error report file "errinfo.$$$".
#include <gtest/gtest.h>
#ifndef _WIN32
#include <elf.h>
#include <unistd.h>
#endif

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <regex>

#include "runtime/krIsCall.h"
#include "tests/runtime/ProbeRunner.h"
#include "tests/runtime/ProbeScenarios.h"
#include "tests/support/Subprocess.h"
#include "tests/support/TestFiles.h"

namespace {

using runtime_tests::ProbePath;
using runtime_tests::Report;
namespace scenarios = probe_scenario;
namespace fs = std::filesystem;

constexpr char kReportFile[] = "errinfo.$$$";

testing_support::RunResult RunIn(const std::string& directory, const std::string& scenario) {
  testing_support::RunOptions options;
  options.workingDirectory = directory;
  return testing_support::RunProgram(ProbePath(), {scenario}, options);
}

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  std::size_t from = 0;
  for (std::size_t end; (end = text.find("\r\n", from)) != std::string::npos; from = end + 2) {
    lines.push_back(text.substr(from, end - from));
  }
  EXPECT_EQ(from, text.size()) << "the last line has no CR LF";
  return lines;
}

// The call sites are checked against the executable's ELF sections and
// symbols (addr2line): the Linux build's alone.
#ifndef _WIN32
struct Section {
  std::string name;
  std::uint64_t fileOffset;
};

// The executable's section by index, read from its ELF section table.
Section SectionOf(const std::string& path, std::uint32_t index) {
  std::ifstream file(path, std::ios::binary);
  Elf64_Ehdr header{};
  file.read(reinterpret_cast<char*>(&header), sizeof header);
  std::vector<Elf64_Shdr> table(header.e_shnum);
  file.seekg(static_cast<std::streamoff>(header.e_shoff));
  file.read(reinterpret_cast<char*>(table.data()),
            static_cast<std::streamsize>(table.size() * sizeof(Elf64_Shdr)));
  const Elf64_Shdr& names = table.at(header.e_shstrndx);
  file.seekg(static_cast<std::streamoff>(names.sh_offset + table.at(index).sh_name));
  std::string name;
  std::getline(file, name, '\0');
  return {name, table.at(index).sh_offset};
}

// The function addr2line names for an offset in a section.
std::string FunctionAt(const std::string& path, const std::string& section, std::uint32_t offset) {
  char command[1024];
  std::snprintf(command, sizeof command, "addr2line -f -C -e '%s' -j '%s' 0x%X", path.c_str(),
                section.c_str(), offset);
  FILE* pipe = ::popen(command, "r");
  char line[4096] = {};
  if (pipe == nullptr || std::fgets(line, sizeof line, pipe) == nullptr) line[0] = '\0';
  if (pipe != nullptr) ::pclose(pipe);
  return line;
}

std::uint8_t ByteAt(const std::string& path, std::uint64_t offset) {
  std::ifstream file(path, std::ios::binary);
  file.seekg(static_cast<std::streamoff>(offset));
  return static_cast<std::uint8_t>(file.get());
}

#endif

struct Entry {
  std::uint32_t offset;
  std::uint32_t section;
  std::string module;
};

Entry ParseEntry(const std::string& line) {
  static const std::regex form("([0-9A-F]{8})  ([0-9A-F]{8})  (.*)");
  std::smatch match;
  EXPECT_TRUE(std::regex_match(line, match, form)) << line;
  if (match.empty()) return {};
  return {static_cast<std::uint32_t>(std::stoul(match[1], nullptr, 16)),
          static_cast<std::uint32_t>(std::stoul(match[2], nullptr, 16)), match[3]};
}

#ifndef _WIN32
struct TrapCase {
  const char* scenario;
  const char* report;
  std::vector<const char*> location;  // functions the trap location may lie in
  std::vector<const char*> callers;   // the call sites, innermost first
};

void PrintTo(const TrapCase& c, std::ostream* os) {
  *os << c.scenario;
}

class HistoryFile : public testing::TestWithParam<TrapCase> {};

// The trap location first (for a check: just after the call of the trap
// entry; for a hardware fault: the faulting instruction), then the call
// sites up to the main module's procedure.
TEST_P(HistoryFile, HoldsCommandLineReportAndTheRealCallSites) {
  const TrapCase& c = GetParam();
  testing_support::TempDir dir;
  auto result = RunIn(dir.path(), c.scenario);
  EXPECT_EQ(result.exitCode, 9);
  EXPECT_EQ(result.err, Report(c.report) + "\r\nFile errinfo.$$$ created.\r\n");
  const std::string exe = fs::canonical(ProbePath());
  const auto lines = Lines(testing_support::ReadFile(dir.path() + "/" + kReportFile));
  ASSERT_EQ(lines.size(), 3 + c.callers.size());
  EXPECT_EQ(lines[0].substr(0, exe.size() + 1), exe + " ");
  EXPECT_TRUE(lines[0].ends_with(std::string(" ") + c.scenario)) << lines[0];
  EXPECT_EQ(lines[1], std::string("#RTS: unhandled exception #") + c.report);

  const Entry location = ParseEntry(lines[2]);
  EXPECT_EQ(location.module, exe);
  const Section locationSection = SectionOf(exe, location.section);
  EXPECT_EQ(locationSection.name, ".text");
  // A return address may lie just past its function's end: look one byte back.
  const std::string function = FunctionAt(exe, locationSection.name, location.offset - 1);
  EXPECT_TRUE(std::any_of(c.location.begin(), c.location.end(), [&](const char* name) {
    return function.find(name) != std::string::npos;
  })) << function;

  for (std::size_t i = 0; i < c.callers.size(); ++i) {
    const Entry entry = ParseEntry(lines[3 + i]);
    EXPECT_EQ(entry.module, exe);
    const Section section = SectionOf(exe, entry.section);
    EXPECT_EQ(section.name, ".text");
    EXPECT_NE(FunctionAt(exe, section.name, entry.offset).find(c.callers[i]), std::string::npos)
        << lines[3 + i];
    const std::uint8_t opcode = ByteAt(exe, section.fileOffset + entry.offset);
    EXPECT_TRUE(opcode == 0xE8 || opcode == 0xFF || (opcode & 0xF0) == 0x40) << int(opcode);
  }
}

INSTANTIATE_TEST_SUITE_P(Traps, HistoryFile,
                         testing::Values(TrapCase{scenarios::kHistoryIndex,
                                                  "0: invalid index",
                                                  {"K2C_CheckIndex", "indexInner"},
                                                  {"indexInner", "indexOuter", "indexTwoCallsDown(",
                                                   "Main("}},
                                         TrapCase{scenarios::kHistoryNil,
                                                  "3: invalid location",
                                                  {"readThrough"},
                                                  {"readNil(", "Main("}}),
                         [](const auto& info) {
                           std::string name = info.param.scenario;
                           for (char& ch : name) {
                             if (ch == '-') ch = '_';
                           }
                           return name;
                         });

#endif

TEST(History, MoreReturnAddressesThanRoomKeepTheFirst256AndSaySo) {
  testing_support::TempDir dir;
  auto result = RunIn(dir.path(), "history-deep");
  EXPECT_EQ(result.exitCode, 9);
  const auto lines = Lines(testing_support::ReadFile(dir.path() + "/" + kReportFile));
  ASSERT_EQ(lines.size(), 2u + 256u + 1u);
  EXPECT_EQ(lines.back(), "#RTS: History stack was truncated: not enough room.");
#ifdef _WIN32
  // The module's name as Windows gives it: the full path with backslashes.
  EXPECT_EQ(ParseEntry(lines[257]).module,
            fs::canonical(ProbePath() + ".exe").make_preferred().string());
#else
  EXPECT_EQ(ParseEntry(lines[257]).module, fs::canonical(ProbePath()).string());
#endif
}

TEST(History, NeverSwitchedOnWritesNoFile) {
  testing_support::TempDir dir;
  auto result = RunIn(dir.path(), "nested-index");
  EXPECT_EQ(result.exitCode, 9);
  EXPECT_EQ(result.err, Report("0: invalid index"));
  EXPECT_FALSE(fs::exists(dir.path() + "/" + kReportFile));
}

struct LinkCase {
  const char* name;
  bool targetExists;
};

void PrintTo(const LinkCase& c, std::ostream* os) {
  *os << c.name;
}

class HistoryLink : public testing::TestWithParam<LinkCase> {};

// Another user's link in a shared directory must not make the program write
// that user's file, nor create one where the link points.
TEST_P(HistoryLink, IsNotFollowedAndCountsAsFailureToCreate) {
#ifdef _WIN32
  GTEST_SKIP() << "symbolic links on Windows need a privilege the tests do not have";
#else
  testing_support::TempDir dir;
  const std::string target = dir.path() + "/victim";
  if (GetParam().targetExists) std::ofstream(target) << "precious";
  fs::create_symlink(target, dir.path() + "/" + kReportFile);
  auto result = RunIn(dir.path(), "history-index");
  EXPECT_EQ(result.exitCode, 9);
  EXPECT_EQ(result.err, Report("0: invalid index") + "\r\n#RTS: Can't create file errinfo.$$$\r\n");
  if (GetParam().targetExists) {
    EXPECT_EQ(testing_support::ReadFile(target), "precious");
  } else {
    EXPECT_FALSE(fs::exists(target));
  }
  EXPECT_TRUE(fs::is_symlink(dir.path() + "/" + kReportFile));
#endif
}

INSTANTIATE_TEST_SUITE_P(Links, HistoryLink,
                         testing::Values(LinkCase{"ToAnExistingFile", true},
                                         LinkCase{"ToNothing", false}),
                         [](const auto& info) { return std::string(info.param.name); });

struct CallCase {
  const char* name;
  std::vector<std::uint8_t> bytes;  // the instruction that ends at the return address
  std::uint32_t length;             // 0: no call
};

void PrintTo(const CallCase& c, std::ostream* os) {
  *os << c.name;
}

class IsCall : public testing::TestWithParam<CallCase> {};

TEST_P(IsCall, FindsTheCallThatEndsAtTheReturnAddress) {
  std::vector<std::uint8_t> code(8, 0x90);  // nops before it
  code.insert(code.end(), GetParam().bytes.begin(), GetParam().bytes.end());
  const auto r = reinterpret_cast<std::uintptr_t>(code.data() + code.size());
  const std::uintptr_t expected = GetParam().length == 0 ? 0 : r - GetParam().length;
  EXPECT_EQ(K2C_IS_CALL(r), expected);
}

INSTANTIATE_TEST_SUITE_P(
    Forms, IsCall,
    testing::Values(
        CallCase{"Relative", {0xE8, 1, 2, 3, 4}, 5}, CallCase{"Register", {0xFF, 0xD0}, 2},
        CallCase{"HighRegister", {0x41, 0xFF, 0xD3}, 3},
        CallCase{"ThroughRegister", {0xFF, 0x10}, 2},
        CallCase{"RipRelative", {0xFF, 0x15, 1, 2, 3, 4}, 6},
        CallCase{"Displacement8", {0xFF, 0x50, 0x08}, 3}, CallCase{"Sib", {0xFF, 0x14, 0x24}, 3},
        CallCase{"SibDisplacement8", {0xFF, 0x54, 0x24, 0x08}, 4},
        CallCase{"Displacement32", {0xFF, 0x90, 1, 2, 3, 4}, 6},
        CallCase{"SibDisplacement32", {0xFF, 0x94, 0x24, 1, 2, 3, 4}, 7},
        CallCase{"HighRegisterDisplacement8", {0x41, 0xFF, 0x50, 0x08}, 4},
        CallCase{"JumpIsNoCall", {0xFF, 0xE0}, 0}, CallCase{"PlainCode", {0x48, 0x89, 0xE5}, 0}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
