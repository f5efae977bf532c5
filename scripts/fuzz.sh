#!/usr/bin/env bash
# Builds the libFuzzer targets with clang (AddressSanitizer too) in build/fuzz
# and runs each for the given number of seconds (default 5); a finding stops
# the script with the fuzzer's report and its crash file. Corpora stay in
# build/fuzz/corpus. Usage: scripts/fuzz.sh [SECONDS] [TARGET...]
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-5}
shift || true
targets=("$@")
((${#targets[@]})) || targets=(text_read_fuzz command_line_fuzz heap_fuzz terminal_decoder_fuzz)
declare -A options=(
  [heap_fuzz]="-max_len=20000 -rss_limit_mb=4096"
  [terminal_decoder_fuzz]="-max_len=4096 -timeout=10 -dict=tests/fuzz/terminal_decoder.dict"
)
CC=clang CXX=clang++ cmake -S . -B build/fuzz -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DSHAPEBOARD_FUZZ=ON -DSHAPEBOARD_TESTS=OFF -DSHAPEBOARD_BENCH=OFF >/dev/null
cmake --build build/fuzz --target "${targets[@]}"
for target in "${targets[@]}"; do
  corpus=build/fuzz/corpus/$target
  mkdir -p "$corpus"
  echo "=== fuzz $target for ${seconds}s"
  # shellcheck disable=SC2086
  build/fuzz/tests/fuzz/$target -max_total_time="$seconds" -print_final_stats=1 \
    -artifact_prefix=build/fuzz/ ${options[$target]:-} "$corpus"
done
