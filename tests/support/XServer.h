// A private virtual X server for end-to-end tests: Xvfb on a free display
// number, ended when the object goes.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <functional>
#include <string>
#include <vector>

#include "tests/support/TestFiles.h"

namespace testing_support {

class XServer {
 public:
  // Starts Xvfb with one screen of the given size (24-bit colour). Check
  // ok() before use: false when Xvfb is missing or did not come up.
  explicit XServer(int width = 1024, int height = 768);
  ~XServer();
  XServer(const XServer&) = delete;
  XServer& operator=(const XServer&) = delete;

  bool ok() const { return pid_ > 0 && !display_.empty(); }
  // Ends the server now (its clients lose their connection).
  void Stop();
  // The value for DISPLAY, e.g. ":17".
  const std::string& display() const { return display_; }

  // The ids of the windows named exactly `name` (see XClient::WindowsNamed).
  std::vector<std::string> WindowsNamed(const std::string& name) const;
  // The first of them, or empty when there is none.
  std::string WindowNamed(const std::string& name) const;
  // What the window itself shows; empty when it cannot be read. A read of
  // the root window would mix up windows whose visual differs from the
  // root's, as SDL's windows may.
  Image Dump(const std::string& window) const;
  // Dumps what `window()` names (looked up again for each dump) until the
  // dump satisfies `wanted` or the time is up; the last dump.
  Image DumpUntil(const std::function<std::string()>& window,
                  const std::function<bool(const Image&)>& wanted,
                  std::chrono::milliseconds limit = std::chrono::seconds(30)) const;

 private:
  pid_t pid_ = -1;
  std::string display_;
};

// Runs a shell command with DISPLAY set and returns its standard output
// (trailing newline removed); empty on failure.
std::string RunWithDisplay(const std::string& display, const std::string& command);

}  // namespace testing_support
