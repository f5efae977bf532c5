// The benchmarks' main: BENCHMARK_MAIN's steps, after the start every program
// of the system makes. A library, so that a benchmark with a main of its own
// (graph_bench) keeps that one.
#include <benchmark/benchmark.h>

#include "platform/Win32.h"

int main(int argc, char** argv) {
  win32::detail::ConnectConsoleHost();
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
