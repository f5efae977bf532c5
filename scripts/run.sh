#!/usr/bin/env bash
# Installs the dependencies, builds the release program and runs it in this
# terminal, under a virtual X server when there is no display.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/deps.sh
cmake --preset release >/dev/null
cmake --build --preset release --target shapeboard
if [ -z "${DISPLAY:-}" ]; then
  exec xvfb-run -a -s "-screen 0 1024x768x24" build/release/app/shapeboard "$@"
fi
exec build/release/app/shapeboard "$@"
