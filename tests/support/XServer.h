// A private virtual X server for end-to-end tests: Xvfb on a free display
// number, ended when the object goes.
#pragma once

#include <sys/types.h>

#include <string>

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

 private:
  pid_t pid_ = -1;
  std::string display_;
};

// Runs a shell command with DISPLAY set and returns its standard output
// (trailing newline removed); empty on failure.
std::string RunWithDisplay(const std::string& display, const std::string& command);

}  // namespace testing_support
