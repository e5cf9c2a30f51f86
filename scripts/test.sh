#!/usr/bin/env bash
# Sets up, builds with AddressSanitizer and UndefinedBehaviorSanitizer, checks
# the layering and the format, runs a short run of every fuzz target, builds
# and checks the Debian package, then runs every test (the test summary closes
# the output).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
"$root/scripts/setup.sh" --tests build-test -DCMAKE_BUILD_TYPE=Debug -DTARNOCK_SANITIZE=ON
# No header from a layer above, no Qt in base/, no widgets below the windows.
"$root/scripts/check_layers.sh" build-test
# A file that drifted from the tree's format fails the run.
"$root/scripts/format.sh" --check
# A few seconds of fuzzing per target; ./scripts/fuzz.sh 600 runs them longer.
"$root/scripts/fuzz.sh" 5
# The package as Debian would check it: no lintian error or warning, and the
# same bytes when packed again.
"$root/scripts/package.sh" --check
cd "$root/build-test"
ctest --output-on-failure -j"$(nproc)" --timeout 900
