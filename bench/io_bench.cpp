// Lines per second through IO.WrStr and IO.WrLn to a disk file and to a
// pipe, beside C stdio writing the same bytes with the same flush pattern:
// on a file the standard-stream buffer is written out at every line end
// (stdio: fflush after each line); on a pipe every write goes straight to
// the handle (stdio: fflush after each piece). Rates are by wall-clock
// time, since the work is in the system calls. Stdio_PipeLineFlush shows
// stdio writing each line in one piece, for comparison.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>

#include "channels/StdChans.h"
#include "channels/kDevData.h"
#include "console/IO.h"
#include "platform/kernel/Files.h"
#include "platform/kernel/Handles.h"
#include "runtime/krExceptions.h"
#include "runtime/krnStart.h"
#include "platform/kernel/FilesInternal.h"

namespace {

constexpr char lineText[] = "mouseclick at x=123, y=456";

std::string temporaryPath() {
  char name[] = "/tmp/shapeboard-bench-XXXXXX";
  int fd = ::mkstemp(name);
  ::close(fd);
  return name;
}

// Points the standard output channel, which IO writes to, at the descriptor
// as a standard stream, the way start-up opens it.
void pointStandardOutputAt(int fd) {
  char* name = nullptr;
  ChanConsts::OpenResult result = 0;
  kDevData::MakeName(name, "", result);
  kDevData::Open(StdChans::StdOutChan(), win32::detail::HandleForDescriptor(fd), name,
                 ChanConsts::textFlag | ChanConsts::rawFlag | ChanConsts::writeFlag,
                 kDevData::standardStream, result);
  if (result != ChanConsts::opened) std::abort();
}

// Closes the handle the channel writes to; standard output then points at
// /dev/null until a benchmark points it elsewhere.
void closeStandardOutput() {
  win32::CloseHandle(kDevData::GetDevData(StdChans::StdOutChan())->file);
  pointStandardOutputAt(::open("/dev/null", O_WRONLY));
}

// A pipe whose reading end a thread drains until the writing end closes.
class DrainedPipe {
 public:
  DrainedPipe() {
    int fds[2];
    if (::pipe(fds) != 0) std::abort();
    readFd_ = fds[0];
    writeFd_ = fds[1];
    reader_ = std::thread([fd = readFd_] {
      char buffer[65536];
      while (::read(fd, buffer, sizeof buffer) > 0) {
      }
    });
  }
  ~DrainedPipe() {
    if (writeFd_ >= 0) ::close(writeFd_);
    reader_.join();
    ::close(readFd_);
  }
  // The writing end passes to the caller, who closes it.
  int release() {
    int fd = writeFd_;
    writeFd_ = -1;
    return fd;
  }

 private:
  int readFd_ = -1;
  int writeFd_ = -1;
  std::thread reader_;
};

void writeLinesWithIO(benchmark::State& state) {
  for (auto _ : state) {
    IO::WrStr(lineText);
    IO::WrLn();
  }
  state.SetItemsProcessed(state.iterations());
}

void IO_File(benchmark::State& state) {
  std::string path = temporaryPath();
  int fd = ::open(path.c_str(), O_WRONLY | O_TRUNC);
  pointStandardOutputAt(fd);
  writeLinesWithIO(state);
  closeStandardOutput();
  ::unlink(path.c_str());
}

void Stdio_File(benchmark::State& state) {
  std::string path = temporaryPath();
  std::FILE* file = std::fopen(path.c_str(), "wb");
  for (auto _ : state) {
    std::fputs(lineText, file);
    std::fputs("\r\n", file);
    std::fflush(file);
  }
  state.SetItemsProcessed(state.iterations());
  std::fclose(file);
  ::unlink(path.c_str());
}

void IO_Pipe(benchmark::State& state) {
  DrainedPipe pipe;
  pointStandardOutputAt(pipe.release());  // the channel's handle keeps it open
  writeLinesWithIO(state);
  closeStandardOutput();  // ends the reader
}

void Stdio_Pipe(benchmark::State& state) {
  DrainedPipe pipe;
  std::FILE* file = ::fdopen(pipe.release(), "wb");
  for (auto _ : state) {
    std::fputs(lineText, file);
    std::fflush(file);
    std::fputs("\r\n", file);
    std::fflush(file);
  }
  state.SetItemsProcessed(state.iterations());
  std::fclose(file);
}

// For comparison: stdio writing a line in one piece to the pipe.
void Stdio_PipeLineFlush(benchmark::State& state) {
  DrainedPipe pipe;
  std::FILE* file = ::fdopen(pipe.release(), "wb");
  for (auto _ : state) {
    std::fputs(lineText, file);
    std::fputs("\r\n", file);
    std::fflush(file);
  }
  state.SetItemsProcessed(state.iterations());
  std::fclose(file);
}

BENCHMARK(IO_File)->UseRealTime();
BENCHMARK(Stdio_File)->UseRealTime();
BENCHMARK(IO_Pipe)->UseRealTime();
BENCHMARK(Stdio_Pipe)->UseRealTime();
BENCHMARK(Stdio_PipeLineFlush)->UseRealTime();

// The benchmarks run as the program's body, after the run-time's own
// start-up: the main thread is named, so every channel call is a safe point
// as it is in the program.
void runBenchmarks(std::int32_t /*argc*/, char** /*argv*/) {
  K2C_init_exceptions();
  IO::BEGIN();
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
}

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  kStart(runBenchmarks);
}
