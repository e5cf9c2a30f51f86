#!/usr/bin/env bash
# Builds the libFuzzer targets in fuzz/ with clang and runs each one for a
# bounded time: 5 seconds by default (the test command runs it so), or the
# number of seconds given, e.g. ./scripts/fuzz.sh 600 for a long run. A found
# crash stops the run with the target's report and exit status 1; the input
# that caused it is left in build-fuzz/.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
seconds=${1:-5}
build_dir=$root/build-fuzz
compiler=$(command -v clang++-14 || command -v clang++)

cmake -S "$root/fuzz" -B "$build_dir" -G Ninja -DCMAKE_CXX_COMPILER="$compiler" >/dev/null
cmake --build "$build_dir" -j"$(nproc)"

export ASAN_OPTIONS=detect_leaks=1:abort_on_error=0
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
for target in "$build_dir"/*_fuzzer; do
  name=$(basename "$target")
  # The corpus grows from run to run; the seeds stay as written.
  corpus=$build_dir/corpus/$name
  mkdir -p "$corpus"
  log=$build_dir/$name.log
  echo "fuzzing $name for ${seconds}s"
  status=0
  (cd "$build_dir" && "$target" -max_total_time="$seconds" -max_len=4096 -timeout=10 \
    -rss_limit_mb=2048 "$corpus" "$root/fuzz/seeds/$name" >"$log" 2>&1) || status=$?
  if [ "$status" -ne 0 ]; then
    tail -n 60 "$log"
    echo "$name failed (status $status); the input is in $build_dir"
    exit 1
  fi
  grep -E '^Done' "$log" || true
done
