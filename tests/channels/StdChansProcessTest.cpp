// The standard channels seen from outside: the probe program runs with its
// standard output on a pipe, a file, a terminal, a closed pipe or /dev/full.
#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <fstream>
#include <iterator>
#include <string>

#include "tests/support/Subprocess.h"
#include "tests/support/TestFiles.h"

namespace {

using testing_support::RunOptions;
using testing_support::RunProgram;
using testing_support::RunResult;
using testing_support::StdoutTarget;

const char* const clickLines = "mouseclick at x=12, y=345\r\nsecond\r\n";

class StdChansProcessTest : public ::testing::Test {
 protected:
  // TempDir falls back to /tmp itself when it cannot make one.
  void SetUp() override { ASSERT_NE(workDir, "/tmp"); }
  RunResult run(const std::string& scenario, StdoutTarget target, const std::string& stdinData = "",
                const std::string& extra = "") {
    RunOptions options;
    options.stdoutTarget = target;
    options.stdinData = stdinData;
    options.workingDirectory = workDir;
    std::vector<std::string> args{scenario};
    if (!extra.empty()) args.push_back(extra);
    return RunProgram(testing_support::ExecutableDirectory() + "/channels_probe", args, options);
  }
  static int count(const std::string& text, const std::string& what) {
    int n = 0;
    for (auto at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++n;
    return n;
  }
  testing_support::TempDir work;  // removed with what the program left there
  std::string workDir = work.path();
};

TEST_F(StdChansProcessTest, LinesEndInCrLfOnEveryKindOfOutput) {
  for (StdoutTarget target : testing_support::kEveryOutputKind) {
    RunResult r = run("lines", target);
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(r.out, clickLines) << static_cast<int>(target);
  }
}

TEST_F(StdChansProcessTest, FileOutputWaitsForTheLineEnd) {
  RunResult r = run("pending-line", StdoutTarget::File);
  EXPECT_EQ(r.exitCode, 0) << r.err;
  EXPECT_EQ(r.err, "after text: 0\nafter line: 5\n");
  EXPECT_EQ(r.out, "abc\r\n");

  r = run("three-hundred", StdoutTarget::File);
  EXPECT_EQ(r.err, "after 300: 256\nafter 301: 256\nafter line: 303\n");
  EXPECT_EQ(r.out, std::string(300, 'x') + "y\r\n");
}

TEST_F(StdChansProcessTest, PendingOutputReachesTheFileOnEveryWayOut) {
  RunResult r = run("pending-end", StdoutTarget::File);
  EXPECT_EQ(r.exitCode, 0);
  EXPECT_EQ(r.out, "tail without line end");

  r = run("pending-halt", StdoutTarget::File);
  EXPECT_EQ(r.exitCode, 3);
  EXPECT_EQ(r.out, "before halt");

  r = run("pending-trap", StdoutTarget::File);
  EXPECT_EQ(r.exitCode, 9);
  EXPECT_EQ(r.out, "before trap");
  EXPECT_NE(r.err.find("#RTS: unhandled exception #1: expression out of bounds"), std::string::npos)
      << r.err;
}

TEST_F(StdChansProcessTest, PendingOutputDoesNotOverwriteAReportInTheSameFile) {
  RunResult r = run("pending-trap", StdoutTarget::File, "", "stderr-to-stdout");
  EXPECT_EQ(r.exitCode, 9);
  EXPECT_NE(r.out.find("#RTS: unhandled exception #1: expression out of bounds"), std::string::npos)
      << r.out;
  EXPECT_NE(r.out.find("before trap"), std::string::npos) << r.out;
}

TEST_F(StdChansProcessTest, FailedWritesEndInTheReportAndExitCode9) {
  RunResult r = run("write-fails", StdoutTarget::ClosedPipe);
  EXPECT_EQ(r.exitCode, 9);
  EXPECT_EQ(r.signal, 0);
#ifdef _WIN32
  // Windows answers a write to a pipe whose reader has gone with
  // ERROR_NO_DATA (E8H) when the reader was gone before, as here (Wine
  // too), and with ERROR_BROKEN_PIPE (6DH) for the first write after it
  // goes: either is the failure the exit reports.
  const bool noReader =
      r.err.find("#RTS: unhandled exception #4: IOException.hardDeviceError 000000E8H") !=
          std::string::npos ||
      r.err.find("#RTS: unhandled exception #4: IOException.hardDeviceError 0000006DH") !=
          std::string::npos;
  EXPECT_TRUE(noReader) << r.err;
#else
  EXPECT_NE(r.err.find("#RTS: unhandled exception #4: IOException.hardDeviceError 0000006DH"),
            std::string::npos)
      << r.err;
#endif
  EXPECT_EQ(r.err.find("still running"), std::string::npos);

#ifndef _WIN32
  // Windows has no device whose every write fails with "disk full".
  r = run("write-fails", StdoutTarget::DevFull);
  EXPECT_EQ(r.exitCode, 9);
  EXPECT_NE(r.err.find("#RTS: unhandled exception #4: IOException.hardDeviceError 00000070H"),
            std::string::npos)
      << r.err;
#endif
}

TEST_F(StdChansProcessTest, OutputThatCannotBeWrittenAtTheEndIsReported) {
#ifdef _WIN32
  GTEST_SKIP() << "Windows has no file-size limit (RLIMIT_FSIZE) to make the writes fail";
#endif
  // The file-size limit makes the write fail; its signal does not end the
  // program unreported.
  RunResult r = run("end-flush-fails", StdoutTarget::File);
  EXPECT_EQ(r.exitCode, 9);
  EXPECT_EQ(r.signal, 0);
  EXPECT_EQ(count(r.err, "IOException.hardDeviceError 00000070H"), 1) << r.err;

  // Reported once, at the line end; the end does not report it again.
  r = run("line-flush-fails", StdoutTarget::File);
  EXPECT_EQ(r.exitCode, 9);
  EXPECT_EQ(r.signal, 0);
  EXPECT_EQ(count(r.err, "#RTS: unhandled exception #4: IOException.hardDeviceError 00000070H"), 1)
      << r.err;
}

// The output lost at the end is reported after the trap, but the report file
// keeps the trap's history and the exit code is the trap's.
TEST_F(StdChansProcessTest, ALaterReportInTheSameExitKeepsTheFirstReportFile) {
#ifdef _WIN32
  GTEST_SKIP() << "Windows has no file-size limit (RLIMIT_FSIZE) to make the writes fail";
#endif
  RunResult r = run("trap-over-pending", StdoutTarget::File);
  EXPECT_EQ(r.exitCode, 9);
  EXPECT_EQ(r.err.find("#RTS: unhandled exception #1: expression out of bounds"), 0u) << r.err;
  EXPECT_EQ(count(r.err, "IOException.hardDeviceError 00000070H"), 1) << r.err;
  EXPECT_EQ(count(r.err, "File errinfo.$$$ created."), 1) << r.err;
  std::ifstream file(workDir + "/errinfo.$$$", std::ios::binary);
  const std::string history((std::istreambuf_iterator<char>(file)),
                            std::istreambuf_iterator<char>());
  EXPECT_NE(history.find("#RTS: unhandled exception #1: expression out of bounds"),
            std::string::npos)
      << history;
  EXPECT_EQ(history.find("IOException"), std::string::npos) << history;
}

// Text written after a caught failure is not hidden behind it.
TEST_F(StdChansProcessTest, PendingTextAfterACaughtFailureIsReportedAtTheEnd) {
#ifdef _WIN32
  GTEST_SKIP() << "Windows has no file-size limit (RLIMIT_FSIZE) to make the writes fail";
#endif
  RunResult r = run("caught-then-pending", StdoutTarget::File);
  EXPECT_EQ(r.exitCode, 9);
  EXPECT_EQ(r.err.substr(0, 7), "caught\n") << r.err;
  EXPECT_EQ(count(r.err, "#RTS: unhandled exception #4: IOException.hardDeviceError 00000070H"), 1)
      << r.err;
}

TEST_F(StdChansProcessTest, AFailedFlushAtAHaltIsReportedAndNothingResumes) {
#ifdef _WIN32
  GTEST_SKIP() << "Windows has no file-size limit (RLIMIT_FSIZE) to make the writes fail";
#endif
  RunResult r = run("halt-in-frame", StdoutTarget::File);
  EXPECT_EQ(r.exitCode, 3);
  EXPECT_EQ(r.err, "#RTS: unhandled exception #4: IOException.hardDeviceError 00000070H\r\n");
}

// Termination and hang-up end by their signal, as before, after the orderly
// exit: pending text reaches the file.
TEST_F(StdChansProcessTest, TerminationSignalsWritePendingTextFirst) {
#ifdef _WIN32
  GTEST_SKIP() << "Windows has no termination or hang-up signal a process can send";
#else
  for (int signal : {SIGTERM, SIGHUP}) {
    RunResult r = run(signal == SIGTERM ? "pending-sigterm" : "pending-sighup", StdoutTarget::File);
    EXPECT_EQ(r.signal, signal);
    EXPECT_EQ(r.out, "pending at the signal") << signal;
#if !defined(__SANITIZE_THREAD__)
    // ThreadSanitizer builds cannot hold the main thread: the exit's reads
    // of the channels are reported there as racing its last writes.
    EXPECT_EQ(r.err, "") << signal;
#endif
  }
#endif
}

TEST_F(StdChansProcessTest, TextReadsOfStandardInput) {
  RunResult r = run("read", StdoutTarget::Capture, "ab\r\ncd\rx\r\n\r\nlast");
  EXPECT_EQ(r.exitCode, 9);
  EXPECT_EQ(r.err.substr(0, r.err.find("#RTS")),
            "read 2 [ab] look 4\n"
            "read 3 [cd\r] look 1\n"
            "read 1 [x] look 4\n"
            "read 0 [] look 4\n"
            "read 3 [las] look 1\n"
            "read 1 [t] look 5\n");
  EXPECT_NE(r.err.find("#RTS: unhandled exception #2: IOException.skipAtEnd\r\n"),
            std::string::npos)
      << r.err;
}

TEST_F(StdChansProcessTest, ExhaustedHeapPaths) {
  // IOChan's own halt: no trap report from IOLink's start-up, nothing after.
  RunResult r = run("exhausted-start", StdoutTarget::Capture);
  EXPECT_EQ(r.exitCode, 9);
  EXPECT_EQ(r.out, "");
  EXPECT_EQ(r.err, "");

  r = run("exhausted-std", StdoutTarget::Capture);
  EXPECT_EQ(r.exitCode, 9);
  EXPECT_EQ(r.out, "");
  EXPECT_NE(r.err.find("#RTS: unhandled exception #1: IOException.notAvailable Write"),
            std::string::npos)
      << r.err;
}

}  // namespace
