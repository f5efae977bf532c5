#include "tests/support/Pty.h"

#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <termios.h>
#include <unistd.h>

namespace testing_support {

Pty::Pty(bool raw) {
  char name[128] = {};
  if (::openpty(&master_, &slave_, name, nullptr, nullptr) != 0) {
    master_ = slave_ = -1;
    return;
  }
  name_ = name;
  ::fcntl(master_, F_SETFD, FD_CLOEXEC);
  ::fcntl(slave_, F_SETFD, FD_CLOEXEC);
  if (raw) {
    termios mode{};
    ::tcgetattr(slave_, &mode);
    ::cfmakeraw(&mode);
    ::tcsetattr(slave_, TCSANOW, &mode);
  }
}

Pty::~Pty() {
  if (master_ >= 0) ::close(master_);
}

int Pty::takeMaster() {
  const int master = master_;
  master_ = -1;
  return master;
}

std::string Pty::drain(std::chrono::milliseconds quiet) {
  std::string text;
  pollfd ready{master_, POLLIN, 0};
  char buffer[256];
  while (::poll(&ready, 1, static_cast<int>(quiet.count())) > 0) {
    const ssize_t n = ::read(master_, buffer, sizeof buffer);
    if (n <= 0) break;
    text.append(buffer, static_cast<std::size_t>(n));
  }
  return text;
}

}  // namespace testing_support
