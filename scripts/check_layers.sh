#!/usr/bin/env bash
# Keeps the layers apart. The program's folders, lowest first, are base, net,
# capture, jobs, preview, ui and app: a file may include headers of its own folder and of the
# folders below it, never of one above. base/ holds the standard library only,
# so it includes no Qt header. Given a build folder, it also checks that the
# tests of the layers below the windows link no widget library.
#   check_layers.sh [build_dir]
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
layers=(base net capture jobs preview ui app)
failed=0

for index in "${!layers[@]}"; do
  above=("${layers[@]:index+1}")
  [ "${#above[@]}" -eq 0 ] && continue
  folder=${layers[index]}
  pattern="^[[:space:]]*#[[:space:]]*include[[:space:]]*\"($(IFS='|'; echo "${above[*]}"))/"
  if (cd "$root" && grep -nE "$pattern" "$folder"/*.h "$folder"/*.cpp); then
    echo "check_layers: the lines above include a header from a layer above $folder/" >&2
    failed=1
  fi
done

if (cd "$root" && grep -nE '^[[:space:]]*#[[:space:]]*include[[:space:]]*<Q' base/*.h base/*.cpp); then
  echo "check_layers: base/ includes Qt in the lines above; it holds the standard library only" >&2
  failed=1
fi

if [ $# -gt 0 ]; then
  for test in test_base test_net test_capture test_jobs test_preview; do
    binary=$root/$1/tests/$test
    if [ -e "$binary" ] && ldd "$binary" | grep -q 'libQt6Widgets'; then
      echo "check_layers: $test links the widget library" >&2
      failed=1
    fi
  done
fi
exit "$failed"
