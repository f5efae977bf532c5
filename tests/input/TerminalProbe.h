// Runs the input probe in a tmux pane of a tmux server of the test's own,
// types into it with send-keys and counts the bells the pane rings.
#pragma once

#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "tests/support/Subprocess.h"
#include "tests/support/TestFiles.h"

namespace input_test {

inline std::string Quote(const std::string& text) {
  std::string quoted = "'";
  for (char c : text) quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return quoted + "'";
}

inline bool HaveTmux() {
  return std::system("command -v tmux >/dev/null 2>&1") == 0;
}

class TerminalProbe {
 public:
  static constexpr const char* kShellTitle = "shell title";

  // environment: extra NAME=value words put before the program.
  explicit TerminalProbe(const std::string& scenario, const std::string& environment = "")
      : socket_("shapeboard-input-" + std::to_string(::getpid()) + "-" + scenario) {
    const std::string probe = testing_support::ExecutableDirectory() + "/input_probe";
    // The pane's title before the program is one of its own, as a shell's is.
    const std::string command = "printf '\\033]2;" + std::string(kShellTitle) + "\\007'; env " +
                                environment + " " + Quote(probe) + " " + scenario + " " +
                                Quote(path("results")) + " " + Quote(path("ready")) + " " +
                                Quote(path("go")) + " 2>" + Quote(path("err")) +
                                "; echo EXIT=$? >" + Quote(path("exit"));
    tmux("new-session -d -s probe -x 80 -y 24 " + Quote(command));
    tmux("set-hook -g alert-bell " + Quote("run-shell 'echo bell >> " + path("bells") + "'"));
    started_ = testing_support::WaitForFile(path("ready"), std::chrono::seconds(30));
  }
  ~TerminalProbe() { tmux("kill-server"); }
  TerminalProbe(const TerminalProbe&) = delete;
  TerminalProbe& operator=(const TerminalProbe&) = delete;

  bool started() const { return started_; }

  int tmux(const std::string& arguments) const {
    const std::string command = "tmux -L " + socket_ + " " + arguments + " >/dev/null 2>&1";
    return std::system(command.c_str());
  }
  // tmux key names (F1, S-F1, Home, C-a), or text with literal=true.
  void keys(const std::string& keys, bool literal = false) const {
    tmux(std::string("send-keys -t probe ") + (literal ? "-l " : "") + keys);
  }
  std::string screen() const { return Output("tmux -L " + socket_ + " capture-pane -p -t probe"); }

  // The pane's title, as the program last set it.
  std::string title() const {
    return Output("tmux -L " + socket_ + " display -p -t probe '#{pane_title}'");
  }

  std::vector<std::string> results() const {
    std::vector<std::string> lines;
    std::istringstream text(testing_support::ReadFile(path("results")));
    for (std::string line; std::getline(text, line);) lines.push_back(line);
    return lines;
  }
  // Waits (boundedly) until the results hold this many lines.
  bool awaitResults(std::size_t count) const {
    return await([&] { return results().size() >= count; });
  }
  // Waits (boundedly) until the results hold this line.
  bool awaitLine(const std::string& line) const {
    return await([&] {
      const auto lines = results();
      return std::find(lines.begin(), lines.end(), line) != lines.end();
    });
  }
  // Waits (boundedly) until the pane shows the text.
  bool awaitScreen(const std::string& text) const {
    return await([&] { return screen().find(text) != std::string::npos; });
  }
  int bells() const {
    int count = 0;
    std::istringstream text(testing_support::ReadFile(path("bells")));
    for (std::string line; std::getline(text, line);) ++count;
    return count;
  }
  bool awaitBells(int count) const {
    return await([&] { return bells() >= count; });
  }

  // Lets the scenario end and waits for the program's exit line.
  std::string finish() const {
    std::system(("touch " + Quote(path("go"))).c_str());
    testing_support::WaitForFile(path("exit"), std::chrono::seconds(30));
    return testing_support::ReadFile(path("exit"));
  }
  std::string errors() const { return testing_support::ReadFile(path("err")); }

 private:
  std::string path(const std::string& name) const { return dir_.path() + "/" + name; }

  template <class Condition>
  static bool await(Condition condition) {
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (!condition()) {
      if (std::chrono::steady_clock::now() > end) return false;
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return true;
  }

  static std::string Output(const std::string& command) {
    std::string text;
    if (FILE* pipe = ::popen(command.c_str(), "r")) {
      char buffer[4096];
      for (std::size_t n; (n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0;)
        text.append(buffer, n);
      ::pclose(pipe);
    }
    return text;
  }

  testing_support::TempDir dir_;
  std::string socket_;
  bool started_ = false;
};

}  // namespace input_test
