// A real terminal for tests: a tmux server of the test's own (its own
// socket), one session, keys typed into it and its screen read back.
#pragma once

#include <chrono>
#include <string>

#include "tests/support/Subprocess.h"

namespace testing_support {

class Tmux {
 public:
  // `name` tells this test's server apart from others running at once; each
  // object has a socket of its own, so a server still ending never takes
  // the next one's commands. Commands go to the session named `session`.
  explicit Tmux(const std::string& name, const std::string& session = "test");
  ~Tmux();
  Tmux(const Tmux&) = delete;
  Tmux& operator=(const Tmux&) = delete;

  static bool Available();

  // Runs the shell command in a new session of the given size; the pane
  // stays after the command ends, so its screen can still be read.
  bool Start(const std::string& command, int columns = 80, int rows = 24);
  // Keys by tmux's names ("C-c", "x", "Enter"), as many as the words given.
  bool SendKeys(const std::string& keys);
  // Bytes as they stand, escape sequences included.
  bool SendLiteral(const std::string& bytes);
  // The screen as text, a line a row.
  std::string Screen();
  // A pane format such as "#{pane_title}" or "#{cursor_y}".
  std::string Query(const std::string& format);
  // Waits until the format reads `value` (tmux catches up with what the
  // program wrote in its own time); false when the time is up first.
  bool AwaitQuery(const std::string& format, const std::string& value,
                  std::chrono::milliseconds limit = std::chrono::seconds(20));
  // Any tmux command on this server ("set-hook -g ..."); true when it worked.
  bool Run(const std::string& arguments);
  const std::string& session() const { return session_; }

 private:
  // Runs one tmux command on this server; its standard output.
  std::string run(const std::string& arguments, int* status = nullptr);

  std::string socket_;
  std::string session_;
};

}  // namespace testing_support
