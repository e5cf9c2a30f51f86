#!/usr/bin/env bash
# Installs what building and running need, builds the program alone (no
# tests, no benchmark tools) and starts it with the arguments given (e.g.
# -platform offscreen to run without a window). The settings file tarnock.ini
# sits beside the executable, in build/.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
"$root/scripts/setup.sh" build -DCMAKE_BUILD_TYPE=Release -DTARNOCK_TESTS=OFF -DTARNOCK_BENCH=OFF
exec "$root/build/tarnock" "$@"
