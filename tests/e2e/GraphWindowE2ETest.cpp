// The graphics window on a real X server: what the screen shows is the
// off-screen bitmap; without a display the program halts with a message.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>
#include <vector>

#include "tests/support/Subprocess.h"
#include "tests/support/TestFiles.h"
#include "tests/support/XServer.h"

namespace {

using namespace testing_support;

std::string Program() {
  return ExecutableDirectory() + "/graph_window_program";
}

// The window named exactly "Graph" whose size is 500 x 500.
std::string GraphWindow(const XServer& server) {
  for (const std::string& id : server.WindowsNamed("Graph")) {
    const Image image = server.Dump(id);
    if (image.width == 500 && image.height == 500) return id;
  }
  return {};
}

// Dumps the window until it shows the picture (or, with equal false, shows
// something else) or the time is up; returns the last dump.
Image WaitUntilShown(const XServer& server, const Image& picture, bool equal = true) {
  return server.DumpUntil([&] { return GraphWindow(server); },
                          [&](const Image& shown) { return (shown == picture) == equal; },
                          std::chrono::seconds(20));
}

enum class Then { Nothing, CoverAndUncover };

void ExpectScreenShowsBitmap(const std::vector<std::string>& extraArguments,
                             Then then = Then::Nothing) {
  XServer server;
  ASSERT_TRUE(server.ok()) << "Xvfb did not start";
  TempDir dir;
  const std::string bitmapPath = dir.path() + "/bitmap.ppm";
  const std::string donePath = dir.path() + "/done";
  RunResult result;
  std::thread program([&] {
    RunOptions options;
    options.environment = {"DISPLAY=" + server.display()};
    options.timeoutSeconds = 60;
    std::vector<std::string> arguments = {bitmapPath, donePath};
    arguments.insert(arguments.end(), extraArguments.begin(), extraArguments.end());
    result = RunProgram(Program(), arguments, options);
  });
  const bool written = WaitForFile(bitmapPath, std::chrono::seconds(30));
  const Image bitmap = written ? ReadPpm(bitmapPath) : Image{};
  // The screen catches up with the drawing on the server thread's next pass.
  Image shown = written ? WaitUntilShown(server, bitmap) : Image{};
  bool covered = false;
  if (written && then == Then::CoverAndUncover) {
    // Another client's window over the top-left part, then gone again: the
    // X server keeps nothing of what it hid, so the window must repaint.
    const std::string coverPid = RunWithDisplay(
        server.display(), "xlogo -geometry 400x400+0+0 -bg red >/dev/null 2>&1 & echo $!");
    covered = !(WaitUntilShown(server, bitmap, false) == bitmap);
    RunWithDisplay(server.display(), "kill " + coverPid);
    shown = WaitUntilShown(server, bitmap);
  }
  std::ofstream(donePath).put('\n');
  program.join();

  ASSERT_TRUE(written) << result.err;
  ASSERT_EQ(bitmap.width, 500);
  ASSERT_EQ(shown.width, 500) << "no 500x500 window named Graph";
  EXPECT_TRUE(shown == bitmap);
  if (then == Then::CoverAndUncover) {
    EXPECT_TRUE(covered);
  }
  std::size_t grey = 0;
  for (std::uint32_t pixel : bitmap.pixels) grey += pixel == 0xC0C0C0u;
  EXPECT_EQ(grey, 637u);
  EXPECT_EQ(result.exitCode, 0) << result.err;
  EXPECT_EQ(result.out, "ready\n");
}

TEST(GraphWindowE2E, WindowOnTheScreenShowsTheOffScreenBitmap) {
  ExpectScreenShowsBitmap({});
}

TEST(GraphWindowE2E, ReopenedWindowShowsTheOffScreenBitmap) {
  ExpectScreenShowsBitmap({"reopen"});
}

TEST(GraphWindowE2E, UncoveredWindowIsRepaintedFromTheBitmap) {
  ExpectScreenShowsBitmap({}, Then::CoverAndUncover);
}

TEST(GraphWindowE2E, WithoutADisplayInitHaltsWithAMessage) {
  RunOptions options;
  // ThreadSanitizer would otherwise wait a second at exit.
  const char* tsanOptions = std::getenv("TSAN_OPTIONS");
  options.environment = {
      "DISPLAY=", "WAYLAND_DISPLAY=",
      std::string("TSAN_OPTIONS=") + (tsanOptions ? tsanOptions : "") + " atexit_sleep_ms=0"};
  options.timeoutSeconds = 10;
  const auto start = std::chrono::steady_clock::now();
  const RunResult result = RunProgram(Program(), {}, options);
  const auto elapsed = std::chrono::steady_clock::now() - start;
  EXPECT_FALSE(result.timedOut);
  EXPECT_EQ(result.exitCode, 9);
  EXPECT_NE(result.err.find("Couldn't create main window"), std::string::npos) << result.err;
  EXPECT_EQ(result.out, "");
  EXPECT_LT(elapsed, std::chrono::seconds(1));
}

}  // namespace
