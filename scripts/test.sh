#!/usr/bin/env bash
# Installs the dependencies, then builds and runs every test: the release
# build that scripts/run.sh ships, the plain debug build, then the same suite
# under AddressSanitizer+UBSan and under ThreadSanitizer, and each libFuzzer
# target for a few seconds. End-to-end tests start their own X server and
# terminal. The Windows build is made first, with the module tests, which run
# under Wine in a fresh prefix beside a virtual X server; the release and
# debug suites run the Windows program under Wine too
# (shapeboard_wine_e2e_test).
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/deps.sh
presets=("${@:-release debug asan tsan}")
status=0
failures=()
# suite PRESET [RUNNER...]: builds the preset and runs its tests (through
# the runner when given); what fails is noted for the end.
suite() {
  local preset=$1
  shift
  echo "=== $preset"
  cmake --preset "$preset" >/dev/null
  cmake --build --preset "$preset"
  if ! "$@" ctest --preset "$preset" -j2; then
    status=1
    failures+=("$preset: $({ tr "\n" " " <"build/$preset/Testing/Temporary/LastTestsFailed.log"; } 2>/dev/null || true)")
  fi
}
# The Windows module tests under Wine, in a fresh prefix beside an X server.
rm -rf build/windows/wine-prefix
suite windows xvfb-run -a -s "-screen 0 1024x768x24"
for preset in ${presets[@]}; do
  suite "$preset"
done
echo "=== fuzz (a few seconds per target)"
scripts/fuzz.sh 5 || { status=1; failures+=("fuzz"); }
# The end of a long log is what a reader sees first: what failed goes there.
if ((${#failures[@]})); then
  echo "=== failed"
  printf '%s\n' "${failures[@]}"
fi
exit $status
