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

// The xwd dump of the window named exactly "Graph" whose size is 500 x 500.
Image DumpGraphWindow(const std::string& display, const std::string& dir) {
  std::istringstream ids(RunWithDisplay(display, "xdotool search --name '^Graph$' 2>/dev/null"));
  std::string id;
  while (std::getline(ids, id)) {
    const std::string dump = dir + "/window.xwd";
    RunWithDisplay(display, "xwd -silent -id " + id + " -out " + dump);
    Image image = ReadXwd(dump);
    if (image.width == 500 && image.height == 500) return image;
  }
  return {};
}

// Dumps the window until it shows the picture or the time is up; returns
// the last dump.
Image WaitUntilShown(const std::string& display, const std::string& dir, const Image& picture,
                     bool equal = true) {
  Image shown;
  const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(20);
  do {
    shown = DumpGraphWindow(display, dir);
    if ((shown == picture) == equal) break;
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
  } while (std::chrono::steady_clock::now() < end);
  return shown;
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
  Image shown = written ? WaitUntilShown(server.display(), dir.path(), bitmap) : Image{};
  bool covered = false;
  if (written && then == Then::CoverAndUncover) {
    // Another client's window over the top-left part, then gone again: the
    // X server keeps nothing of what it hid, so the window must repaint.
    const std::string coverPid = RunWithDisplay(
        server.display(), "xlogo -geometry 400x400+0+0 -bg red >/dev/null 2>&1 & echo $!");
    covered = !(WaitUntilShown(server.display(), dir.path(), bitmap, false) == bitmap);
    RunWithDisplay(server.display(), "kill " + coverPid);
    shown = WaitUntilShown(server.display(), dir.path(), bitmap);
  }
  std::ofstream(donePath).put('\n');
  program.join();

  ASSERT_TRUE(written) << result.err;
  ASSERT_EQ(bitmap.width, 500u);
  ASSERT_EQ(shown.width, 500u) << "no 500x500 window named Graph";
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
