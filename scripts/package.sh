#!/usr/bin/env bash
# Builds the Debian package of Tarnock: a release build in build-package/
# with the hardening flags of Debian's own builds, packed by CPack into
# tarnock_<version>_<arch>.deb in the source folder. Install it with
# sudo apt-get install ./tarnock_*.deb.
#
# Every date in the package is the last commit's, so two builds of one commit
# give the same bytes.
#
# With --check (the test command runs it so) the package stays in
# build-package/, is packed a second time to see that the bytes stay the
# same, and lintian must report no error and no warning in it.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
check=false
[ "${1:-}" = "--check" ] && check=true

"$root/scripts/setup.sh" --package
# dpkg-buildflags maps the paths below the current folder out of the binary.
cd "$root"
SOURCE_DATE_EPOCH=$(git -C "$root" log -1 --format=%ct 2>/dev/null ||
                    stat -c %Y "$root/CMakeLists.txt")
export SOURCE_DATE_EPOCH
export DEB_BUILD_MAINT_OPTIONS=hardening=+all
cxx_flags="$(dpkg-buildflags --get CPPFLAGS) $(dpkg-buildflags --get CXXFLAGS)"
linker_flags=$(dpkg-buildflags --get LDFLAGS)
"$root/scripts/setup.sh" --package build-package -DCMAKE_BUILD_TYPE=Release \
  -DCMAKE_INSTALL_PREFIX=/usr -DTARNOCK_TESTS=OFF -DTARNOCK_BENCH=OFF \
  "-DCMAKE_CXX_FLAGS=$cxx_flags" "-DCMAKE_EXE_LINKER_FLAGS=$linker_flags"

pack() {
  rm -f "$root"/build-package/tarnock_*.deb
  (cd "$root/build-package" && cpack -G DEB >/dev/null)
  ls "$root"/build-package/tarnock_*.deb
}

package=$(pack)
if ! $check; then
  mv "$package" "$root/"
  ls "$root"/tarnock_*.deb
  exit 0
fi

first=$(sha256sum <"$package")
second=$(sha256sum <"$(pack)")
if [ "$first" != "$second" ]; then
  echo "two packings of the same build differ"
  exit 1
fi
# Lintian's informational notes are shown; an error or a warning fails.
lintian --info --display-info --fail-on error,warning "$package"
echo "package check passed: $(basename "$package")"
