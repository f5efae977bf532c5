#!/usr/bin/env bash
# Builds the libFuzzer targets with clang (AddressSanitizer too) in build/fuzz
# and runs each for the given number of seconds (default 5); a finding stops
# the script with the fuzzer's report and its crash file.
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-5}
targets=(text_read_fuzz command_line_fuzz)
CC=clang CXX=clang++ cmake -S . -B build/fuzz -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DSHAPEBOARD_FUZZ=ON -DSHAPEBOARD_TESTS=OFF -DSHAPEBOARD_BENCH=OFF >/dev/null
cmake --build build/fuzz --target "${targets[@]}"
for target in "${targets[@]}"; do
  corpus=build/fuzz/corpus/$target
  mkdir -p "$corpus"
  echo "=== fuzz $target for ${seconds}s"
  build/fuzz/tests/fuzz/$target -max_total_time="$seconds" -print_final_stats=1 \
    -artifact_prefix=build/fuzz/ "$corpus"
done
