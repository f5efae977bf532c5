// Beep: a tone of the asked pitch through SDL audio where a device opens
// (SDL's disk driver here, which writes the samples to a file), the terminal
// bell where none does.
#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "platform/console/Console.h"
#include "platform/kernel/Errors.h"
#include "tests/support/Subprocess.h"
#include "tests/support/TestFiles.h"

namespace {

using testing_support::ReadFile;
using testing_support::RunOptions;
using testing_support::RunProgram;
using testing_support::StdoutTarget;
using testing_support::TempDir;

TEST(BeepTest, PitchesOutsideTheAudibleRangeAreRefused) {
  struct Row {
    win32::DWORD frequency;
  };
  for (const Row row : {Row{0}, Row{36}, Row{32768}, Row{0xFFFFFFFF}}) {
    SCOPED_TRACE(row.frequency);
    EXPECT_FALSE(win32::Beep(row.frequency, 10));
    EXPECT_EQ(win32::GetLastError(), win32::ERROR_INVALID_PARAMETER);
  }
}

// Sign changes of 16-bit mono samples at 44100 Hz, as a frequency.
double frequencyOf(const std::string& raw) {
  std::vector<std::int16_t> samples(raw.size() / 2);
  std::memcpy(samples.data(), raw.data(), samples.size() * 2);
  int changes = 0;
  std::size_t first = 0;
  std::size_t last = 0;
  for (std::size_t i = 1; i < samples.size(); ++i) {
    if ((samples[i - 1] < 0) != (samples[i] < 0) && samples[i - 1] != 0 && samples[i] != 0) {
      if (changes++ == 0) first = i;
      last = i;
    }
  }
  if (changes < 2) return 0;
  return (changes - 1) / 2.0 / (static_cast<double>(last - first) / 44100.0);
}

TEST(BeepTest, AToneOfTheAskedPitchReachesTheAudioDevice) {
  TempDir dir;
  RunOptions options;
  options.stdoutTarget = StdoutTarget::Terminal;
  options.environment = {"SDL_AUDIODRIVER=disk", "SDL_DISKAUDIOFILE=" + dir.path() + "/tone.raw",
                         "SDL_DISKAUDIODELAY=0"};
  const auto result = RunProgram(CONSOLE_HOST_PROGRAM, {"beep", dir.path() + "/out"}, options);
  EXPECT_EQ(result.exitCode, 0);
  EXPECT_EQ(ReadFile(dir.path() + "/out"), "beeped\n");
  EXPECT_EQ(result.out.find('\a'), std::string::npos);
  const std::string tone = ReadFile(dir.path() + "/tone.raw");
  EXPECT_GE(tone.size(), 2u * 44100 / 10) << "at least a tenth of a second of samples";
  EXPECT_NEAR(frequencyOf(tone), 440.0, 10.0);
}

TEST(BeepTest, WithoutAnAudioDeviceTheTerminalRings) {
  TempDir dir;
  RunOptions options;
  options.stdoutTarget = StdoutTarget::Terminal;
  options.environment = {"SDL_AUDIODRIVER=no-such-driver"};
  const auto result = RunProgram(CONSOLE_HOST_PROGRAM, {"beep", dir.path() + "/out"}, options);
  EXPECT_EQ(result.exitCode, 0);
  EXPECT_EQ(ReadFile(dir.path() + "/out"), "beeped\n");
  EXPECT_EQ(result.out, "\a");
}

// The machine the tests run on has no sound card: the beep rings the bell and
// no audio library complains on standard error.
TEST(BeepTest, NoSoundCardGivesTheBellAndAQuietStandardError) {
  if (std::getenv("SDL_AUDIODRIVER") != nullptr || ::access("/dev/snd", F_OK) == 0) {
    GTEST_SKIP() << "an audio device may be there";
  }
  TempDir dir;
  RunOptions options;
  options.stdoutTarget = StdoutTarget::Terminal;
  const auto result = RunProgram(CONSOLE_HOST_PROGRAM, {"beep", dir.path() + "/out"}, options);
  EXPECT_EQ(result.out, "\a");
  EXPECT_EQ(result.err, "");
}

}  // namespace
