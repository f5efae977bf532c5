// A window of the window manager on a private Xvfb server: the screen shows
// what was drawn, at the requested place, and an idle window costs (almost)
// no CPU time.
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

// A number that xwininfo reports on a line starting with the label.
long WindowInfo(const std::string& info, const std::string& label) {
  const auto at = info.find(label);
  return at == std::string::npos ? -1 : std::atol(info.c_str() + at + label.size());
}

std::string Program() {
  return ExecutableDirectory() + "/user_window_program";
}

TEST(UserWindowE2E, ScreenShowsWhatWasDrawnAtTheRequestedPlace) {
  XServer server;
  ASSERT_TRUE(server.ok()) << "Xvfb did not start";
  TempDir dir;
  const std::string expectedPath = dir.path() + "/expected.ppm";
  const std::string donePath = dir.path() + "/done";
  RunResult result;
  std::thread program([&] {
    RunOptions options;
    options.environment = {"DISPLAY=" + server.display()};
    options.timeoutSeconds = 60;
    result = RunProgram(Program(), {expectedPath, donePath}, options);
  });
  const bool written = WaitForFile(expectedPath, std::chrono::seconds(30));
  Image expected = written ? ReadPpm(expectedPath) : Image{};
  Image shown;
  std::string info;
  int differences = -1;
  if (written) {
    // "ready" comes after the server thread has shown the drawing, so the
    // first dump should match; more tries cover a slow X server.
    shown = server.DumpUntil([&] { return server.WindowNamed("Graph"); },
                             [&](const Image& dump) { return dump == expected; });
    Differences(shown, expected, &differences);
    info = RunWithDisplay(server.display(), "xwininfo -name Graph 2>/dev/null");
  }
  std::ofstream(donePath).put('\n');
  program.join();

  ASSERT_TRUE(written) << result.out << result.err;
  ASSERT_EQ(expected.width, 500);
  EXPECT_EQ(expected.at(0, 0), 0x0000FFu);
  EXPECT_EQ(expected.at(10, 20), 0xFF0000u);
  EXPECT_EQ(expected.at(499, 499), 0x00FF00u);
  ASSERT_EQ(shown.width, 500);
  EXPECT_EQ(differences, 0) << Differences(shown, expected);
  // No window manager: the client area sits at the requested outer position.
  EXPECT_EQ(WindowInfo(info, "Absolute upper-left X:"), 1) << info;
  EXPECT_EQ(WindowInfo(info, "Absolute upper-left Y:"), 1) << info;
  EXPECT_EQ(result.exitCode, 0) << result.err;
  EXPECT_EQ(result.out, "ready\n");
}

TEST(UserWindowE2E, IdleWindowDoesNotSpinTheProcessor) {
  XServer server;
  ASSERT_TRUE(server.ok()) << "Xvfb did not start";
  TempDir dir;
  const std::string donePath = dir.path() + "/done";
  std::ofstream(donePath).put('\n');  // end right after the idle period
  RunOptions options;
  options.environment = {"DISPLAY=" + server.display()};
  options.timeoutSeconds = 60;
  const RunResult result =
      RunProgram(Program(), {dir.path() + "/expected.ppm", donePath, "3"}, options);
  ASSERT_EQ(result.exitCode, 0) << result.err;
  const auto at = result.out.find("idle cpu ");
  ASSERT_NE(at, std::string::npos) << result.out;
  const long cpuMicroseconds = std::atol(result.out.c_str() + at + 9);
  // A loop that polls would burn most of the 3 s; waiting costs next to
  // nothing. The bound is loose so that a loaded machine does not fail it.
  EXPECT_LT(cpuMicroseconds, 300000) << result.out;
}

}  // namespace
