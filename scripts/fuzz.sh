#!/usr/bin/env bash
# Builds libFuzzer targets with clang (AddressSanitizer + UBSan) outside the
# g++ build and runs each for the given number of seconds (default 5).
#   scripts/fuzz.sh [seconds] [target] [fuzzer arguments...]
# Corpora stay in build/fuzz/<target>-corpus.
set -euo pipefail
cd "$(dirname "$0")/.."
seconds="${1:-5}"
only="${2:-all}"
shift $(( $# > 2 ? 2 : $# ))
out=build/fuzz
flags=(-std=c++20 -O1 -g -I. -Wall -Wextra -Werror -fno-omit-frame-pointer
  -fsanitize=fuzzer,address,undefined -fno-sanitize-recover=undefined)

# The console host's terminal decoder, fed random and cut escape sequences.
fuzz_terminal_decoder() {
  mkdir -p "$out/terminal_decoder-corpus"
  clang++ "${flags[@]}" $(pkg-config --cflags sdl2 termkey) \
    tests/fuzz/terminal_decoder_fuzz.cpp platform/console/TerminalDecoder.cpp \
    platform/console/TerminalKeys.cpp platform/display/KeyCodes.cpp \
    $(pkg-config --libs termkey) -o "$out/terminal_decoder_fuzz"
  "$out/terminal_decoder_fuzz" -max_total_time="$seconds" -max_len=4096 -timeout=10 \
    -dict=tests/fuzz/terminal_decoder.dict "$@" "$out/terminal_decoder-corpus"
}

mkdir -p "$out"
for target in terminal_decoder; do
  if [ "$only" = all ] || [ "$only" = "$target" ]; then "fuzz_$target" "$@"; fi
done
