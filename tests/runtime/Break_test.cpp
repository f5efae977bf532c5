// Ctrl+C typed in a real terminal (a tmux pane) ends the program with the
// break report.
#include <gtest/gtest.h>

#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>

#include "tests/runtime/ProbeRunner.h"

namespace {

namespace fs = std::filesystem;

std::string ReadFile(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

bool WaitForFile(const fs::path& path, std::chrono::seconds limit) {
  auto deadline = std::chrono::steady_clock::now() + limit;
  while (std::chrono::steady_clock::now() < deadline) {
    if (fs::exists(path) && !ReadFile(path).empty()) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  return false;
}

std::string Quote(const std::string& text) {
  std::string quoted = "'";
  for (char c : text) quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return quoted + "'";
}

// A tmux server of the test's own (its own socket), ended with the test.
class TmuxSession {
 public:
  TmuxSession() : socket_("shapeboard-break-" + std::to_string(::getpid())) {}
  ~TmuxSession() { tmux("kill-server"); }

  int tmux(const std::string& arguments) {
    std::string command = "tmux -L " + socket_ + " " + arguments + " >/dev/null 2>&1";
    return std::system(command.c_str());
  }

 private:
  std::string socket_;
};

class BreakInTerminal : public testing::TestWithParam<const char*> {
 protected:
  void SetUp() override {
    if (std::system("command -v tmux >/dev/null 2>&1") != 0) GTEST_SKIP() << "tmux is missing";
    dir_ = fs::temp_directory_path() /
           ("shapeboard-break-" + std::to_string(::getpid()) + "-" + GetParam());
    fs::create_directories(dir_);
  }
  void TearDown() override {
    std::error_code ignored;
    fs::remove_all(dir_, ignored);
  }
  fs::path dir_;
};

TEST_P(BreakInTerminal, CtrlCEndsWithTheBreakReportAndNine) {
  fs::path marker = dir_ / "ready";
  fs::path err = dir_ / "err";
  fs::path exitFile = dir_ / "exit";
  std::string program = Quote(runtime_tests::ProbePath()) + " " + GetParam() + " " +
                        Quote(marker.string()) + " 2>" + Quote(err.string()) + "; echo EXIT=$? > " +
                        Quote(exitFile.string());
  TmuxSession tmux;
  ASSERT_EQ(tmux.tmux("new-session -d -s break -x 80 -y 24 " + Quote(program)), 0);
  ASSERT_TRUE(WaitForFile(marker, std::chrono::seconds(30))) << "the program never got ready";
  std::this_thread::sleep_for(std::chrono::milliseconds(200));
  ASSERT_EQ(tmux.tmux("send-keys -t break C-c"), 0);
  ASSERT_TRUE(WaitForFile(exitFile, std::chrono::seconds(30))) << "no exit after Ctrl+C";
  EXPECT_EQ(ReadFile(exitFile), "EXIT=9\n");
  EXPECT_EQ(ReadFile(err), "#RTS: unhandled exception #21: USER BREAK\r\n");
}

// "loop" waits in Lib.Delay, where the break arrives at once; "spin" computes
// and never waits, so the control handler reports the break itself.
INSTANTIATE_TEST_SUITE_P(Runtime, BreakInTerminal, testing::Values("loop", "spin"));

}  // namespace
