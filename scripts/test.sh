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
echo "=== windows (cross build, run under Wine by the release and debug suites)"
cmake --preset windows >/dev/null
cmake --build --preset windows
for preset in ${presets[@]}; do
  echo "=== $preset"
  cmake --preset "$preset" >/dev/null
  cmake --build --preset "$preset"
  ctest --preset "$preset" -j2 || status=1
done
echo "=== fuzz (a few seconds per target)"
scripts/fuzz.sh 5 || status=1
exit $status
