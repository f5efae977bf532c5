#!/usr/bin/env bash
# The exit race in full: 1000 runs (or the given count) of the run-time's
# probe ending by return, halt, trap and break while its main thread writes
# lines to a redirected standard output. Needs the debug build (or the
# preset named second).
set -euo pipefail
cd "$(dirname "$0")/.."
runs=${1:-1000}
preset=${2:-debug}
cmake --build --preset "$preset" --target exit_stress_test rt_probe
SHAPEBOARD_EXIT_RUNS=$runs "build/$preset/tests/runtime/exit_stress_test"
