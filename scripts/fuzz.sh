#!/usr/bin/env bash
# Builds the heap's libFuzzer target with clang (AddressSanitizer) and runs it
# for the given number of seconds (default 5). Further arguments go to the
# fuzzer. The corpus stays in build/fuzz/heap-corpus.
set -euo pipefail
cd "$(dirname "$0")/.."
seconds="${1:-5}"
shift || true
out=build/fuzz
mkdir -p "$out/heap-corpus"
sources=(
  tests/fuzz/heap_fuzz.cpp
  runtime/kosMalloc.cpp runtime/kosBalls.cpp runtime/kosMem.cpp
  runtime/krBlockManager.cpp runtime/krDTree.cpp runtime/krMM.cpp runtime/krM2MM.cpp
  platform/kernel/Memory.cpp platform/kernel/Errors.cpp
)
clang++ -std=c++20 -O1 -g -I. -Wall -Wextra -Werror -fno-omit-frame-pointer \
  -fsanitize=fuzzer,address,undefined -fno-sanitize-recover=undefined \
  "${sources[@]}" -o "$out/heap_fuzz"
"$out/heap_fuzz" -max_total_time="$seconds" -max_len=20000 -rss_limit_mb=4096 \
  "$@" "$out/heap-corpus"
