#!/usr/bin/env bash
# Installs the dependencies, then builds and runs every test: the release
# build that scripts/run.sh ships, the plain debug build, then the same suite
# under AddressSanitizer+UBSan and under ThreadSanitizer, and each libFuzzer
# target for a few seconds. End-to-end tests start their own X server and
# terminal. The Windows build is made first: the release and debug suites
# run it under Wine too (shapeboard_wine_e2e_test).
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/deps.sh
presets=("${@:-release debug asan tsan}")
status=0
failures=()
echo "=== windows (cross build, run under Wine by the release and debug suites)"
cmake --preset windows >/dev/null
cmake --build --preset windows
for preset in ${presets[@]}; do
  echo "=== $preset"
  cmake --preset "$preset" >/dev/null
  cmake --build --preset "$preset"
  if ! ctest --preset "$preset" -j2; then
    status=1
    failures+=("$preset: $({ tr "\n" " " <"build/$preset/Testing/Temporary/LastTestsFailed.log"; } 2>/dev/null || true)")
  fi
done
echo "=== fuzz (a few seconds per target)"
scripts/fuzz.sh 5 || { status=1; failures+=("fuzz"); }
# The end of a long log is what a reader sees first: what failed goes there.
if ((${#failures[@]})); then
  echo "=== failed"
  printf '%s\n' "${failures[@]}"
fi
exit $status
