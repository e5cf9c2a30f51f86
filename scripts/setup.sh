#!/usr/bin/env bash
# Installs what is missing on a fresh Debian 12 machine, then configures and
# builds into the folder given as the first argument with the CMake options
# that follow; without a folder it only installs. What is installed depends on
# the purpose given before the folder: nothing (build and run), --tests or
# --package. Already-installed packages are not fetched again.
#
#   setup.sh [--tests | --package] [build_dir [cmake options...]]
set -euo pipefail

# Build and run: the toolchain, and Qt with its platform plugins and the SVG
# engine that draws the window icon; the fixed-pitch font receipts are drawn
# in (their tests measure its ink).
packages=(cmake ninja-build g++ qt6-base-dev qt6-qpa-plugins libqt6svg6 libgl-dev
          fonts-dejavu-core)
# The package and its check: CPack finds the package's library dependencies
# with dpkg-shlibdeps, which needs file; dpkg-buildflags gives Debian's
# hardening flags; lintian checks the package as Debian would.
package_tools=(dpkg-dev file lintian)
case "${1:-}" in
  --tests)
    # GoogleTest; clang for the fuzz targets and clang-format for the format
    # check; Xvfb, xauth, xdotool and openbox for the end-to-end tests on a
    # private X server, x11-utils to read the window manager's frames there,
    # trayer as the system tray that the tray icon goes into;
    # the validators of the desktop entry and the AppStream metadata; man to
    # check the manual page; a private session bus for the notification
    # tests; Ghostscript, which draws the pages of PostScript and PDF
    # captures in the preview; what the package check needs.
    packages+=(libgtest-dev clang-14 libclang-rt-14-dev clang-format-14 xvfb xauth xdotool
               openbox x11-utils trayer desktop-file-utils appstream man-db
               dbus-daemon dbus-session-bus-common ghostscript "${package_tools[@]}")
    shift ;;
  --package)
    packages+=("${package_tools[@]}")
    shift ;;
esac

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

[ $# -eq 0 ] && exit 0
build_dir=$1
shift
root=$(cd "$(dirname "$0")/.." && pwd)
cmake -S "$root" -B "$root/$build_dir" -G Ninja "$@" >/dev/null
cmake --build "$root/$build_dir" -j"$(nproc)"
