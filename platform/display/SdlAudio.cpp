// Tones through SDL audio: the SDL back-end owns SDL, its audio as well as
// its video.
#include <SDL.h>
#include <unistd.h>

#include <cmath>
#include <cstdlib>
#include <mutex>
#include <string>
#include <vector>

#include "platform/display/Display.h"
#include "platform/kernel/Sync.h"

namespace win32::detail {
namespace {

constexpr int kSampleRate = 44100;
constexpr Sint16 kAmplitude = 6000;

// Without a sound card only the sound servers are tried: the back-ends that
// talk to a card (ALSA, sndio) print errors on standard error when there is
// none, and standard error carries the run-time's own messages. The disk and
// dummy back-ends are for tests, chosen with SDL_AUDIODRIVER.
bool worthTrying(const char* driver) {
  const std::string name = driver;
  if (name == "pulseaudio" || name == "pipewire") return true;
  return name != "disk" && name != "dummy" && ::access("/dev/snd", F_OK) == 0;
}

bool startAudio() {
  if (std::getenv("SDL_AUDIODRIVER") != nullptr) return SDL_InitSubSystem(SDL_INIT_AUDIO) == 0;
  for (int i = 0; i < SDL_GetNumAudioDrivers(); ++i) {
    const char* driver = SDL_GetAudioDriver(i);
    if (driver != nullptr && worthTrying(driver) && SDL_AudioInit(driver) == 0) return true;
  }
  return false;
}

// SDL audio is started once, on the first tone, and kept.
bool audioAvailable() {
  static std::once_flag started;
  static bool available = false;
  std::call_once(started, [] { available = startAudio(); });
  return available;
}

std::vector<Sint16> squareWave(DWORD frequency, DWORD duration, int rate) {
  const auto count = static_cast<std::size_t>(static_cast<std::uint64_t>(rate) * duration / 1000);
  std::vector<Sint16> samples(count);
  const double halfPeriod = rate / (2.0 * frequency);
  for (std::size_t i = 0; i < count; ++i) {
    const auto half = static_cast<std::uint64_t>(std::floor(static_cast<double>(i) / halfPeriod));
    samples[i] = half % 2 == 0 ? kAmplitude : static_cast<Sint16>(-kAmplitude);
  }
  return samples;
}

}  // namespace

bool PlayTone(DWORD frequency, DWORD duration) {
  if (!audioAvailable()) return false;
  SDL_AudioSpec wanted{};
  wanted.freq = kSampleRate;
  wanted.format = AUDIO_S16SYS;
  wanted.channels = 1;
  wanted.samples = 1024;
  SDL_AudioSpec got{};
  const SDL_AudioDeviceID device = SDL_OpenAudioDevice(nullptr, 0, &wanted, &got, 0);
  if (device == 0) return false;
  const std::vector<Sint16> samples = squareWave(frequency, duration, kSampleRate);
  SDL_QueueAudio(device, samples.data(), static_cast<Uint32>(samples.size() * sizeof(Sint16)));
  SDL_PauseAudioDevice(device, 0);
  Sleep(duration);
  SDL_CloseAudioDevice(device);
  return true;
}

}  // namespace win32::detail
