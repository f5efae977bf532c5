// Runs the input probe in a tmux pane of a tmux server of the test's own,
// types into it with send-keys and counts the bells the pane rings.
#pragma once

#include <algorithm>
#include <chrono>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>
#include <vector>

#include "tests/support/Subprocess.h"
#include "tests/support/TestFiles.h"
#include "tests/support/Tmux.h"
#include "tests/support/Wait.h"

namespace input_test {

using testing_support::ShellQuote;

class TerminalProbe {
 public:
  static constexpr const char* kShellTitle = "shell title";

  // environment: extra NAME=value words put before the program.
  explicit TerminalProbe(const std::string& scenario, const std::string& environment = "")
      : tmux_("input-" + scenario, "probe") {
    const std::string probe = testing_support::ExecutableDirectory() + "/input_probe";
    // The pane's title before the program is one of its own, as a shell's is.
    const std::string command = "printf '\\033]2;" + std::string(kShellTitle) + "\\007'; env " +
                                environment + " " + ShellQuote(probe) + " " + scenario + " " +
                                ShellQuote(path("results")) + " " + ShellQuote(path("ready")) +
                                " " + ShellQuote(path("go")) + " 2>" + ShellQuote(path("err")) +
                                "; " + testing_support::RecordExitStatus(path("exit"));
    tmux_.Start(command);
    tmux_.Run("set-hook -g alert-bell " +
              ShellQuote("run-shell 'echo bell >> " + path("bells") + "'"));
    started_ = testing_support::WaitForFile(path("ready"), std::chrono::seconds(30));
  }
  TerminalProbe(const TerminalProbe&) = delete;
  TerminalProbe& operator=(const TerminalProbe&) = delete;

  bool started() const { return started_; }

  // tmux key names (F1, S-F1, Home, C-a), or text with literal=true.
  void keys(const std::string& keys, bool literal = false) {
    tmux_.SendKeys((literal ? "-l " : "") + keys);
  }
  std::string screen() { return tmux_.Screen(); }

  // The pane's title, as the program last set it.
  std::string title() { return tmux_.Query("#{pane_title}"); }

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
  // Waits (boundedly) until the results hold `line` somewhere after
  // `earlier`: a state shown again, not the same state shown before.
  bool awaitLineAfter(const std::string& earlier, const std::string& line) const {
    return await([&] {
      const auto lines = results();
      const auto from = std::find(lines.begin(), lines.end(), earlier);
      return from != lines.end() && std::find(from + 1, lines.end(), line) != lines.end();
    });
  }
  // Waits (boundedly) until the pane shows the text.
  bool awaitScreen(const std::string& text) {
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
    std::ofstream(path("go")).flush();
    testing_support::WaitForFile(path("exit"), std::chrono::seconds(30));
    return testing_support::ReadFile(path("exit"));
  }
  std::string errors() const { return testing_support::ReadFile(path("err")); }

 private:
  std::string path(const std::string& name) const { return dir_.path() + "/" + name; }

  static bool await(const std::function<bool()>& condition) {
    return testing_support::WaitUntil(condition, std::chrono::seconds(20),
                                      std::chrono::milliseconds(20));
  }

  testing_support::TempDir dir_;
  testing_support::Tmux tmux_;
  bool started_ = false;
};

}  // namespace input_test
