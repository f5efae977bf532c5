#include "tests/support/Tmux.h"

#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>

#include "tests/support/Subprocess.h"
#include "tests/support/Wait.h"

namespace testing_support {

Tmux::Tmux(const std::string& name, const std::string& session) : session_(session) {
  static std::atomic<int> made{0};
  socket_ = "shapeboard-" + name + "-" + std::to_string(::getpid()) + "-" + std::to_string(made++);
}

Tmux::~Tmux() {
  run("kill-server");
}

bool Tmux::Available() {
  return std::system("command -v tmux >/dev/null 2>&1") == 0;
}

std::string Tmux::run(const std::string& arguments, int* status) {
  return CommandOutput("tmux -L " + socket_ + " " + arguments + " 2>/dev/null", status);
}

bool Tmux::Start(const std::string& command, int columns, int rows) {
  int status = 0;
  run("new-session -d -s " + session_ + " -x " + std::to_string(columns) + " -y " +
          std::to_string(rows) + " " + ShellQuote(command + "; sleep 86400"),
      &status);
  return status == 0;
}

bool Tmux::SendKeys(const std::string& keys) {
  int status = 0;
  run("send-keys -t " + session_ + " " + keys, &status);
  return status == 0;
}

bool Tmux::SendLiteral(const std::string& bytes) {
  int status = 0;
  run("send-keys -t " + session_ + " -l " + ShellQuote(bytes), &status);
  return status == 0;
}

std::string Tmux::Screen() {
  return run("capture-pane -p -t " + session_);
}

std::string Tmux::Query(const std::string& format) {
  std::string out = run("display -p -t " + session_ + " " + ShellQuote(format));
  while (!out.empty() && out.back() == '\n') out.pop_back();
  return out;
}

bool Tmux::AwaitQuery(const std::string& format, const std::string& value,
                      std::chrono::milliseconds limit) {
  return WaitUntil([&] { return Query(format) == value; }, limit, std::chrono::milliseconds(20));
}

bool Tmux::Run(const std::string& arguments) {
  int status = 0;
  run(arguments, &status);
  return status == 0;
}

}  // namespace testing_support
