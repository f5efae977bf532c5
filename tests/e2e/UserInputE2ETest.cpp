// The user at a real (virtual) X server: xdotool moves the mouse, clicks,
// types and hides the window; the window procedure gets the Win32 messages.
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

#include "tests/support/Subprocess.h"
#include "tests/support/TestFiles.h"
#include "tests/support/Wait.h"
#include "tests/support/XServer.h"

namespace {

using namespace testing_support;

class UserInputE2E : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(server_.ok()) << "Xvfb did not start";
    logPath_ = dir_.path() + "/log";
    donePath_ = dir_.path() + "/done";
    program_ = std::thread([this] {
      RunOptions options;
      options.environment = {"DISPLAY=" + server_.display()};
      options.timeoutSeconds = 60;
      result_ =
          RunProgram(ExecutableDirectory() + "/user_input_program", {logPath_, donePath_}, options);
    });
    ASSERT_TRUE(WaitForLog("ready")) << log();
    windowId_ = RunWithDisplay(server_.display(), "xdotool search --name '^Graph$'");
    ASSERT_FALSE(windowId_.empty());
    Xdotool("windowfocus --sync " + windowId_);
  }

  void TearDown() override {
    std::ofstream(donePath_).put('\n');
    if (program_.joinable()) program_.join();
    EXPECT_EQ(result_.exitCode, 0) << result_.err;
  }

  void Xdotool(const std::string& arguments) {
    RunWithDisplay(server_.display(), "xdotool " + arguments);
  }

  std::string log() const { return ReadFile(logPath_); }

  // Waits until the log holds the text (the window's thread writes it).
  bool WaitForLog(const std::string& text) {
    return WaitUntil([&] { return log().find(text) != std::string::npos; },
                     std::chrono::seconds(15), std::chrono::milliseconds(20));
  }

  XServer server_;
  TempDir dir_;
  std::string logPath_;
  std::string donePath_;
  std::string windowId_;
  std::thread program_;
  RunResult result_;
};

TEST_F(UserInputE2E, ClickArrivesWithClientCoordinates) {
  // The client area starts at (1, 1) on the screen.
  Xdotool("mousemove --sync 101 51 click 1");
  EXPECT_TRUE(WaitForLog("lbuttondown x=100 y=50 keys=1")) << log();
  EXPECT_TRUE(WaitForLog("lbuttonup x=100 y=50 keys=0")) << log();
  Xdotool("mousemove --sync 5 490 click 3");
  EXPECT_TRUE(WaitForLog("rbuttondown x=4 y=489 keys=2")) << log();
}

TEST_F(UserInputE2E, KeysCarrySetOneScanCodes) {
  Xdotool("mousemove --sync 200 200");
  Xdotool("key a");
  EXPECT_TRUE(WaitForLog("keydown sc=1e ext=0 vk=41 lp=001e0001")) << log();
  EXPECT_TRUE(WaitForLog("keyup sc=1e ext=0 vk=41 lp=c01e0001")) << log();
  Xdotool("key Up");
  EXPECT_TRUE(WaitForLog("keydown sc=48 ext=1 vk=26 lp=01480001")) << log();
  Xdotool("key KP_Up");  // the keypad's 8 with NumLock off
  EXPECT_TRUE(WaitForLog("keydown sc=48 ext=0 vk=26 lp=00480001")) << log();
  Xdotool("key Control_R");
  EXPECT_TRUE(WaitForLog("keydown sc=1d ext=1 vk=11")) << log();
  Xdotool("key Shift_L");
  EXPECT_TRUE(WaitForLog("keydown sc=2a ext=0 vk=10")) << log();
}

TEST_F(UserInputE2E, AltMakesSystemKeys) {
  Xdotool("key alt+x");
  EXPECT_TRUE(WaitForLog("syskeydown sc=38 ext=0 vk=12")) << log();
  EXPECT_TRUE(WaitForLog("syskeydown sc=2d ext=0 vk=58 lp=202d0001")) << log();
}

TEST_F(UserInputE2E, CloseBoxArrivesAsWmCloseAndTheWindowStays) {
  RunOptions options;
  options.environment = {"DISPLAY=" + server_.display()};
  const RunResult sent =
      RunProgram(ExecutableDirectory() + "/user_close_request_tool", {windowId_}, options);
  ASSERT_EQ(sent.exitCode, 0) << sent.err;
  EXPECT_TRUE(WaitForLog("close")) << log();
  // The procedure ignored it: the window is still there and still answers.
  EXPECT_EQ(RunWithDisplay(server_.display(), "xdotool search --name '^Graph$'"), windowId_);
  Xdotool("mousemove --sync 11 11 click 1");
  EXPECT_TRUE(WaitForLog("lbuttondown x=10 y=10")) << log();
}

TEST_F(UserInputE2E, ShowingTheWindowAgainAsksForAPaint) {
  ASSERT_TRUE(WaitForLog("paint 0 0 500 500")) << log();
  const auto countPaints = [&] {
    std::size_t count = 0;
    std::istringstream lines(log());
    for (std::string line; std::getline(lines, line);) count += line.rfind("paint", 0) == 0;
    return count;
  };
  const std::size_t paintsBefore = countPaints();
  Xdotool("windowunmap --sync " + windowId_);
  Xdotool("windowmap --sync " + windowId_);
  std::size_t paints = paintsBefore;
  WaitUntil([&] { return (paints = countPaints()) != paintsBefore; }, std::chrono::seconds(15),
            std::chrono::milliseconds(20));
  EXPECT_GT(paints, paintsBefore) << log();
}

}  // namespace
