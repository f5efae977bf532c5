#!/usr/bin/env bash
# Installs what building, running and testing need (Debian 12, as root).
set -euo pipefail
packages=(
  cmake ninja-build g++ pkg-config clang-format clang libclang-rt-14-dev liblzma-dev
  libsdl2-dev libunibilium-dev
  libgtest-dev libgmock-dev googletest libbenchmark-dev libmimalloc-dev python3
  libxtst-dev libx11-dev imagemagick
  xvfb xdotool x11-apps x11-utils tmux
  g++-mingw-w64-x86-64-posix wine64
)
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'ok installed' || missing+=("$p")
done
if ((${#missing[@]})); then
  sudo_cmd=()
  [ "$(id -u)" -eq 0 ] || sudo_cmd=(sudo)
  "${sudo_cmd[@]}" apt-get update -qq
  DEBIAN_FRONTEND=noninteractive "${sudo_cmd[@]}" apt-get install -y -qq "${missing[@]}"
fi
