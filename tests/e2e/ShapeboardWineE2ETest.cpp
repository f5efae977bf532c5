// The Windows build of the program under Wine, as a user runs it: in a real
// terminal (tmux) beside a real X server (Xvfb). It needs the windows preset
// built (build/windows/app/shapeboard.exe) and Wine; without either, every
// test is skipped and says why.
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>

#include "tests/support/XClient.h"
#include "tests/support/Subprocess.h"
#include "tests/support/TestFiles.h"
#include "tests/support/Tmux.h"
#include "tests/support/Wait.h"
#include "tests/support/XServer.h"

namespace {

using namespace testing_support;
using namespace std::chrono_literals;

constexpr char kWine[] = "/usr/lib/wine/wine64";
constexpr char kWineServer[] = "/usr/lib/wine/wineserver";

// Wine's loader runs here (it is there, and this machine can run it).
bool WineRuns() {
  static const bool runs = [] {
    RunOptions options;
    options.timeoutSeconds = 30;
    const RunResult result = RunProgram(kWine, {"--version"}, options);
    return result.exitCode == 0;
  }();
  return runs;
}

// The number after a label of xwininfo's answer; -1 where it has none.
int InfoNumber(const std::string& info, const std::string& label) {
  const auto at = info.find(label);
  return at == std::string::npos ? -1 : std::stoi(info.substr(at + label.size()));
}

// One run in its own terminal, X server and Wine prefix (a fresh prefix
// takes some seconds to set up on its first use).
class ShapeboardWineE2E : public testing::Test {
 protected:
  void SetUp() override {
    if (!std::filesystem::exists(SHAPEBOARD_WINDOWS_PROGRAM)) {
      GTEST_SKIP() << SHAPEBOARD_WINDOWS_PROGRAM << " is missing (cmake --preset windows && "
                   << "cmake --build --preset windows)";
    }
    if (!std::filesystem::exists(kWine)) GTEST_SKIP() << kWine << " is missing (Debian wine64)";
    if (!WineRuns()) GTEST_SKIP() << kWine << " --version fails: Wine cannot start here";
    if (!Tmux::Available()) GTEST_SKIP() << "tmux is missing";
    ASSERT_TRUE(server_.ok()) << "Xvfb did not start";
  }

  // The prefix's wineserver and its processes are this run's own.
  void TearDown() override {
    if (!dir_) return;
    RunOptions options;
    options.environment = {"WINEPREFIX=" + path("prefix")};
    RunProgram(kWineServer, {"-k"}, options);
  }

  std::string path(const std::string& name) const { return dir_->path() + "/" + name; }

  void Launch(bool withDisplay = true) {
    dir_ = std::make_unique<TempDir>();
    tmux_ = std::make_unique<Tmux>("wine");
    const std::string command = "cd " + ShellQuote(dir_->path()) +
                                " && while [ ! -e go ]; do sleep 0.02; done; DISPLAY=" +
                                (withDisplay ? server_.display() : std::string()) +
                                " WINEPREFIX=" + ShellQuote(path("prefix")) + " WINEDEBUG=-all " +
                                kWine + " " + ShellQuote(SHAPEBOARD_WINDOWS_PROGRAM) +
                                " > out 2> err; code=$?; echo $code > exit.tmp; mv exit.tmp exit";
    ASSERT_TRUE(tmux_->Start(command));
    std::ofstream(path("go")).put('\n');
  }

  int WaitForExit(std::chrono::milliseconds limit = 60s) {
    if (!WaitForFile(path("exit"), limit)) return -1;
    return std::stoi(ReadFile(path("exit")));
  }

  std::string WaitForWindow() {
    std::string id;
    WaitUntil([&] { return !(id = server_.WindowNamed("Graph")).empty(); }, 120s, 50ms);
    return id;
  }

  // Where the window's client area starts on the screen (Wine's frame
  // around it is drawn by Wine, not by an X window).
  std::pair<int, int> ClientOrigin(const std::string& window) {
    const std::string info = RunWithDisplay(server_.display(), "xwininfo -id " + window);
    return {InfoNumber(info, "Absolute upper-left X:"), InfoNumber(info, "Absolute upper-left Y:")};
  }

  // The window's size as the X server has it.
  std::pair<int, int> ClientSize(const std::string& window) {
    const std::string info = RunWithDisplay(server_.display(), "xwininfo -id " + window);
    return {InfoNumber(info, "Width:"), InfoNumber(info, "Height:")};
  }

  // Presses the left button at client position (x, y) and holds it until
  // the program has reported `clicks` clicks, then lets go.
  void HoldUntilClicks(const std::string& window, int x, int y, std::size_t clicks) {
    const auto [left, top] = ClientOrigin(window);
    ASSERT_GE(left, 0);
    ASSERT_GE(top, 0);
    XClient button(server_.display());
    ASSERT_TRUE(button.ok());
    button.press(left + x, top + y);
    const std::string line =
        "mouseclick at x=" + std::to_string(x) + ", y=" + std::to_string(y) + "\r\n";
    auto count = [&] {
      const std::string out = Out();
      std::size_t n = 0;
      for (auto at = out.find(line); at != std::string::npos; at = out.find(line, at + 1)) ++n;
      return n;
    };
    EXPECT_TRUE(WaitUntil([&] { return count() >= clicks; }, 30s, 1ms));
    button.release();
  }

  std::string Out() const { return ReadFile(path("out")); }
  std::string Err() const { return ReadFile(path("err")); }

  XServer server_;
  std::unique_ptr<TempDir> dir_;
  std::unique_ptr<Tmux> tmux_;
};

// The X window that carries the title is the client area: 500 x 500, as
// asked, whatever frame Wine draws around it. Wine may name it while it
// still has the outer size (506 x 525 on a busy machine) and fit it to the
// client area a moment later, so the size is waited for.
TEST_F(ShapeboardWineE2E, StartUpShowsTheReferenceFigures) {
  Launch();
  const std::string window = WaitForWindow();
  ASSERT_FALSE(window.empty()) << Err();
  const std::pair<int, int> clientArea{500, 500};
  std::pair<int, int> size;
  WaitUntil([&] { return (size = ClientSize(window)) == clientArea; }, 30s, 50ms);
  EXPECT_EQ(size, clientArea);
  const Image expected =
      ReadReferencePicture(std::string(SHAPEBOARD_REFERENCE_DIR) + "/s01_figures.rle");
  const Image shown = server_.DumpUntil([&] { return window; },
                                        [&](const Image& picture) { return picture == expected; });
  EXPECT_TRUE(shown == expected) << Differences(shown, expected);
  tmux_->SendKeys("x");
  EXPECT_EQ(WaitForExit(), 0) << Err();
  EXPECT_EQ(Out(), "\r\n");
}

// Three polls with the button down on the small circle: 40, 80, 160.
TEST_F(ShapeboardWineE2E, AHeldPressGrowsTheSmallCircle) {
  Launch();
  const std::string window = WaitForWindow();
  ASSERT_FALSE(window.empty()) << Err();
  const Image before =
      ReadReferencePicture(std::string(SHAPEBOARD_REFERENCE_DIR) + "/s01_figures.rle");
  const Image expected =
      ReadReferencePicture(std::string(SHAPEBOARD_REFERENCE_DIR) + "/s02_grown.rle");
  const Image start = server_.DumpUntil([&] { return window; },
                                        [&](const Image& picture) { return picture == before; });
  ASSERT_TRUE(start == before) << Differences(start, before);
  HoldUntilClicks(window, 300, 300, 3);
  const Image shown = server_.DumpUntil([&] { return window; },
                                        [&](const Image& picture) { return picture == expected; });
  EXPECT_TRUE(shown == expected) << Differences(shown, expected);
  tmux_->SendKeys("x");
  EXPECT_EQ(WaitForExit(), 0) << Err();
  const std::string line = "mouseclick at x=300, y=300\r\n";
  EXPECT_EQ(Out(), "\r\n" + line + line + line);
}

TEST_F(ShapeboardWineE2E, CtrlCEndsWithTheBreakReport) {
  Launch();
  ASSERT_FALSE(WaitForWindow().empty()) << Err();
  tmux_->SendKeys("C-c");
  EXPECT_EQ(WaitForExit(), 9);
  EXPECT_NE(Err().find("#RTS: unhandled exception #21: USER BREAK\r\n"), std::string::npos)
      << Err();
  EXPECT_TRUE(std::filesystem::exists(path("errinfo.$$$")));
}

// Without a display the window cannot be made: 9, as on Linux. The message
// box cannot appear either, so its line goes to standard error, where the
// Linux build writes every box; standard output keeps only the start-up's
// empty line.
TEST_F(ShapeboardWineE2E, WithoutADisplayHaltsWithNine) {
  Launch(false);
  EXPECT_EQ(WaitForExit(), 9) << Err();
  EXPECT_NE(Err().find("Couldn't create main window\r\n"), std::string::npos) << Err();
  EXPECT_EQ(Out(), "\r\n");
}

}  // namespace
