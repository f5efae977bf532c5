// Times the real program as a user meets it, over several runs: start to the
// first drawn window, a press to its console line, a key to the exit, the CPU
// the idle program takes, and its peak resident memory. The program runs in
// a pseudo-terminal beside the X server named by DISPLAY; the mouse and keys
// are sent and the window read through the tests' own X client.
//
//   shapeboard_measure PROGRAM [RUNS] [IDLE-SECONDS] [answering|silent]
//
// The pseudo-terminal answers the cursor-position query as a terminal would,
// or (silent) answers nothing, as some do.
//
// Beside the times, the CPU the program's threads took until its window was
// drawn: on a machine that other work keeps busy the times are the machine's
// as much as the program's, that CPU much less so.
#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "tests/support/Wait.h"
#include "tests/support/XClient.h"

namespace {

using testing_support::WaitUntil;
using testing_support::XClient;
using Clock = std::chrono::steady_clock;
using Millis = std::chrono::duration<double, std::milli>;

constexpr std::uint32_t kGrey = 0xC0C0C0;
constexpr std::size_t kStartupGreyPixels = 637;  // the four outlines

struct Run {
  double startToWindowMs = 0;
  double cpuToWindowMs = 0;
  double pressToLineMs = 0;
  double keyToExitMs = 0;
  double idleCpuPercent = 0;
  double peakRssMb = 0;
};

// The program in a pseudo-terminal; what it writes is collected, and a
// cursor-position query is answered as a terminal would (unless silent).
class Child {
 public:
  Child(const std::string& program, bool answers) : answers_(answers) {
    pid_ = ::forkpty(&master_, nullptr, nullptr, nullptr);
    if (pid_ == 0) {
      ::execl(program.c_str(), program.c_str(), static_cast<char*>(nullptr));
      ::_exit(127);
    }
    ::fcntl(master_, F_SETFL, O_NONBLOCK);
  }
  ~Child() {
    if (pid_ > 0 && !reaped_) {
      ::kill(pid_, SIGKILL);
      ::waitpid(pid_, nullptr, 0);
    }
    if (master_ >= 0) ::close(master_);
  }
  bool ok() const { return pid_ > 0; }
  pid_t pid() const { return pid_; }

  void pump() {
    char buffer[4096];
    ssize_t n;
    while ((n = ::read(master_, buffer, sizeof buffer)) > 0) {
      output_.append(buffer, static_cast<std::size_t>(n));
      if (answers_ && output_.find("\x1b[6n", answered_) != std::string::npos) {
        answered_ = output_.size();
        const char reply[] = "\x1b[1;1R";
        (void)!::write(master_, reply, sizeof reply - 1);
      }
    }
  }
  const std::string& output() const { return output_; }

  // The exit status and peak memory once the program has ended.
  std::optional<rusage> reap(bool wait) {
    int status = 0;
    rusage usage{};
    const pid_t got = ::wait4(pid_, &status, wait ? 0 : WNOHANG, &usage);
    if (got != pid_) return std::nullopt;
    reaped_ = true;
    return usage;
  }

  double cpuSeconds() const {
    std::ifstream stat("/proc/" + std::to_string(pid_) + "/stat");
    std::string text((std::istreambuf_iterator<char>(stat)), {});
    const auto close = text.rfind(')');
    if (close == std::string::npos) return 0;
    std::istringstream fields(text.substr(close + 2));
    std::string field;
    long utime = 0, stime = 0;
    for (int i = 3; i <= 15 && fields >> field; ++i) {
      if (i == 14) utime = std::stol(field);
      if (i == 15) stime = std::stol(field);
    }
    return static_cast<double>(utime + stime) / static_cast<double>(::sysconf(_SC_CLK_TCK));
  }

  // The time on a CPU of the threads still running, in ms: the scheduler's
  // own count, in ns, where /proc/PID/stat counts in clock ticks.
  double threadsCpuMs() const {
    double total = 0;
    std::error_code error;
    const std::filesystem::path tasks = "/proc/" + std::to_string(pid_) + "/task";
    for (const auto& task : std::filesystem::directory_iterator(tasks, error)) {
      std::ifstream stat(task.path() / "schedstat");
      double ns = 0;
      if (stat >> ns) total += ns / 1e6;
    }
    return total;
  }

 private:
  pid_t pid_ = -1;
  int master_ = -1;
  bool reaped_ = false;
  bool answers_;
  std::string output_;
  std::size_t answered_ = 0;
};

// Looks often, so that the times are the program's, not the polls'.
constexpr std::chrono::milliseconds kStep(1);

std::optional<Run> measureOnce(XClient& x, const std::string& program, int idleSeconds,
                               bool answers) {
  Run run;
  const auto start = Clock::now();
  Child child(program, answers);
  if (!child.ok()) return std::nullopt;
  unsigned long window = 0;
  const bool drawn = WaitUntil(
      [&] {
        child.pump();
        if (window == 0) {
          const auto named = x.WindowsNamed("Graph");
          if (!named.empty()) window = named.front();
        }
        return window != 0 && x.Read(window).count(kGrey) >= kStartupGreyPixels;
      },
      std::chrono::seconds(20), kStep);
  if (!drawn) return std::nullopt;
  run.startToWindowMs = Millis(Clock::now() - start).count();
  run.cpuToWindowMs = child.threadsCpuMs();

  if (idleSeconds > 0) {
    const double before = child.cpuSeconds();
    std::this_thread::sleep_for(std::chrono::seconds(idleSeconds));
    run.idleCpuPercent = 100.0 * (child.cpuSeconds() - before) / idleSeconds;
  }

  // A press where no figure is: (450, 450) in the window, which starts at (1, 1).
  x.move(451, 451);
  std::this_thread::sleep_for(std::chrono::milliseconds(150));
  child.pump();
  const std::size_t seen = child.output().size();
  const auto pressed = Clock::now();
  x.press(451, 451);
  const bool line = WaitUntil(
      [&] {
        child.pump();
        return child.output().find("mouseclick", seen) != std::string::npos;
      },
      std::chrono::seconds(5), kStep);
  run.pressToLineMs = Millis(Clock::now() - pressed).count();
  x.release();
  if (!line) return std::nullopt;
  std::this_thread::sleep_for(std::chrono::milliseconds(250));

  const auto typed = Clock::now();
  x.typeKey(window, 'a');
  std::optional<rusage> usage;
  const bool ended = WaitUntil(
      [&] {
        child.pump();
        return (usage = child.reap(false)).has_value();
      },
      std::chrono::seconds(5), kStep);
  if (!ended) return std::nullopt;
  run.keyToExitMs = Millis(Clock::now() - typed).count();
  run.peakRssMb = static_cast<double>(usage->ru_maxrss) / 1024.0;
  return run;
}

// With a median target the worst is held to its own; without any target the
// line is for information.
void report(const char* what, std::vector<double> values, const char* unit, double target,
            double medianTarget = 0) {
  std::sort(values.begin(), values.end());
  const double median = values[values.size() / 2];
  const double worst = values.back();
  std::printf("%-27s median %8.2f %-3s worst %8.2f %-3s", what, median, unit, worst, unit);
  if (target <= 0) {
    std::printf("\n");
    return;
  }
  const char* verdict = worst > target                              ? "MISSED (worst)"
                        : medianTarget > 0 && median > medianTarget ? "MISSED (median)"
                                                                    : "met";
  if (medianTarget > 0) {
    std::printf(" target %6.1f %-3s median, %.1f worst  %s\n", medianTarget, unit, target, verdict);
  } else {
    std::printf(" target %6.1f %-3s %s\n", target, unit, verdict);
  }
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: %s PROGRAM [RUNS] [IDLE-SECONDS] [answering|silent]\n", argv[0]);
    return 2;
  }
  const std::string program = argv[1];
  const int runs = argc > 2 ? std::atoi(argv[2]) : 10;
  const int idleSeconds = argc > 3 ? std::atoi(argv[3]) : 10;
  const bool answers = argc <= 4 || std::string(argv[4]) != "silent";
  XClient x;
  if (!x.ok() || !x.hasXTest()) {
    std::fprintf(stderr, "no X display with the XTEST extension\n");
    return 2;
  }
  std::vector<Run> results;
  for (int i = 0; i < runs; ++i) {
    const auto run = measureOnce(x, program, idleSeconds, answers);
    if (!run) {
      std::fprintf(stderr, "run %d failed\n", i + 1);
      return 1;
    }
    std::printf(
        "run %2d: window %.1f ms (CPU %.1f ms), press %.1f ms, key %.1f ms, idle %.3f%%, rss %.1f "
        "MB\n",
        i + 1, run->startToWindowMs, run->cpuToWindowMs, run->pressToLineMs, run->keyToExitMs,
        run->idleCpuPercent, run->peakRssMb);
    std::fflush(stdout);
    results.push_back(*run);
  }
  auto column = [&](double Run::*field) {
    std::vector<double> values;
    for (const Run& r : results) values.push_back(r.*field);
    return values;
  };
  std::printf("\nover %d runs:\n", runs);
  report("start to first drawn window", column(&Run::startToWindowMs), "ms", 150, 60);
  report("CPU to first drawn window", column(&Run::cpuToWindowMs), "ms", 0);
  report("press to console line", column(&Run::pressToLineMs), "ms", 120);
  report("key to exit", column(&Run::keyToExitMs), "ms", 120);
  if (idleSeconds > 0) report("idle CPU (one core)", column(&Run::idleCpuPercent), "%", 1);
  report("peak RSS", column(&Run::peakRssMb), "MB", 30);
}
