// A pseudo-terminal for tests: the program's side (a terminal to its
// standard handles) and the test's side, where what it wrote arrives.
#pragma once

#include <chrono>
#include <string>

namespace testing_support {

class Pty {
 public:
  // Both sides close-on-exec; in raw mode bytes pass unchanged (no LF to
  // CR LF). Check ok() before use.
  explicit Pty(bool raw = false);
  // Closes the test's side unless it was taken; the program's side belongs
  // to whoever took it (a handle made from it closes it).
  ~Pty();
  Pty(const Pty&) = delete;
  Pty& operator=(const Pty&) = delete;

  bool ok() const { return master_ >= 0; }
  int master() const { return master_; }
  int slave() const { return slave_; }
  // The terminal's device path, for opening it once more.
  const std::string& name() const { return name_; }
  // Hands the test's side over; it is no longer closed here.
  int takeMaster();
  // What the program's side wrote, read until nothing more comes for `quiet`.
  std::string drain(std::chrono::milliseconds quiet = std::chrono::milliseconds(200));

 private:
  int master_ = -1;
  int slave_ = -1;
  std::string name_;
};

}  // namespace testing_support
