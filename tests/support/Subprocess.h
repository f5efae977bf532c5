// Runs a program as a separate process for tests that check exit codes,
// standard output and standard error.
#pragma once

#include <functional>
#include <string>
#include <vector>

namespace testing_support {

enum class StdoutTarget {
  Capture,     // a pipe read by the runner
  File,        // a regular file (path in RunOptions::stdoutPath), read back afterwards
  ClosedPipe,  // a pipe whose reading end is closed before the program starts
  DevFull,     // /dev/full: every write fails with "disk full"
  Terminal,    // a pseudo-terminal in raw mode (bytes pass unchanged), read by the runner
};

// Every kind of standard output a program can be given here: Windows has no
// pseudo-terminal to stand for a terminal (and a console takes no bytes
// from a file handle).
#ifdef _WIN32
inline constexpr StdoutTarget kEveryOutputKind[] = {StdoutTarget::Capture, StdoutTarget::File};
#else
inline constexpr StdoutTarget kEveryOutputKind[] = {StdoutTarget::Capture, StdoutTarget::File,
                                                    StdoutTarget::Terminal};
#endif

struct RunOptions {
  std::string stdinData;  // written to the program's standard input, then closed
  StdoutTarget stdoutTarget = StdoutTarget::Capture;
  std::string stdoutPath;                // for StdoutTarget::File; a temporary file when empty
  std::vector<std::string> environment;  // extra NAME=value entries
  std::string workingDirectory;          // empty: the current one
  int timeoutSeconds = 30;
};

struct RunResult {
  int exitCode = -1;  // the exit status, or -1 when ended by a signal
  int signal = 0;     // the signal that ended the program, or 0
  bool timedOut = false;
  std::string out;  // standard output (captured or read back from the file)
  std::string err;  // standard error
};

RunResult RunProgram(const std::string& path, const std::vector<std::string>& args,
                     const RunOptions& options = {});

// What the /bin/sh command writes to its standard output; its wait status
// in `status` when given (-1 when it could not start).
std::string CommandOutput(const std::string& command, int* status = nullptr);

// The text in single quotes for /bin/sh.
std::string ShellQuote(const std::string& text);

// A shell command that leaves "EXIT=<status of the command before it>" and a
// newline in the file, whole: written beside it and then moved in, so that a
// test that sees the file reads all of it.
std::string RecordExitStatus(const std::string& path);

// How a child made by fork ended: whether it was waited for, whether it
// exited (not ended by a signal), and its exit code then.
struct ChildEnd {
  bool waited = false;
  bool exited = false;
  int code = -1;
};
// Runs `body` in a child made by fork, which then exits with what the body
// returns, and waits for it. The child runs only the body: it must not
// return into the test.
ChildEnd RunInChild(const std::function<int()>& body);

// The directory of the running test executable (helper programs are built
// beside it).
std::string ExecutableDirectory();

}  // namespace testing_support
