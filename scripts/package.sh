#!/usr/bin/env bash
# Builds the Debian package of Tarnock: a release build in build-package/,
# packed by CPack into tarnock_<version>_<arch>.deb in the source folder.
# Install it with sudo apt-get install ./tarnock_*.deb.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
"$root/scripts/setup.sh" --package build-package -DCMAKE_BUILD_TYPE=Release -DCMAKE_INSTALL_PREFIX=/usr \
  -DTARNOCK_TESTS=OFF -DTARNOCK_BENCH=OFF
cd "$root/build-package"
rm -f tarnock_*.deb
cpack -G DEB >/dev/null
mv tarnock_*.deb "$root/"
ls "$root"/tarnock_*.deb
