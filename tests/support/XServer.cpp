#include "tests/support/XServer.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <string>

#include "tests/support/Subprocess.h"
#include "tests/support/Wait.h"
#include "tests/support/XClient.h"

namespace testing_support {

XServer::XServer(int width, int height) {
  int fds[2];
  if (::pipe2(fds, O_CLOEXEC) != 0) return;
  const std::string screen = std::to_string(width) + "x" + std::to_string(height) + "x24";
  pid_ = ::fork();
  if (pid_ == 0) {
    // Xvfb writes the display number it chose to the descriptor we name.
    // Without -noreset the server starts afresh whenever its last client
    // leaves, and drops every connection still in its handshake: a program
    // starting while a test's own connection has just left would find no X
    // server ("x11 not available").
    ::dup2(fds[1], 3);
    int devnull = ::open("/dev/null", O_RDWR);
    ::dup2(devnull, 0);
    ::dup2(devnull, 1);
    ::dup2(devnull, 2);
    ::execlp("Xvfb", "Xvfb", "-displayfd", "3", "-screen", "0", screen.c_str(), "-nolisten", "tcp",
             "-noreset", static_cast<char*>(nullptr));
    ::_exit(127);
  }
  ::close(fds[1]);
  if (pid_ < 0) {
    ::close(fds[0]);
    return;
  }
  std::string number;
  pollfd pfd{fds[0], POLLIN, 0};
  char c = 0;
  while (::poll(&pfd, 1, 10000) > 0 && ::read(fds[0], &c, 1) == 1 && c != '\n') number += c;
  ::close(fds[0]);
  if (!number.empty()) display_ = ":" + number;
}

XServer::~XServer() {
  Stop();
}

void XServer::Stop() {
  if (pid_ <= 0) return;
  ::kill(pid_, SIGTERM);
  int status = 0;
  ::waitpid(pid_, &status, 0);
  pid_ = -1;
}

std::vector<std::string> XServer::WindowsNamed(const std::string& name) const {
  const XClient client(display_);
  std::vector<std::string> ids;
  if (!client.ok()) return ids;
  for (const unsigned long id : client.WindowsNamed(name)) ids.push_back(std::to_string(id));
  return ids;
}

std::string XServer::WindowNamed(const std::string& name) const {
  const std::vector<std::string> ids = WindowsNamed(name);
  return ids.empty() ? std::string() : ids.front();
}

Image XServer::Dump(const std::string& window) const {
  const XClient client(display_);
  if (window.empty() || !client.ok()) return {};
  return client.Read(std::stoul(window, nullptr, 0));
}

Image XServer::DumpUntil(const std::function<std::string()>& window,
                         const std::function<bool(const Image&)>& wanted,
                         std::chrono::milliseconds limit) const {
  Image shown;
  WaitUntil([&] { return wanted(shown = Dump(window())); }, limit, std::chrono::milliseconds(100));
  return shown;
}

std::string RunWithDisplay(const std::string& display, const std::string& command) {
  const std::string line = "DISPLAY=" + display + " " + command;
  FILE* pipe = ::popen(line.c_str(), "r");
  if (pipe == nullptr) return {};
  std::string out;
  char buffer[4096];
  while (std::size_t n = std::fread(buffer, 1, sizeof buffer, pipe)) out.append(buffer, n);
  ::pclose(pipe);
  while (!out.empty() && (out.back() == '\n' || out.back() == '\r')) out.pop_back();
  return out;
}

}  // namespace testing_support
