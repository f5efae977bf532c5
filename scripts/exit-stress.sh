#!/usr/bin/env bash
# The exit race in full: 1000 runs (or the given count) of the run-time's
# probe ending by return, halt, trap and break while its main thread writes
# lines to a redirected standard output; then as many runs of the busy races
# (a halt from another thread and a Ctrl+C while the main thread is busy in
# platform calls) and of the stop races (the same exits with a stop and
# continue from outside around them), and a tenth as many stalled-pipe races
# (the exits while the main thread is blocked in a write to a pipe nobody
# reads, each a second or more), each checked to end within 3 s of its
# cause. Prints the runs and the worst time of each. Needs the debug build
# (or the preset named second).
set -euo pipefail
cd "$(dirname "$0")/.."
runs=${1:-1000}
preset=${2:-debug}
cmake --build --preset "$preset" --target exit_stress_test rt_probe
SHAPEBOARD_EXIT_RUNS=$runs SHAPEBOARD_BUSY_RUNS=$runs SHAPEBOARD_STOP_RUNS=$runs \
  SHAPEBOARD_STALL_RUNS=$(((runs + 9) / 10)) SHAPEBOARD_EXIT_BOUND_MS=3000 \
  "build/$preset/tests/runtime/exit_stress_test"
