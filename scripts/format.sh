#!/usr/bin/env bash
# Formats every C++ file of the tree with its own .clang-format, or, with
# --check, changes nothing and fails when any file has drifted (the test
# command runs it so).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
formatter=$(command -v clang-format-14 || command -v clang-format)
cd "$root"
mapfile -t files < <(find app base bench capture fuzz jobs net preview tests ui \
                       -name '*.cpp' -o -name '*.h' | sort)
if [ "${1:-}" = "--check" ]; then
  "$formatter" --dry-run -Werror "${files[@]}"
else
  "$formatter" -i "${files[@]}"
fi
