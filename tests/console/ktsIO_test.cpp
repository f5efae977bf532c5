// The console mode switch around string reads.
#include <gtest/gtest.h>

#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>

#include "tests/support/Subprocess.h"

namespace {

namespace fs = std::filesystem;

std::string Probe() {
  return testing_support::ExecutableDirectory() + "/../runtime/rt_probe";
}

TEST(SetConMode, StandardInputNotAConsoleChangesNothingAndHandsBackZero) {
  testing_support::RunOptions options;
  options.stdinData = "typed ahead\n";
  auto result = testing_support::RunProgram(Probe(), {"console-mode"}, options);
  EXPECT_EQ(result.exitCode, 0) << result.err;
  EXPECT_EQ(result.out, "start none\nsaved 0\nreading none\nrestored none\nmain returns\n");
}

std::string ReadFile(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

// On a real terminal (a tmux pane) the mode is widened by processed, line and
// echo input and put back afterwards.
TEST(SetConMode, OnATerminalWidensAndRestores) {
  if (std::system("command -v tmux >/dev/null 2>&1") != 0) GTEST_SKIP() << "tmux is missing";
  fs::path dir = fs::temp_directory_path() / ("ktsIO-" + std::to_string(::getpid()));
  fs::create_directories(dir);
  fs::path out = dir / "out";
  fs::path done = dir / "done";
  std::string socket = "shapeboard-ktsio-" + std::to_string(::getpid());
  std::string inner = "'" + Probe() + "' console-mode > '" + out.string() + "' 2>&1; echo $? > '" +
                      done.string() + "'";
  std::string command = "tmux -L " + socket + " new-session -d -x 80 -y 24 \"" + inner + "\"";
  ASSERT_EQ(std::system(command.c_str()), 0);
  auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
  while (ReadFile(done).empty() && std::chrono::steady_clock::now() < deadline) {
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  std::system(("tmux -L " + socket + " kill-server >/dev/null 2>&1").c_str());
  std::string text = ReadFile(out);
  std::string status = ReadFile(done);
  fs::remove_all(dir);
  ASSERT_EQ(status, "0\n") << text;

  std::istringstream lines(text);
  std::string word, start, saved, reading, restored;
  lines >> word >> start >> word >> saved >> word >> reading >> word >> restored;
  ASSERT_NE(start, "none") << text;
  unsigned long startMode = std::stoul(start, nullptr, 16);
  EXPECT_EQ(std::stoul(saved, nullptr, 16), startMode);
  EXPECT_EQ(std::stoul(reading, nullptr, 16), startMode | 7u);
  EXPECT_EQ(std::stoul(restored, nullptr, 16), startMode);
}

}  // namespace
