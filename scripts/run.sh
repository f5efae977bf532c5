#!/usr/bin/env bash
# Installs the dependencies, builds the release program and runs it in this
# terminal, under a virtual X server when there is no display.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/deps.sh
cmake --preset release >/dev/null
cmake --build --preset release --target shapeboard
if [ -z "${DISPLAY:-}" ]; then
  cat >&2 <<'NOTE'
No display here: Shapeboard runs under a virtual X server (Xvfb), so its
window cannot be seen. Type a key to end it. To see what the window shows,
look at docs/demo.png, or run scripts/demo for a fresh screenshot.
NOTE
  exec xvfb-run -a -s "-screen 0 1024x768x24" build/release/app/shapeboard "$@"
fi
exec build/release/app/shapeboard "$@"
