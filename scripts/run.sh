#!/usr/bin/env bash
# Sets up, builds and starts Tarnock. The settings file tarnock.ini sits
# beside the executable, in build/.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
"$root/scripts/setup.sh" build -DCMAKE_BUILD_TYPE=Release -DTARNOCK_TESTS=OFF
exec "$root/build/tarnock" "$@"
