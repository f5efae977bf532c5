#include "tests/support/Subprocess.h"

#include "tests/support/Pty.h"
#include "tests/support/SubprocessCommon.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <stdexcept>

namespace testing_support {
namespace {

struct Pipe {
  int read = -1;
  int write = -1;
  Pipe() {
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC) != 0) throw std::runtime_error("pipe failed");
    read = fds[0];
    write = fds[1];
  }
};

void closeFd(int& fd) {
  if (fd >= 0) ::close(fd);
  fd = -1;
}

// Runs in the child between fork and exec: only async-signal-safe calls.
[[noreturn]] void execChild(const std::string& path, char* const* argv, int in, int out, int err,
                            const RunOptions& options, const std::vector<std::string>& env) {
  ::dup2(in, 0);
  ::dup2(out, 1);
  ::dup2(err, 2);
  ::signal(SIGPIPE, SIG_DFL);
  if (!options.workingDirectory.empty() && ::chdir(options.workingDirectory.c_str()) != 0) {
    ::_exit(127);
  }
  for (const std::string& entry : env) ::putenv(const_cast<char*>(entry.c_str()));
  ::execv(path.c_str(), argv);
  ::_exit(127);
}

}  // namespace

RunResult RunProgram(const std::string& path, const std::vector<std::string>& args,
                     const RunOptions& options) {
  std::vector<std::string> argStrings{path};
  argStrings.insert(argStrings.end(), args.begin(), args.end());
  std::vector<char*> argv;
  for (std::string& a : argStrings) argv.push_back(a.data());
  argv.push_back(nullptr);

  Pipe in, err;
  Pipe out;
  int childOut = out.write;
  std::string outPath = options.stdoutPath;
  if (options.stdoutTarget == StdoutTarget::File) {
    if (outPath.empty()) outPath = TemporaryOutputPath();
    childOut = ::open(outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  } else if (options.stdoutTarget == StdoutTarget::DevFull) {
    childOut = ::open("/dev/full", O_WRONLY | O_CLOEXEC);
  } else if (options.stdoutTarget == StdoutTarget::ClosedPipe) {
    closeFd(out.read);
  } else if (options.stdoutTarget == StdoutTarget::Terminal) {
    // The runner reads the master side in place of the pipe. Raw mode keeps
    // the terminal from turning LF into CR LF itself.
    Pty pty(true);
    if (!pty.ok()) throw std::runtime_error("openpty failed");
    closeFd(out.read);
    closeFd(out.write);
    childOut = pty.slave();
    out.read = pty.takeMaster();
  }
  if (childOut < 0) throw std::runtime_error("cannot open the standard output target");

  pid_t pid = ::fork();
  if (pid < 0) throw std::runtime_error("fork failed");
  if (pid == 0)
    execChild(path, argv.data(), in.read, childOut, err.write, options, options.environment);

  closeFd(in.read);
  closeFd(err.write);
  if (childOut != out.write) ::close(childOut);
  closeFd(out.write);

  RunResult result;
  // Feed standard input without blocking the reads below; SIGPIPE from a
  // child that stops reading must not end the test.
  ::signal(SIGPIPE, SIG_IGN);
  if (!options.stdinData.empty()) {
    (void)!::write(in.write, options.stdinData.data(), options.stdinData.size());
  }
  closeFd(in.write);

  const auto deadline =
      std::chrono::steady_clock::now() + std::chrono::seconds(options.timeoutSeconds);
  std::string captured;
  while (out.read >= 0 || err.read >= 0) {
    pollfd fds[2] = {{out.read, POLLIN, 0}, {err.read, POLLIN, 0}};
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0) {
      result.timedOut = true;
      ::kill(pid, SIGKILL);
      break;
    }
    int ready = ::poll(fds, 2, static_cast<int>(std::min<long long>(left.count(), INT_MAX)));
    if (ready < 0) continue;
    char buffer[4096];
    for (int i = 0; i < 2; ++i) {
      if (fds[i].fd < 0 || fds[i].revents == 0) continue;
      ssize_t n = ::read(fds[i].fd, buffer, sizeof buffer);
      if (n <= 0) {
        closeFd(i == 0 ? out.read : err.read);
      } else {
        (i == 0 ? captured : result.err).append(buffer, static_cast<std::size_t>(n));
      }
    }
  }
  closeFd(out.read);
  closeFd(err.read);

  int status = 0;
  while (true) {
    pid_t done = ::waitpid(pid, &status, WNOHANG);
    if (done == pid) break;
    if (std::chrono::steady_clock::now() > deadline) {
      result.timedOut = true;
      ::kill(pid, SIGKILL);
      ::waitpid(pid, &status, 0);
      break;
    }
    ::usleep(2000);
  }
  if (WIFEXITED(status)) result.exitCode = WEXITSTATUS(status);
  if (WIFSIGNALED(status)) result.signal = WTERMSIG(status);
  result.out = captured;
  CollectFileOutput(options, outPath, result);
  return result;
}

std::string ExecutableDirectory() {
  char path[PATH_MAX];
  ssize_t n = ::readlink("/proc/self/exe", path, sizeof path - 1);
  if (n <= 0) return ".";
  std::string full(path, static_cast<std::size_t>(n));
  return full.substr(0, full.find_last_of('/'));
}

std::string CommandOutput(const std::string& command, int* status) {
  FILE* pipe = ::popen(command.c_str(), "r");
  if (pipe == nullptr) {
    if (status != nullptr) *status = -1;
    return {};
  }
  std::string out;
  char buffer[4096];
  while (std::size_t n = std::fread(buffer, 1, sizeof buffer, pipe)) out.append(buffer, n);
  const int result = ::pclose(pipe);
  if (status != nullptr) *status = result;
  return out;
}

std::string ShellQuote(const std::string& text) {
  std::string quoted = "'";
  for (char c : text) quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return quoted + "'";
}

std::string RecordExitStatus(const std::string& path) {
  const std::string whole = ShellQuote(path);
  const std::string staged = ShellQuote(path + ".new");
  return "echo EXIT=$? > " + staged + "; mv " + staged + " " + whole;
}

ChildEnd RunInChild(const std::function<int()>& body) {
  const pid_t child = ::fork();
  if (child < 0) return {};
  if (child == 0) ::_exit(body());
  int status = 0;
  ChildEnd end;
  end.waited = ::waitpid(child, &status, 0) == child;
  end.exited = end.waited && WIFEXITED(status);
  if (end.exited) end.code = WEXITSTATUS(status);
  return end;
}

}  // namespace testing_support
