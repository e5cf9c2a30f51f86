#!/usr/bin/env bash
# Installs what building and testing need on a fresh Debian 12 machine, then
# configures and builds into the folder given as $1 with the CMake options
# that follow. Already-installed packages are not fetched again.
set -euo pipefail

# Build and run: the toolchain and Qt. Tests: GoogleTest, Xvfb with xdotool
# for the dialog end-to-end test, and clang for the fuzz targets.
# openbox frames the windows in that test; x11-utils reads the frames.
packages=(cmake ninja-build g++ qt6-base-dev qt6-qpa-plugins libgl-dev
          libgtest-dev xvfb xauth xdotool openbox x11-utils clang-14 libclang-rt-14-dev)

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  sudo=""
  [ "$(id -u)" -ne 0 ] && sudo="sudo"
  $sudo apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi

build_dir=$1
shift
root=$(cd "$(dirname "$0")/.." && pwd)
cmake -S "$root" -B "$root/$build_dir" -G Ninja "$@" >/dev/null
cmake --build "$root/$build_dir" -j"$(nproc)"
