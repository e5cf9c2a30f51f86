#!/usr/bin/env bash
# Runs every capture benchmark against Tarnock and the tools people use
# instead, side by side in one run, and prints a table of figures and ratios.
# All traffic stays on 127.0.0.1; every wait is bounded; every capture is
# checked byte for byte (size and checksum). Exits 1 when a byte check fails
# or a run hits a bound, 0 otherwise (a missed speed target is reported in
# the table, not as a failure).
#
# Sizes can be shrunk for a quick try, and a hot path re-measured alone, e.g.
#   BENCH_STREAM_MIB=64 BENCH_JOBS=500 BENCH_HOLD_LEVELS="200 1000" bench/run.sh
#   BENCH_ONLY="3" BENCH_HOLD_LEVELS="1000" bench/run.sh
# and the job options measured on an older build and this one in one run:
#   BENCH_ONLY=8 BENCH_BASELINE_BUILD_DIR=/path/to/older/release/build bench/run.sh
# and the status replies alone, with fewer queries:
#   BENCH_ONLY=9 BENCH_REPLY_QUERIES=500 bench/run.sh
# and a raw job beside an LPD job, smaller and more often:
#   BENCH_ONLY=10 BENCH_LPD_MIB=256 BENCH_LPD_ROUNDS=5 bench/run.sh
# and the job list's preview alone, with more rounds:
#   BENCH_ONLY=11 BENCH_PREVIEW_ROUNDS=9 bench/run.sh
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
build_dir=${BENCH_BUILD_DIR:-$root/build-bench}
build_jobs=${BENCH_BUILD_JOBS:-1}
stream_mib=${BENCH_STREAM_MIB:-512}
job_count=${BENCH_JOBS:-5000}
job_size=4096
hold_levels=${BENCH_HOLD_LEVELS:-1000 5000 15000}
hold_size=1024
hold_rounds=${BENCH_HOLD_SECONDS:-10}
only=${BENCH_ONLY:-1 2 3 4 5 6 7 8 9 10 11}
close_count=${BENCH_CLOSE_COUNT:-15000}
stream_count=${BENCH_STREAMS:-64}
streams_mib=${BENCH_STREAMS_MIB:-16}
probe_size=64
option_jobs=${BENCH_OPTION_JOBS:-1500}
option_job_bytes=${BENCH_OPTION_JOB_BYTES:-100}
option_clients=${BENCH_OPTION_CLIENTS:-1}
option_rounds=${BENCH_OPTION_ROUNDS:-3}
option_warm_jobs=100
baseline_dir=${BENCH_BASELINE_BUILD_DIR:-}
reply_queries=${BENCH_REPLY_QUERIES:-2000}
reply_raster_pace=${BENCH_REPLY_RASTER_MIBS:-100}
lpd_mib=${BENCH_LPD_MIB:-1024}
lpd_rounds=${BENCH_LPD_ROUNDS:-3}
preview_rounds=${BENCH_PREVIEW_ROUNDS:-5}
stream_bytes=$((stream_mib * 1024 * 1024))
clock_ticks=$(getconf CLK_TCK)

for scenario in $only; do
  case $scenario in
    [1-9] | 10 | 11) ;;
    *) echo "BENCH_ONLY takes scenario numbers 1 to 11, not '$scenario'" >&2; exit 2 ;;
  esac
done
for level in $hold_levels; do
  [[ $level =~ ^[1-9][0-9]*$ ]] || { echo "BENCH_HOLD_LEVELS takes connection counts, not '$level'" >&2; exit 2; }
done
# The targets for held connections speak of the largest level.
hold_top=$(tr ' ' '\n' <<<"$hold_levels" | sort -n | tail -1)
[[ $close_count =~ ^[1-9][0-9]*$ ]] || { echo "BENCH_CLOSE_COUNT takes a connection count, not '$close_count'" >&2; exit 2; }
for knob in BENCH_OPTION_JOBS:$option_jobs BENCH_OPTION_CLIENTS:$option_clients \
  BENCH_OPTION_ROUNDS:$option_rounds BENCH_REPLY_QUERIES:$reply_queries \
  BENCH_LPD_MIB:$lpd_mib BENCH_LPD_ROUNDS:$lpd_rounds BENCH_PREVIEW_ROUNDS:$preview_rounds; do
  [[ ${knob#*:} =~ ^[1-9][0-9]*$ ]] || { echo "${knob%%:*} takes a whole number above 0, not '${knob#*:}'" >&2; exit 2; }
done
# Every job is one self-describing block, which starts with a 12-byte header.
[[ $option_job_bytes =~ ^[1-9][0-9]*$ ]] && [ "$option_job_bytes" -ge 12 ] ||
  { echo "BENCH_OPTION_JOB_BYTES takes a byte count of at least 12, not '$option_job_bytes'" >&2; exit 2; }
[[ $reply_raster_pace =~ ^[0-9]+$ ]] ||
  { echo "BENCH_REPLY_RASTER_MIBS takes MiB a second (0: as fast as it goes), not '$reply_raster_pace'" >&2; exit 2; }
lpd_bytes=$((lpd_mib * 1024 * 1024))
if [ -n "$baseline_dir" ] && [ ! -x "$baseline_dir/tarnock" ]; then
  echo "BENCH_BASELINE_BUILD_DIR holds no tarnock to run: $baseline_dir/tarnock" >&2
  exit 2
fi

selected() {
  [[ " $(echo $only) " == *" $1 "* ]]
}

held_top=$hold_top
if selected 6 && [ "$close_count" -gt "$held_top" ]; then held_top=$close_count; fi

# ---------------------------------------------------------------- set-up

install_missing_tools() {
  local missing=() tool package
  for tool in socat:socat ncat:ncat /usr/bin/time:time; do
    package=${tool#*:}
    command -v "${tool%%:*}" >/dev/null 2>&1 || missing+=("$package")
  done
  [ ${#missing[@]} -eq 0 ] && return
  local sudo=""
  [ "$(id -u)" -ne 0 ] && sudo="sudo"
  $sudo apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}"
}

build_release() {
  cmake -S "$root" -B "$build_dir" -G Ninja -DCMAKE_BUILD_TYPE=Release \
    -DTARNOCK_TESTS=OFF -DTARNOCK_SANITIZE=OFF -DTARNOCK_BENCH=ON >/dev/null
  ninja -C "$build_dir" -j"$build_jobs" tarnock tarnock_load tarnock_responder >/dev/null
  # The preview's library is built only for the scenario that times it.
  if selected 11; then ninja -C "$build_dir" -j"$build_jobs" tarnock_preview_bench >/dev/null; fi
}

{ selected 1 || selected 2; } && install_missing_tools
build_release
load=$build_dir/bench/tarnock_load
responder=$build_dir/bench/tarnock_responder
# Where every run keeps its captures: a tmpfs here leaves out what the
# machine's disk charges for making a file.
work=$(mktemp -d "${BENCH_WORK_DIR:-/tmp}/tarnock-bench.XXXXXX")
started_pids=()
checks_failed=0

cleanup() {
  local pid
  for pid in "${started_pids[@]}"; do
    kill -TERM "$pid" 2>/dev/null || true
  done
  for pid in "${started_pids[@]}"; do
    wait "$pid" 2>/dev/null || true
  done
  rm -rf "$work"
}
trap cleanup EXIT
trap 'exit 130' INT TERM

# Up to 15,000 client sockets in the load generator and as many in the
# server under test; both raise their soft limit to this hard one as well.
ulimit -n "$(ulimit -Hn)"
if { selected 3 || selected 6; } && [ "$(ulimit -n)" != unlimited ] &&
  [ "$(ulimit -n)" -le $((held_top + 64)) ]; then
  echo "the descriptor limit $(ulimit -n) is too low for $held_top held connections" >&2
  exit 2
fi

# ---------------------------------------------------------------- helpers

port_in_use() {
  local hex
  hex=$(printf ':%04X ' "$1")
  # A dual-stack listener shows in the IPv6 table alone. grep reads the
  # tables itself: behind a pipe, its early exit on a match would fail the
  # pipeline once the tables are long (pipefail).
  grep -qh "$hex" /proc/net/tcp /proc/net/tcp6 2>/dev/null
}

# A port below the ephemeral range that nothing uses now.
free_port() {
  local attempt port
  for attempt in $(seq 1 200); do
    port=$((20000 + RANDOM % 12000))
    port_in_use "$port" || { echo "$port"; return; }
  done
  echo "no free port found" >&2
  return 1
}

wait_listening() {
  local port=$1 hex attempt
  hex=$(printf '00000000:%04X 00000000:0000 0A|0100007F:%04X 00000000:0000 0A' "$port" "$port")
  hex+=$(printf '|00000000000000000000000000000000:%04X 00000000000000000000000000000000:0000 0A' \
    "$port")
  for attempt in $(seq 1 200); do
    grep -Eqh "$hex" /proc/net/tcp /proc/net/tcp6 2>/dev/null && return 0
    sleep 0.05
  done
  echo "nothing listens on port $port after 10 s" >&2
  return 1
}

# Waits up to $2 seconds for process $1 to end, then ends it.
wait_exit() {
  local pid=$1 bound=$2 attempt
  for attempt in $(seq 1 $((bound * 20))); do
    kill -0 "$pid" 2>/dev/null || { wait "$pid" 2>/dev/null || true; return 0; }
    sleep 0.05
  done
  kill -KILL "$pid" 2>/dev/null || true
  wait "$pid" 2>/dev/null || true
}

stop_process() {
  kill -TERM "$1" 2>/dev/null || true
  wait_exit "$1" 10
}

cpu_ticks() {
  awk '{ print $14 + $15 }' "/proc/$1/stat"
}

# Starts Tarnock in its own folder with a settings file of "port=definition"
# lines; sets tarnock_pid. The binary comes from tarnock_build when that is
# set (an older build to compare with), else from this tree's build.
start_tarnock() {
  local folder=$1 line
  shift
  mkdir -p "$folder/app"
  cp "${tarnock_build:-$build_dir}/tarnock" "$folder/app/tarnock"
  {
    echo "[Ports]"
    for line in "$@"; do echo "$line"; done
    echo "[File]"
    echo "DeleteIfEmpty=1"
    # Job options for every Tarnock run, ";" between lines: IdleSeconds=60
    if [ -n "${BENCH_JOB_OPTIONS:-}" ]; then
      echo "[Jobs]"
      tr ';' '\n' <<<"$BENCH_JOB_OPTIONS"
      echo
    fi
    # Sections of the run's own, ";" between lines: [Port 9100];Replies=escpos
    if [ -n "${tarnock_sections:-}" ]; then tr ';' '\n' <<<"$tarnock_sections"; fi
  } >"$folder/app/tarnock.ini"
  if [ -n "${tarnock_display:-}" ]; then
    (cd "$folder/app" && DISPLAY=$tarnock_display exec ./tarnock >"$folder/tarnock.log" 2>&1) &
  else
    (cd "$folder/app" && QT_QPA_PLATFORM=offscreen exec ./tarnock >"$folder/tarnock.log" 2>&1) &
  fi
  tarnock_pid=$!
  started_pids+=("$tarnock_pid")
  for line in "$@"; do
    wait_listening "${line%%=*}" || {
      # What the program said is all there is to tell why.
      sed 's/^/  tarnock: /' "$folder/tarnock.log" >&2
      return 1
    }
  done
}

# Runs the load generator; its key=value lines go to file $1.
run_load() {
  local out=$1 status=0
  shift
  "$load" "$@" >"$out" 2>&1 || status=$?
  if [ "$status" -ne 0 ]; then
    checks_failed=1
    echo "FAILED: tarnock_load $1: $(grep -h '^problem=' "$out" | cut -d= -f2- || true)" >&2
    grep -h '_problem=' "$out" >&2 || true
  fi
  return 0
}

value() {
  grep -h "^$2=" "$1" | tail -1 | cut -d= -f2- || true
}

# Per GiB from seconds of CPU over the bytes moved.
per_gib() {
  awk -v s="$1" -v b="$2" 'BEGIN { if (s == "") print "-"; else printf "%.2f", s / (b / 1073741824) }'
}

ratio() {
  awk -v a="$1" -v b="$2" 'BEGIN { if (a == "" || b == "" || b + 0 == 0) print "-"; else printf "%.2fx", a / b }'
}

number() {
  awk -v a="$1" -v d="${2:-1}" 'BEGIN { if (a == "") print "-"; else printf "%.*f", d, a }'
}

declare -A result

# ---------------------------------------------------------------- scenario 1

stream_tarnock() {
  local folder=$work/stream-tarnock port t0 t1
  port=$(free_port)
  start_tarnock "$folder" "$port=$folder/captures,'stream',T,0,stream"
  mkdir -p "$folder/captures"
  t0=$(cpu_ticks "$tarnock_pid")
  run_load "$folder/out" stream --port "$port" --bytes "$stream_bytes" --file "$folder/captures/stream.txt"
  t1=$(cpu_ticks "$tarnock_pid")
  result[stream.tarnock.mibs]=$(value "$folder/out" mib_per_s)
  result[stream.tarnock.cpu]=$(awk -v d=$((t1 - t0)) -v h="$clock_ticks" 'BEGIN { print d / h }')
  result[stream.tarnock.check]=$(value "$folder/out" stream_checksum)
  stop_process "$tarnock_pid"
  rm -rf "$folder"
}

# Runs a peer that stores one stream into $folder/out.txt and ends after it.
stream_peer() {
  local name=$1 folder=$work/stream-$1 port pid
  shift
  port=$(free_port)
  mkdir -p "$folder"
  local file=$folder/out.txt
  case $name in
    socat) /usr/bin/time -f '%U %S' -o "$folder/time" \
             socat -u "TCP4-LISTEN:$port,reuseaddr,bind=127.0.0.1" "OPEN:$file,creat,trunc" & ;;
    socat-b131072) /usr/bin/time -f '%U %S' -o "$folder/time" \
             socat -b131072 -u "TCP4-LISTEN:$port,reuseaddr,bind=127.0.0.1" "OPEN:$file,creat,trunc" & ;;
    ncat) (exec /usr/bin/time -f '%U %S' -o "$folder/time" ncat -l --recv-only 127.0.0.1 "$port" >"$file") & ;;
  esac
  pid=$!
  started_pids+=("$pid")
  wait_listening "$port"
  run_load "$folder/out" stream --port "$port" --bytes "$stream_bytes" --file "$file"
  wait_exit "$pid" 30
  result[stream.$name.mibs]=$(value "$folder/out" mib_per_s)
  result[stream.$name.cpu]=$(awk '{ print $1 + $2 }' "$folder/time" 2>/dev/null || true)
  result[stream.$name.check]=$(value "$folder/out" stream_checksum)
  rm -rf "$folder"
}

# ---------------------------------------------------------------- scenario 2

# $2 names the run; a run named tarnock-afterjob has every job start a
# command that sleeps a second, which capturing must never wait for.
jobs_tarnock() {
  local clients=$1 name=${2:-tarnock} folder=$work/jobs-${2:-tarnock}-$1 port
  local options=${BENCH_JOB_OPTIONS:-}
  [ "$name" = tarnock-afterjob ] && options="AfterJob=sleep 1${options:+;$options}"
  port=$(free_port)
  # Seconds are the finest the pattern language resolves; append mode lets
  # every job of one second share its file.
  BENCH_JOB_OPTIONS=$options start_tarnock "$folder" "$port=$folder/captures,yyyymmdd-hhnnss,F,0,jobs"
  mkdir -p "$folder/captures"
  run_load "$folder/out" jobs --port "$port" --count "$job_count" --size "$job_size" \
    --clients "$clients" --dir "$folder/captures"
  result[jobs$clients.$name.rate]=$(value "$folder/out" connections_per_s)
  result[jobs$clients.$name.connect99]=$(value "$folder/out" connect_p99_ms)
  result[jobs$clients.$name.files]=$(value "$folder/out" jobs_files)
  result[jobs$clients.$name.retried]=$(value "$folder/out" connects_retried)
  stop_process "$tarnock_pid"
  rm -rf "$folder"
}

jobs_peer() {
  local name=$1 clients=$2 folder=$work/jobs-$1-$2 port pid
  port=$(free_port)
  mkdir -p "$folder/captures"
  local listen="TCP4-LISTEN:$port,reuseaddr,fork,bind=127.0.0.1"
  case $name in
    socat-dated) socat -u "$listen" \
                   SYSTEM:"cat >> $folder/captures/\$(date +%Y%m%d-%H%M%S-%N).txt" & ;;
    socat-append) socat -u "$listen" "OPEN:$folder/captures/all.txt,creat,append" & ;;
  esac
  pid=$!
  started_pids+=("$pid")
  wait_listening "$port"
  run_load "$folder/out" jobs --port "$port" --count "$job_count" --size "$job_size" \
    --clients "$clients" --dir "$folder/captures"
  stop_process "$pid"
  result[jobs$clients.$name.rate]=$(value "$folder/out" connections_per_s)
  result[jobs$clients.$name.connect99]=$(value "$folder/out" connect_p99_ms)
  result[jobs$clients.$name.files]=$(value "$folder/out" jobs_files)
  result[jobs$clients.$name.retried]=$(value "$folder/out" connects_retried)
  rm -rf "$folder"
}

# ---------------------------------------------------------------- scenario 3

# Holds $1 connections, each sending one block a second, spread over the
# second; meanwhile a probe every 100 ms goes to a second port.
hold_tarnock() {
  local count=$1 folder=$work/hold-tarnock-$1 port probe_port
  port=$(free_port)
  probe_port=$(free_port)
  start_tarnock "$folder" "$port=$folder/captures,yyyymmdd-hhnnss,F,0,hold" \
    "$probe_port=$folder/probes,'probe',F,0,probes"
  mkdir -p "$folder/captures" "$folder/probes"
  run_load "$folder/out" hold --port "$port" --count "$count" --size "$hold_size" \
    --rounds "$hold_rounds" --interval-ms 1000 --dir "$folder/captures" --pid "$tarnock_pid" \
    --timeout-s 180 --probe-port "$probe_port" --probe-file "$folder/probes/probe.txt" \
    --probe-size "$probe_size" --probe-interval-ms 100
  local key
  for key in held open_seconds server_cpu_percent load_cpu_percent kib_per_connection \
    rss_base_kib rss_peak_kib probes probe_p50_ms probe_p99_ms probe_max_ms; do
    result[hold$count.$key]=$(value "$folder/out" "$key")
  done
  stop_process "$tarnock_pid"
  rm -rf "$folder"
}

# ---------------------------------------------------------------- scenario 4

probe_tarnock() {
  local folder=$work/probe-tarnock stream_port probe_port
  stream_port=$(free_port)
  probe_port=$(free_port)
  start_tarnock "$folder" "$stream_port=$folder/stream,'stream',T,0,stream" \
    "$probe_port=$folder/probes,'probe',F,0,probes"
  mkdir -p "$folder/stream" "$folder/probes"
  run_load "$folder/out" stream --port "$stream_port" --bytes "$stream_bytes" \
    --file "$folder/stream/stream.txt" --probe-port "$probe_port" \
    --probe-file "$folder/probes/probe.txt" --probe-size "$probe_size" --probe-interval-ms 100
  result[probe.count]=$(value "$folder/out" probes)
  result[probe.p50]=$(value "$folder/out" probe_p50_ms)
  result[probe.p99]=$(value "$folder/out" probe_p99_ms)
  result[probe.max]=$(value "$folder/out" probe_max_ms)
  result[probe.mibs]=$(value "$folder/out" mib_per_s)
  stop_process "$tarnock_pid"
  rm -rf "$folder"
}

# ---------------------------------------------------------------- scenario 6

# A private X server with a window manager, for the run under X; sets
# tarnock_display, or leaves it empty when Xvfb or openbox is missing.
start_x_display() {
  tarnock_display=""
  command -v Xvfb >/dev/null 2>&1 && command -v openbox >/dev/null 2>&1 || return 0
  local number attempt
  for number in $(seq 90 140); do
    [ -e "/tmp/.X11-unix/X$number" ] || [ -e "/tmp/.X$number-lock" ] || break
  done
  Xvfb ":$number" -screen 0 1280x1024x24 -nolisten tcp >/dev/null 2>&1 &
  started_pids+=("$!")
  x_server_pid=$!
  for attempt in $(seq 1 100); do
    [ -e "/tmp/.X11-unix/X$number" ] && break
    sleep 0.05
  done
  DISPLAY=":$number" openbox >/dev/null 2>&1 &
  started_pids+=("$!")
  x_manager_pid=$!
  sleep 0.5
  tarnock_display=":$number"
}

stop_x_display() {
  [ -n "${tarnock_display:-}" ] || return 0
  stop_process "$x_manager_pid"
  stop_process "$x_server_pid"
  tarnock_display=""
}

# $close_count connections, each of which has sent one block and had it
# stored, end at the same moment; the figure runs from the first end until
# the server has closed every one of them. $1 names the run (offscreen, x).
close_tarnock() {
  local name=$1 folder=$work/close-tarnock-$1 port
  port=$(free_port)
  start_tarnock "$folder" "$port=$folder/captures,yyyymmdd-hhnnss,F,0,close"
  mkdir -p "$folder/captures"
  run_load "$folder/out" hold --port "$port" --count "$close_count" --size "$hold_size" \
    --rounds 1 --interval-ms 1000 --dir "$folder/captures" --pid "$tarnock_pid" \
    --timeout-s 180 --settle-before-close 1
  result[close.$name.seconds]=$(value "$folder/out" close_seconds)
  result[close.$name.cpu]=$(value "$folder/out" close_cpu_seconds)
  result[close.$name.held]=$(value "$folder/out" held)
  stop_process "$tarnock_pid"
  rm -rf "$folder"
}

# ---------------------------------------------------------------- scenario 7

# $stream_count streams at once, each to a port of its own, and a probe every
# 20 ms to one more port: how long a new job waits behind the streams tells
# the longest event-loop turn.
many_streams_tarnock() {
  local folder=$work/streams-tarnock lines=() ports=() i port probe_port pids=() t0 t1
  for i in $(seq 1 "$stream_count"); do
    # Nothing listens on the ports picked so far yet: a repeat must be
    # caught here.
    port=$(free_port)
    while [[ " ${ports[*]} " == *" $port "* ]]; do port=$(free_port); done
    ports+=("$port")
    lines+=("$port=$folder/s$i,'stream',T,0,s$i")
    mkdir -p "$folder/s$i"
  done
  probe_port=$(free_port)
  while [[ " ${ports[*]} " == *" $probe_port "* ]]; do probe_port=$(free_port); done
  mkdir -p "$folder/probes"
  start_tarnock "$folder" "${lines[@]}" "$probe_port=$folder/probes,'probe',F,0,probes"
  t0=$(date +%s.%N)
  # Every sender is a process of its own, the probe's included, so the waits
  # measured also hold the time the probe's sender waits for a core.
  for i in $(seq 2 "$stream_count"); do
    "$load" stream --port "${ports[$((i - 1))]}" --bytes $((streams_mib * 1048576)) \
      --file "$folder/s$i/stream.txt" >"$folder/out$i" 2>&1 &
    pids+=($!)
  done
  run_load "$folder/out1" stream --port "${ports[0]}" --bytes $((streams_mib * 1048576)) \
    --file "$folder/s1/stream.txt" --probe-port "$probe_port" \
    --probe-file "$folder/probes/probe.txt" --probe-size "$probe_size" --probe-interval-ms 20
  for i in "${pids[@]}"; do wait "$i" || true; done
  t1=$(date +%s.%N)
  for i in $(seq 2 "$stream_count"); do
    grep -q '^stream_checksum=' "$folder/out$i" || { checks_failed=1; echo "FAILED: stream $i" >&2; }
  done
  result[streams.mibs]=$(awk -v n="$stream_count" -v m="$streams_mib" -v a="$t0" -v b="$t1" \
    'BEGIN { printf "%.1f", n * m / (b - a) }')
  result[streams.count]=$(value "$folder/out1" probes)
  result[streams.p50]=$(value "$folder/out1" probe_p50_ms)
  result[streams.p99]=$(value "$folder/out1" probe_p99_ms)
  result[streams.max]=$(value "$folder/out1" probe_max_ms)
  stop_process "$tarnock_pid"
  rm -rf "$folder"
}

# ---------------------------------------------------------------- scenario 8

# The rows of scenario 8: each job option alone, then all of them together,
# against none. Every value is one that never triggers here: the senders are
# 127.0.0.1, no job comes near the size limit, and none stays idle a minute.
option_rows="off one-file index senders all"
declare -A option_lines=(
  [off]=""
  [one-file]="OneFilePerJob=1"
  [index]="JobIndex=1"
  [senders]="AllowedSenders=127.0.0.0/8"
  [all]="OneFilePerJob=1;JobIndex=1;AllowedSenders=127.0.0.0/8;MaxJobBytes=1000000;IdleSeconds=60"
)
declare -A option_titles=(
  [off]="off" [one-file]="OneFilePerJob=1" [index]="JobIndex=1"
  [senders]="AllowedSenders=127.0.0.0/8" [all]="all together"
)

# The builds scenario 8 compares: this tree's, and the baseline when given.
option_builds() {
  if [ -n "$baseline_dir" ]; then echo "before after"; else echo "after"; fi
}

# One run of row $1 on build $2 (before or after) in round $3: a fresh
# Tarnock and a fresh folder, so no run inherits another's files.
options_tarnock() {
  local name=$1 which=$2 round=$3 folder=$work/options-$1-$2-$3 port warm_port build=$build_dir median_ms
  local lines=${option_lines[$1]}
  [ "$which" = before ] && build=$baseline_dir
  port=$(free_port)
  warm_port=$(free_port)
  while [ "$warm_port" = "$port" ]; do warm_port=$(free_port); done
  BENCH_JOB_OPTIONS=$lines tarnock_build=$build \
    start_tarnock "$folder" "$port=$folder/captures,yyyymmdd-hhnnss,F,0,options" \
    "$warm_port=$folder/warm,yyyymmdd-hhnnss,F,0,warm"
  mkdir -p "$folder/captures" "$folder/warm"
  # What a fresh process does once (the first log lines lay out text, the
  # first file opens its folder) is paid on a port of its own first; with a
  # run of a fraction of a second it would otherwise be a sizeable share.
  run_load "$folder/warm-out" jobs --port "$warm_port" --count "$option_warm_jobs" \
    --size "$option_job_bytes" --clients "$option_clients" --dir "$folder/warm"
  run_load "$folder/out" jobs --port "$port" --count "$option_jobs" --size "$option_job_bytes" \
    --clients "$option_clients" --dir "$folder/captures"
  result[options.$which.$name.$round]=$(value "$folder/out" connections_per_s)
  # The median job in microseconds, and the jobs a second at its pace, whose
  # shares read like those of jobs/s. On a busy machine it moves far less
  # than the total: a stall for another process lengthens a few jobs, and
  # the total by all of them, but not the middle job.
  median_ms=$(value "$folder/out" job_p50_ms)
  result[options.$which.$name.$round.p50]=$(awk -v m="$median_ms" 'BEGIN { if (m != "") printf "%.3f", m * 1000 }')
  result[options.$which.$name.$round.p50rate]=$(awk -v m="$median_ms" 'BEGIN { if (m + 0 > 0) printf "%.3f", 1000 / m }')
  stop_process "$tarnock_pid"
  check_options_took_effect "$folder" "$lines" "$which $name round $round"
  rm -rf "$folder"
}

# A row measures nothing if its options were not read: one file per job
# means a file per job, and the index holds its header and a line per job.
check_options_took_effect() {
  local folder=$1 lines=$2 what=$3 files index_lines
  files=$(value "$folder/out" jobs_files)
  if [[ ";$lines;" == *";OneFilePerJob=1;"* ]] && [ "$files" != "$option_jobs" ]; then
    checks_failed=1
    echo "FAILED: scenario 8 $what: $files capture files for $option_jobs jobs" >&2
  fi
  [[ ";$lines;" == *";JobIndex=1;"* ]] || return 0
  index_lines=$(wc -l <"$folder/captures/jobs.csv" 2>/dev/null || echo 0)
  if [ "$index_lines" != $((option_jobs + 1)) ]; then
    checks_failed=1
    echo "FAILED: scenario 8 $what: jobs.csv has $index_lines lines for $option_jobs jobs" >&2
  fi
}

# Round r runs every row in turn, so each row's share of "off" compares runs
# seconds apart; with a baseline, both builds run each row back to
# back, the first of the two alternating between rounds.
options_rounds() {
  local round name which builds
  for round in $(seq 1 "$option_rounds"); do
    builds=$(option_builds)
    [ $((round % 2)) -eq 0 ] && builds=$(tr ' ' '\n' <<<"$builds" | tac | tr '\n' ' ')
    for name in $option_rows; do
      for which in $builds; do options_tarnock "$name" "$which" "$round"; done
    done
  done
}

median() {
  tr ' ' '\n' <<<"$*" | grep -v '^$' | sort -g | awk '{ v[NR] = $1 }
    END { if (NR == 0) print ""; else if (NR % 2) print v[(NR + 1) / 2];
          else print (v[NR / 2] + v[NR / 2 + 1]) / 2 }'
}

# Per-round quotients of result keys: $1 and $2 are key patterns with R for
# the round, e.g. options.after.index.R over options.after.off.R; $3 the
# rounds (scenario 8's unless given).
round_quotients() {
  local round a b
  for round in $(seq 1 "${3:-$option_rounds}"); do
    a=${result[${1//R/$round}]:-}
    b=${result[${2//R/$round}]:-}
    awk -v a="$a" -v b="$b" 'BEGIN { if (a != "" && b != "" && b + 0 != 0) printf "%.4f ", a / b }'
  done
}

times() {
  awk -v a="$1" 'BEGIN { if (a == "") print "-"; else printf "%.2fx", a }'
}

# Median of figure $3 (empty: jobs/s; .p50: the median job; .p50rate: jobs/s
# at its pace) of row $2 on build $1, and of its share of "off" in the same
# round.
options_median() {
  local round values=()
  for round in $(seq 1 "$option_rounds"); do values+=("${result[options.$1.$2.$round$3]:-}"); done
  median "${values[@]}"
}
options_share() {
  median "$(round_quotients "options.$1.$2.R${3:-}" "options.$1.off.R${3:-}")"
}

# ---------------------------------------------------------------- scenario 9

# Status queries (DLE EOT 1) one at a time on one connection, each timed from
# the call that sends it until the one-byte reply has arrived: row "alone", and
# row "raster" while a raster stream flows on a second connection to the same
# port. Tarnock answers with the receipt-printer profile on its port and one
# file per job, so that each connection's capture is checked on its own; the
# responder beside it stores nothing.
reply_rows="alone raster"
declare -A reply_titles=([alone]="alone" [raster]="beside a raster stream")

reply_row_options() {
  if [ "$1" = raster ]; then echo "--raster 1 --raster-mib-per-s $reply_raster_pace"; else echo "--raster 0"; fi
}

reply_tarnock() {
  local row=$1 folder=$work/reply-tarnock-$1 port
  port=$(free_port)
  tarnock_sections="[Port $port];Replies=escpos;OneFilePerJob=1" \
    start_tarnock "$folder" "$port=$folder/captures,'reply',F,0,replies"
  mkdir -p "$folder/captures"
  # shellcheck disable=SC2046 # the row's options are words of their own
  run_load "$folder/out" reply --port "$port" --queries "$reply_queries" \
    $(reply_row_options "$row") --dir "$folder/captures"
  reply_results tarnock "$row" "$folder/out"
  stop_process "$tarnock_pid"
  rm -rf "$folder"
}

reply_responder() {
  local row=$1 folder=$work/reply-responder-$1 port pid
  port=$(free_port)
  mkdir -p "$folder"
  "$responder" --port "$port" 2>"$folder/responder.log" &
  pid=$!
  started_pids+=("$pid")
  wait_listening "$port"
  # shellcheck disable=SC2046
  run_load "$folder/out" reply --port "$port" --queries "$reply_queries" $(reply_row_options "$row")
  reply_results responder "$row" "$folder/out"
  stop_process "$pid"
  rm -rf "$folder"
}

reply_results() {
  local key
  for key in replies_timed unanswered_query reply_timeout_ms reply_p50_us reply_p99_us \
    reply_max_us raster_mib raster_mib_per_s raster_reply_bytes; do
    result[reply.$1.$2.$key]=$(value "$3" "$key")
  done
}

# Tarnock's p99 in ms for the targets, or "no reply" when it left a query
# unanswered.
reply_p99_ms() {
  if [ -n "${result[reply.tarnock.$1.unanswered_query]:-}" ]; then echo "no reply"; return; fi
  awk -v u="${result[reply.tarnock.$1.reply_p99_us]:-}" 'BEGIN { if (u != "") printf "%.3f", u / 1000 }'
}

# ---------------------------------------------------------------- scenario 10

# One Tarnock with a raw port and an LPD port, captures of their own; each
# round sends one job of $lpd_mib MiB to each, one after the other, the
# first of the two alternating between rounds, so that neither always meets
# the page cache the other left. The captures keep fixed names (no One File
# per Job) and are removed once checked, so each job's file is known and the
# disk holds one job at a time.
lpd_tarnock() {
  local folder=$work/lpd-tarnock raw_port lpd_port port round order which
  raw_port=$(free_port)
  lpd_port=$(free_port)
  while [ "$lpd_port" = "$raw_port" ]; do lpd_port=$(free_port); done
  tarnock_sections="[Port $lpd_port];Protocol=lpd" start_tarnock "$folder" \
    "$raw_port=$folder/raw,'raw',T,0,raw" "$lpd_port=$folder/lpd,'lpd',T,0,lpd"
  mkdir -p "$folder/raw" "$folder/lpd"
  for round in $(seq 1 "$lpd_rounds"); do
    order="raw lpd"
    [ $((round % 2)) -eq 0 ] && order="lpd raw"
    for which in $order; do
      if [ "$which" = raw ]; then port=$raw_port; else port=$lpd_port; fi
      lpd_round_job "$folder" "$which" "$round" "$port"
    done
  done
  stop_process "$tarnock_pid"
  rm -rf "$folder"
}

# One job of round $3 to port $4: raw as scenario 1 sends its stream (from
# the connect until the server has closed and the file holds every byte),
# lpd as a line printer client (until the data file's acknowledgement, and
# beside it until the file holds every byte). Tarnock's CPU over the job.
lpd_round_job() {
  local folder=$1 which=$2 round=$3 port=$4 out=$1/out-$2-$3 file=$1/$2/$2.txt t0 t1
  t0=$(cpu_ticks "$tarnock_pid")
  if [ "$which" = raw ]; then
    run_load "$out" stream --port "$port" --bytes "$lpd_bytes" --file "$file"
  else
    run_load "$out" lpd --port "$port" --bytes "$lpd_bytes" --file "$file"
  fi
  t1=$(cpu_ticks "$tarnock_pid")
  result[lpd.$which.$round]=$(value "$out" mib_per_s)
  result[lpd.$which.$round.complete]=$(value "$out" complete_mib_per_s)
  result[lpd.$which.$round.cpu]=$(awk -v d=$((t1 - t0)) -v h="$clock_ticks" 'BEGIN { print d / h }')
  rm -f "$file"
}

# Median over the rounds of key suffix $2 (empty: MiB/s) of job $1.
lpd_median() {
  local round values=()
  for round in $(seq 1 "$lpd_rounds"); do values+=("${result[lpd.$1.$round${2:-}]:-}"); done
  median "${values[@]}"
}

# ------------------------------------------- what storage costs by itself

storage_floor() {
  local name=$1 chunk=$2 write_size=$3 reopen=$4 folder=$work/floor
  mkdir -p "$folder"
  run_load "$folder/out-$name" floor --bytes "$stream_bytes" --file "$folder/floor.txt" \
    --chunk "$chunk" --write-size "$write_size" --reopen "$reopen"
  result[floor.$name.mibs]=$(value "$folder/out-$name" mib_per_s)
  result[floor.$name.cpu]=$(value "$folder/out-$name" cpu_s_per_gib)
  rm -f "$folder/floor.txt"
}

# ---------------------------------------------------------------- the run

floor_names="1024-128-reopen 1024-1024-reopen 1024-1024-open 65536-65536-reopen 65536-65536-open 262144-262144-reopen"

# ---------------------------------------------------------------- scenario 11

# The job list's preview, in a process of its own that times both sides
# (see tarnock_preview_bench): its key=value lines become preview.* results.
preview_bench() {
  local out=$work/preview.out status=0 line
  QT_QPA_PLATFORM=offscreen "$build_dir/bench/tarnock_preview_bench" --dir "$work" \
    --rounds "$preview_rounds" >"$out" 2>"$work/preview.err" || status=$?
  if [ "$status" -ne 0 ]; then
    checks_failed=1
    echo "FAILED: tarnock_preview_bench: $(grep -h '^problem=' "$out" | cut -d= -f2- || true)" >&2
    sed 's/^/  tarnock_preview_bench: /' "$work/preview.err" >&2
  fi
  while IFS= read -r line; do
    [[ $line == *=* ]] && result[preview.${line%%=*}]=${line#*=}
  done <"$out"
  rm -f "$out" "$work/preview.err"
}

if selected 1; then
  echo "Scenario 1: one stream of $stream_mib MiB" >&2
  stream_tarnock
  for peer in socat socat-b131072 ncat; do stream_peer "$peer"; done
fi
if selected 2; then
  echo "Scenario 2: $job_count jobs of $job_size bytes" >&2
  for clients in 1 8; do
    jobs_tarnock "$clients"
    jobs_tarnock "$clients" tarnock-afterjob
    jobs_peer socat-dated "$clients"
    jobs_peer socat-append "$clients"
  done
fi
if selected 3; then
  for level in $hold_levels; do
    echo "Scenario 3: $level connections held open for $hold_rounds s" >&2
    hold_tarnock "$level"
  done
fi
if selected 4; then
  echo "Scenario 4: probes while a stream runs" >&2
  probe_tarnock
fi
if selected 6; then
  echo "Scenario 6: $close_count connections ending at once" >&2
  close_tarnock offscreen
  start_x_display
  if [ -n "$tarnock_display" ]; then
    close_tarnock x
    stop_x_display
  fi
fi
if selected 7; then
  echo "Scenario 7: $stream_count streams of $streams_mib MiB at once" >&2
  many_streams_tarnock
fi
if selected 8; then
  echo "Scenario 8: job options, $option_rounds rounds of $option_jobs jobs per row and build ($(option_builds))" >&2
  options_rounds
fi
if selected 9; then
  echo "Scenario 9: $reply_queries status queries per row and tool" >&2
  for row in $reply_rows; do
    reply_tarnock "$row"
    reply_responder "$row"
  done
fi
if selected 10; then
  echo "Scenario 10: a raw job and an LPD job of $lpd_mib MiB, $lpd_rounds rounds" >&2
  lpd_tarnock
fi
if selected 11; then
  echo "Scenario 11: the job list's preview beside xxd, grep and gs, $preview_rounds rounds" >&2
  preview_bench
fi
if selected 5; then
  echo "Scenario 5: storage alone, in the pieces the capture rules prescribe" >&2
  for name in $floor_names; do
    IFS=- read -r chunk write_size open_mode <<<"$name"
    storage_floor "$name" "$chunk" "$write_size" "$([ "$open_mode" = reopen ] && echo 1 || echo 0)"
  done
fi

# ---------------------------------------------------------------- the table

row() { printf '%-34s %-22s %12s %12s %14s\n' "$@"; }

stream_rows() {
  row "1 one stream, $stream_mib MiB (MiB/s)" "tarnock" "$(number "${result[stream.tarnock.mibs]:-}")" \
    "$(per_gib "${result[stream.tarnock.cpu]:-}" "$stream_bytes")" \
    "$(ratio "${result[stream.tarnock.mibs]:-}" "${result[stream.socat.mibs]:-}")"
  local peer
  for peer in socat socat-b131072 ncat; do
    row "" "$peer" "$(number "${result[stream.$peer.mibs]:-}")" \
      "$(per_gib "${result[stream.$peer.cpu]:-}" "$stream_bytes")" \
      "$(ratio "${result[stream.$peer.mibs]:-}" "${result[stream.socat.mibs]:-}")"
  done
}

jobs_rows() {
  local clients peer
  for clients in 1 8; do
    row "2 $job_count jobs, $clients at a time (conn/s)" "tarnock" \
      "$(number "${result[jobs$clients.tarnock.rate]:-}")" "" \
      "$(ratio "${result[jobs$clients.tarnock.rate]:-}" "${result[jobs$clients.socat-dated.rate]:-}")"
    row "  (after-job: sleep 1)" "tarnock" "$(number "${result[jobs$clients.tarnock-afterjob.rate]:-}")" "" \
      "$(ratio "${result[jobs$clients.tarnock-afterjob.rate]:-}" "${result[jobs$clients.socat-dated.rate]:-}")"
    for peer in socat-dated socat-append; do
      row "" "$peer" "$(number "${result[jobs$clients.$peer.rate]:-}")" "" \
        "$(ratio "${result[jobs$clients.$peer.rate]:-}" "${result[jobs$clients.socat-dated.rate]:-}")"
    done
  done
}

hold_rows() {
  local level
  for level in $hold_levels; do
    row "3 $level open, 1 KiB/s each" "CPU % of one core" "$(number "${result[hold$level.server_cpu_percent]:-}")" "" ""
    row "  (tarnock, ${result[hold$level.held]:-0} held)" "seconds to open all" "$(number "${result[hold$level.open_seconds]:-}" 2)" "" ""
    row "" "KiB resident per conn" "$(number "${result[hold$level.kib_per_connection]:-}" 2)" "" ""
    row "  (${result[hold$level.probes]:-0} new jobs)" "new job p50 (ms)" "$(number "${result[hold$level.probe_p50_ms]:-}" 2)" "" ""
    row "" "new job p99 (ms)" "$(number "${result[hold$level.probe_p99_ms]:-}" 2)" "" ""
  done
}

probe_rows() {
  row "4 probe while streaming (ms)" "tarnock p50" "$(number "${result[probe.p50]:-}" 2)" "" ""
  row "  (${result[probe.count]:-0} probes)" "tarnock p99" "$(number "${result[probe.p99]:-}" 2)" "" ""
  row "  (stream MiB/s meanwhile)" "tarnock" "$(number "${result[probe.mibs]:-}")" "" ""
}

streams_rows() {
  row "7 $stream_count streams at once (ms)" "new job p50" "$(number "${result[streams.p50]:-}" 2)" "" ""
  row "  (${result[streams.count]:-0} new jobs)" "new job p99" "$(number "${result[streams.p99]:-}" 2)" "" ""
  row "" "new job max" "$(number "${result[streams.max]:-}" 2)" "" ""
  row "  (all streams, MiB/s)" "tarnock" "$(number "${result[streams.mibs]:-}")" "" ""
}

floor_rows() {
  local name
  for name in $floor_names; do
    row "5 storage alone (MiB/s)" "$name" "$(number "${result[floor.$name.mibs]:-}")" \
      "$(number "${result[floor.$name.cpu]:-}" 2)" ""
  done
}

# The LPD row's share is the median of the rounds' quotients, each over the
# raw job of its own round; raw's file complete is the end both rows share.
lpd_rows() {
  local lpd_share complete_share
  lpd_share=$(median "$(round_quotients lpd.lpd.R lpd.raw.R "$lpd_rounds")")
  complete_share=$(median "$(round_quotients lpd.lpd.R.complete lpd.raw.R "$lpd_rounds")")
  row "10 one $lpd_mib MiB job (MiB/s)" "raw to file complete" "$(number "$(lpd_median raw)")" \
    "$(per_gib "$(lpd_median raw .cpu)" "$lpd_bytes")" "1.00x"
  row "  (vs raw; medians of $lpd_rounds rounds)" "lpd to last ack" "$(number "$(lpd_median lpd)")" \
    "$(per_gib "$(lpd_median lpd .cpu)" "$lpd_bytes")" "$(times "$lpd_share")"
  row "" "lpd to file complete" "$(number "$(lpd_median lpd .complete)")" "" \
    "$(times "$complete_share")"
}

# Scenario 11: times in ms (memory in MB); the last column is ours over the
# peer's, so below 1.00x is faster.
preview_rows() {
  local p=preview
  if [ -n "${result[$p.open.ours_warm_ms]:-}" ]; then
    row "11 ${result[$p.open.capture_mib]} MiB capture (ms)" "tarnock, cached" \
      "$(number "${result[$p.open.ours_warm_ms]}" 3)" "" \
      "$(ratio "${result[$p.open.ours_warm_ms]}" "${result[$p.open.peer_warm_ms]:-}")"
    row "  (to the first 60 hex lines)" "${result[$p.open.peer]}, cached" "$(number "${result[$p.open.peer_warm_ms]:-}" 3)" "" "1.00x"
    row "  (${result[$p.open.capture]} bytes)" "tarnock, from disk" \
      "$(number "${result[$p.open.ours_cold_ms]:-}" 3)" "" \
      "$(ratio "${result[$p.open.ours_cold_ms]:-}" "${result[$p.open.peer_cold_ms]:-}")"
    row "" "${result[$p.open.peer]}, from disk" "$(number "${result[$p.open.peer_cold_ms]:-}" 3)" "" "1.00x"
  fi
  if [ -n "${result[$p.filter.ours_median_ms]:-}" ]; then
    row "11 filter, $(number "${result[$p.filter.rows]}" 0) jobs (ms/key)" "tarnock median" \
      "$(number "${result[$p.filter.ours_median_ms]}" 2)" "" \
      "$(ratio "${result[$p.filter.ours_median_ms]}" "${result[$p.filter.peer_median_ms]:-}")"
    row "  (typing 192.0.2.17)" "tarnock worst key" "$(number "${result[$p.filter.ours_worst_ms]:-}" 2)" "" \
      "$(ratio "${result[$p.filter.ours_worst_ms]:-}" "${result[$p.filter.peer_worst_ms]:-}")"
    row "" "grep -ciF median" "$(number "${result[$p.filter.peer_median_ms]:-}" 2)" "" "1.00x"
    row "" "grep -ciF worst key" "$(number "${result[$p.filter.peer_worst_ms]:-}" 2)" "" "1.00x"
  fi
  if [ -n "${result[$p.render.skipped]:-}" ]; then
    row "11 ${result[$p.render.skipped]}: no PostScript row" "" "" "" ""
  elif [ -n "${result[$p.render.ours_ms]:-}" ]; then
    row "11 ${result[$p.render.pages]}-page PostScript (ms)" "renderer, page 1 first" \
      "$(number "${result[$p.render.first_page_ms]:-}")" "" \
      "$(ratio "${result[$p.render.first_page_ms]:-}" "${result[$p.render.peer_ms]:-}")"
    row "  (to its first page)" "renderer, all pages" "$(number "${result[$p.render.ours_ms]}")" "" \
      "$(ratio "${result[$p.render.ours_ms]}" "${result[$p.render.peer_ms]:-}")"
    row "" "  its page 1 written" "$(number "${result[$p.render.ours_first_file_ms]:-}")" "" \
      "$(ratio "${result[$p.render.ours_first_file_ms]:-}" "${result[$p.render.peer_ms]:-}")"
    row "" "gs first page alone" "$(number "${result[$p.render.peer_ms]:-}")" "" "1.00x"
    row "" "gs all pages" "$(number "${result[$p.render.peer_all_ms]:-}")" "" \
      "$(ratio "${result[$p.render.peer_all_ms]:-}" "${result[$p.render.peer_ms]:-}")"
  fi
  if [ -n "${result[$p.memory.growth_mb]:-}" ]; then
    row "11 memory, ${result[$p.memory.capture_mib]} MiB capture (MB)" "tarnock idle" \
      "$(number "$(awk -v k="${result[$p.memory.idle_kib]}" 'BEGIN { print k / 1024 }')")" "" ""
    row "  (50 hex pages, text at the end)" "tarnock with it open" \
      "$(number "$(awk -v k="${result[$p.memory.after_kib]}" 'BEGIN { print k / 1024 }')")" "" ""
    row "" "tarnock growth" "$(number "${result[$p.memory.growth_mb]}")" "" ""
  fi
}

close_rows() {
  row "6 $close_count end at once (s)" "tarnock offscreen" "$(number "${result[close.offscreen.seconds]:-}" 3)" "" ""
  row "  (${result[close.offscreen.held]:-0} held)" "tarnock under X" "$(number "${result[close.x.seconds]:-}" 3)" "" ""
  row "  (CPU s of tarnock)" "offscreen / under X" \
    "$(number "${result[close.offscreen.cpu]:-}" 2) / $(number "${result[close.x.cpu]:-}" 2)" "" ""
}

# Scenario 8 has its own columns: per build a figure and its share of "off".
# $1 is the figure's key suffix (empty: jobs/s, .p50: the median job), $2
# its unit, $3 the suffix whose shares are shown.
options_block() {
  local suffix=$1 unit=$2 share_suffix=$3 name which line
  line=$(printf '%-28s' "Options on")
  for which in $(option_builds); do line+=$(printf ' %16s %7s' "$which $unit" "vs off"); done
  [ -n "$baseline_dir" ] && line+=$(printf ' %13s' "after/before")
  echo "$line"
  for name in $option_rows; do
    line=$(printf '%-28s' "${option_titles[$name]}")
    for which in $(option_builds); do
      line+=$(printf ' %16s %7s' "$(number "$(options_median "$which" "$name" "$suffix")")" \
        "$(times "$(options_share "$which" "$name" "$share_suffix")")")
    done
    [ -n "$baseline_dir" ] && line+=$(printf ' %13s' "$(times "$(median "$(round_quotients \
      "options.after.$name.R$share_suffix" "options.before.$name.R$share_suffix")")")")
    echo "$line"
  done
}

options_table() {
  echo
  echo "8 job options: $option_jobs jobs of $option_job_bytes bytes, $option_clients at a time;" \
    "medians of $option_rounds rounds; a share of off compares runs of the same round"
  options_block "" "jobs/s" ""
  echo "  the median job, from connect until Tarnock closed it (share of off: off's over the row's):"
  options_block .p50 "job us" .p50rate
}

# Scenario 9 has its own columns: per row and tool the reply times, and
# Tarnock's p99 over the responder's.
reply_table() {
  local row tool key p99_key title
  echo
  echo "9 status replies: DLE EOT 1 answered with one byte; $reply_queries queries one at a time on one"
  echo "  connection, after 20 untimed; microseconds from the call that sends a query until its reply arrived"
  printf '%-28s %-10s %10s %10s %10s %17s\n' "Row" "Tool" "p50 us" "p99 us" "max us" "p99 vs responder"
  for row in $reply_rows; do
    title=${reply_titles[$row]}
    for tool in tarnock responder; do
      key=reply.$tool.$row
      if [ -n "${result[$key.unanswered_query]:-}" ]; then
        printf '%-28s %-10s %s\n' "$title" "$tool" \
          "no reply (none to query ${result[$key.unanswered_query]} within ${result[$key.reply_timeout_ms]} ms)"
        title=""
        continue
      fi
      p99_key=reply.responder.$row.reply_p99_us
      printf '%-28s %-10s %10s %10s %10s %17s\n' "$title" "$tool" \
        "$(number "${result[$key.reply_p50_us]:-}")" "$(number "${result[$key.reply_p99_us]:-}")" \
        "$(number "${result[$key.reply_max_us]:-}")" \
        "$(ratio "${result[$key.reply_p99_us]:-}" "${result[$p99_key]:-}")"
      title=""
    done
  done
  if [[ " $reply_rows " == *" raster "* ]]; then
    echo "  raster stream meanwhile ($([ "$reply_raster_pace" = 0 ] && echo "flat out" ||
      echo "paced at $reply_raster_pace MiB/s")): tarnock $(number "${result[reply.tarnock.raster.raster_mib_per_s]:-}") MiB/s," \
      "responder $(number "${result[reply.responder.raster.raster_mib_per_s]:-}") MiB/s"
  fi
}

details() {
  local parts=() level text name which suffix round
  if selected 2; then
    text="scenario 2 connects that waited for a SYN retry (1 / 8 clients):"
    text+=" tarnock ${result[jobs1.tarnock.retried]:-?} / ${result[jobs8.tarnock.retried]:-?},"
    text+=" socat-dated ${result[jobs1.socat-dated.retried]:-?} / ${result[jobs8.socat-dated.retried]:-?},"
    text+=" socat-append ${result[jobs1.socat-append.retried]:-?} / ${result[jobs8.socat-append.retried]:-?}"
    parts+=("$text")
  fi
  if selected 3; then
    for level in $hold_levels; do
      text="scenario 3 at $level: resident KiB ${result[hold$level.rss_base_kib]:-?} before,"
      text+=" ${result[hold$level.rss_peak_kib]:-?} at peak, new job max ${result[hold$level.probe_max_ms]:-?} ms,"
      text+=" load generator $(number "${result[hold$level.load_cpu_percent]:-}") % of a core"
      parts+=("$text")
    done
  fi
  if selected 4; then parts+=("scenario 4 probe max ${result[probe.max]:-?} ms"); fi
  if selected 9; then
    text="scenario 9 raster stream: tarnock $(number "${result[reply.tarnock.raster.raster_mib]:-}") MiB,"
    text+=" responder $(number "${result[reply.responder.raster.raster_mib]:-}") MiB, bytes back on it"
    text+=" ${result[reply.tarnock.raster.raster_reply_bytes]:-?} / ${result[reply.responder.raster.raster_reply_bytes]:-?}"
    parts+=("$text")
  fi
  if selected 10; then
    text="scenario 10 per round, raw / lpd to last ack / lpd to file complete, MiB/s:"
    for round in $(seq 1 "$lpd_rounds"); do
      text+=" $(number "${result[lpd.raw.$round]:-}") / $(number "${result[lpd.lpd.$round]:-}")"
      text+=" / $(number "${result[lpd.lpd.$round.complete]:-}"),"
    done
    parts+=("${text%,}")
  fi
  if selected 8; then
    parts+=("scenario 8 all together: ${option_lines[all]//;/, }")
    for which in $(option_builds); do
      for suffix in "" .p50rate; do
        text="scenario 8 shares of off per round ($which, $([ -n "$suffix" ] && echo median job || echo jobs/s)):"
        for name in $option_rows; do
          [ "$name" = off ] && continue
          text+=" ${option_titles[$name]%%=*} $(round_quotients "options.$which.$name.R$suffix" \
            "options.$which.off.R$suffix" |
            awk '{ for (i = 1; i <= NF; i++) printf "%s%.2f", (i > 1 ? "/" : ""), $i }'),"
        done
        parts+=("${text%,}")
      done
    done
  fi
  if selected 11; then
    text="scenario 11 ms per key (tarnock, medians of rounds): ${result[preview.filter.ours_per_key_ms]:-?};"
    text+=" rows matching 192.0.2.17 tarnock / grep ${result[preview.filter.ours_matches]:-?} /"
    text+=" ${result[preview.filter.peer_matches]:-?}; the list's rows: $(number "${result[preview.filter.history_mb]:-}") MB,"
    text+=" filled in $(number "${result[preview.filter.fill_ms]:-}") ms; PNG files renderer all / page 1 first / gs page 1 / gs all:"
    text+=" ${result[preview.render.ours_pages]:-?} / ${result[preview.render.first_page_pages]:-?} /"
    text+=" ${result[preview.render.peer_pages]:-?} / ${result[preview.render.peer_all_pages]:-?}"
    parts+=("$text")
  fi
  if [ ${#parts[@]} -eq 0 ]; then return; fi
  text=$(printf '%s; ' "${parts[@]}")
  echo "Details: ${text%; }"
}

echo
echo "Tarnock capture benchmark, $(date -u '+%Y-%m-%d %H:%M UTC')"
echo "Machine: $(nproc) cores, $(grep -m1 'model name' /proc/cpuinfo | cut -d: -f2 | sed 's/^ //'), $(awk '/MemTotal/ { printf "%.0f GiB", $2 / 1048576 }' /proc/meminfo), Linux $(uname -r)"
echo
# Scenario 8 prints a table of its own below.
# The last column compares with socat in scenarios 1 and 2, with the raw job
# in scenario 10.
ratio_title="vs socat"
selected 1 || selected 2 || ratio_title="vs raw"
{ selected 1 || selected 2 || selected 10; } || ratio_title="vs peer"
[[ " $(echo $only) " =~ \ ([1-7]|10|11)\  ]] && row "Scenario" "Tool" "Figure" "CPU s/GiB" "$ratio_title"
selected 1 && stream_rows
selected 2 && jobs_rows
selected 3 && hold_rows
selected 4 && probe_rows
selected 7 && streams_rows
selected 5 && floor_rows
selected 6 && close_rows
selected 10 && lpd_rows
selected 11 && preview_rows
selected 8 && options_table
selected 9 && reply_table
echo
details

target() {
  local met
  met=$(awk -v a="$2" -v op="$3" -v b="$4" 'BEGIN {
    if (a == "no reply") { print "MISSED"; exit }
    if (a == "" || a == "-" || b == "" || b == "-") { print "no figure"; exit }
    if (op == ">=") ok = a + 0 >= b + 0
    else if (op == "<=") ok = a + 0 <= b + 0
    else ok = a + 0 < b + 0
    print ok ? "met" : "MISSED" }')
  printf '%-52s %10s %-3s %-8s %s\n' "$1" "$2" "$3" "$4" "$met"
}

stream_targets() {
  target "one stream: tarnock / socat default buffer" \
    "$(ratio "${result[stream.tarnock.mibs]:-}" "${result[stream.socat.mibs]:-}" | tr -d x)" ">=" 2
  target "one stream: tarnock / socat -b131072" \
    "$(ratio "${result[stream.tarnock.mibs]:-}" "${result[stream.socat-b131072.mibs]:-}" | tr -d x)" ">=" 1
  target "one stream: CPU s/GiB, tarnock vs socat -b131072" \
    "$(per_gib "${result[stream.tarnock.cpu]:-}" "$stream_bytes")" "<=" \
    "$(per_gib "${result[stream.socat-b131072.cpu]:-}" "$stream_bytes")"
}

jobs_targets() {
  local one_client
  one_client=$(ratio "${result[jobs1.tarnock.rate]:-}" "${result[jobs1.socat-dated.rate]:-}" | tr -d x)
  target "short jobs, 1 client: tarnock / socat-dated" "$one_client" ">=" 3
  target "short jobs, 1 client: tarnock / socat-dated" "$one_client" ">=" 20
  target "short jobs, 8 clients: tarnock / socat-dated" \
    "$(ratio "${result[jobs8.tarnock.rate]:-}" "${result[jobs8.socat-dated.rate]:-}" | tr -d x)" ">=" 3
  target "short jobs, 1 client: with after-job command / without" \
    "$(ratio "${result[jobs1.tarnock-afterjob.rate]:-}" "${result[jobs1.tarnock.rate]:-}" | tr -d x)" ">=" 0.9
}

hold_targets() {
  local n=$hold_top
  target "$n open at 1 KiB/s: CPU % of one core" "$(number "${result[hold$n.server_cpu_percent]:-}")" "<=" 50
  target "$n open at 1 KiB/s: new job p99 (ms)" "$(number "${result[hold$n.probe_p99_ms]:-}" 2)" "<" 20
  target "$n open at 1 KiB/s: seconds to open all" "$(number "${result[hold$n.open_seconds]:-}" 2)" "<=" 15
  target "$n open at 1 KiB/s: KiB resident per connection" \
    "$(number "${result[hold$n.kib_per_connection]:-}" 2)" "<" 4
}

probe_targets() {
  target "probe p99 while streaming (ms)" "$(number "${result[probe.p99]:-}" 2)" "<" 10
}

streams_targets() {
  target "$stream_count streams: longest wait of a new job (ms)" \
    "$(number "${result[streams.max]:-}" 2)" "<" 20
}

options_targets() {
  local name title bound
  for name in $option_rows; do
    [ "$name" = off ] && continue
    if [ "$name" = all ]; then title="all together"; bound=0.9
    else title="${option_titles[$name]} alone"; bound=0.95; fi
    target "job options: $title / off" "$(number "$(options_share after "$name")" 2)" ">=" "$bound"
    target "  the same by the median job" "$(number "$(options_share after "$name" .p50rate)" 2)" ">=" "$bound"
  done
}

reply_targets() {
  local row
  for row in $reply_rows; do
    target "status reply p99, ${reply_titles[$row]} (ms)" "$(reply_p99_ms "$row")" "<" 1
  done
}

close_targets() {
  target "$close_count ending at once, offscreen (s)" "$(number "${result[close.offscreen.seconds]:-}" 3)" "<=" 0.3
}

preview_targets() {
  local p=preview
  target "${result[$p.open.capture_mib]:-?} MiB capture to first hex screen, worst (ms)" \
    "$(number "${result[$p.open.ours_worst_ms]:-}" 2)" "<" 200
  target "filter at $(number "${result[$p.filter.rows]:-}" 0) jobs: worst keystroke (ms)" \
    "$(number "${result[$p.filter.ours_worst_ms]:-}" 2)" "<" 100
  if [ -z "${result[$p.render.skipped]:-}" ]; then
    target "PostScript first page: renderer / gs page 1 alone" \
      "$(ratio "${result[$p.render.first_page_ms]:-}" "${result[$p.render.peer_ms]:-}" | tr -d x)" "<=" 1.2
  fi
  target "memory growth, ${result[$p.memory.capture_mib]:-?} MiB capture previewed (MB)" \
    "$(number "${result[$p.memory.growth_mb]:-}")" "<=" 50
}

echo
echo "Targets"
selected 1 && stream_targets
selected 2 && jobs_targets
selected 3 && hold_targets
selected 4 && probe_targets
selected 6 && close_targets
selected 7 && streams_targets
selected 8 && options_targets
selected 9 && reply_targets
selected 11 && preview_targets

if [ "$checks_failed" -ne 0 ]; then
  echo "A byte check failed or a run hit its bound (see above)." >&2
  exit 1
fi
echo "Every capture held every byte sent (size and checksum checked)."
