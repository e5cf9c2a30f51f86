#!/usr/bin/env bash
# Soak of the real program: builds tarnock (release) and the soak driver,
# starts a copy of tarnock in a temporary folder with several ports, and has
# the driver send 100,000 connections (or the number given) of mixed sizes,
# some of them reset. Passes when every byte is in its port's files, the
# program's descriptors are back to where they started and its resident
# memory stayed flat. All traffic stays on 127.0.0.1; every wait is bounded.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
connections=${1:-100000}
port_count=4

"$root/scripts/setup.sh" build-soak -DCMAKE_BUILD_TYPE=Release -DTARNOCK_TESTS=OFF \
  -DTARNOCK_BENCH=OFF
cmake -S "$root/tests/soak" -B "$root/build-soak/driver" -G Ninja >/dev/null
cmake --build "$root/build-soak/driver"

# Whether something listens on the port (state 0A in the kernel's table).
listening_on() {
  local hex
  hex=$(printf '%04X' "$1")
  awk -v port=":$hex" 'FNR > 1 && $4 == "0A" && substr($2, length($2) - 4) == port { found = 1 }
                       END { exit !found }' /proc/net/tcp /proc/net/tcp6
}

work=$(mktemp -d)
program_pid=""
cleanup() {
  [ -n "$program_pid" ] && kill "$program_pid" 2>/dev/null && wait "$program_pid" 2>/dev/null
  rm -rf "$work"
}
trap cleanup EXIT

cp "$root/build-soak/tarnock" "$work/tarnock"
ports=()
{
  echo "[File]"
  echo "DeleteIfEmpty=1"
  echo "[Ports]"
  for _ in $(seq "$port_count"); do
    port=$((20000 + RANDOM % 20000))
    while listening_on "$port"; do port=$((20000 + RANDOM % 20000)); done
    ports+=("$port")
    echo "$port=$work/captures/$port,yymmddhhnnss,F,0,soak"
  done
} >"$work/tarnock.ini"

QT_QPA_PLATFORM=offscreen "$work/tarnock" >"$work/program.log" 2>&1 &
program_pid=$!
for _ in $(seq 300); do
  listening=0
  for port in "${ports[@]}"; do
    listening_on "$port" && listening=$((listening + 1))
  done
  [ "$listening" -eq "$port_count" ] && break
  sleep 0.1
done
[ "$listening" -eq "$port_count" ] || { echo "tarnock did not listen"; cat "$work/program.log"; exit 1; }

status=0
"$root/build-soak/driver/soak_driver" "$program_pid" "$connections" "$work/captures" "${ports[@]}" ||
  status=$?
kill -TERM "$program_pid"
wait "$program_pid" || { echo "tarnock did not end cleanly"; status=1; }
program_pid=""
exit "$status"
