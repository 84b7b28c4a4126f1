#!/usr/bin/env bash
# Resuming a large download over a connection that keeps being cut, against
# the download tools people compare us with.
#
#   bench/resume_vs_peers.sh [BUILD_DIR] [--rounds N] [--size BYTES] [--cut BYTES]
#
# The demo service serves one file (default 200 MiB) and closes every response
# after --cut body bytes (default 20 MiB), so a tool gets the whole file only by
# asking for the rest with a Range request each time. Per round, alternating
# the order, each tool downloads it under a path of its own:
#   curl      curl -C - in a retry loop (until it exits 0, at most 100 tries)
#   wget      wget -c (its own retries: --tries=0 --waitretry=0)
#   aria2c    aria2c -c (its own retries: --max-tries=0 --retry-wait=0)
#   docharvest  docharvest-cli download (--max-size above the file; --retries 10,
#             the most it takes, when it has that option: a cut that got further
#             does not use one up)
# and the script prints the body bytes the service sent for that path (its
# /t/counters), the wall time and whether the file on disk is the served one.
# A tool that ends without the right file, or fetched more than the file's
# size (it started again somewhere), is reported as "not resuming" for that round.
# Everything lives in a temporary folder under /tmp that is removed at the end.
set -euo pipefail

SRC_DIR=$(cd "$(dirname "$0")/.." && pwd)
BUILD_DIR="$SRC_DIR/build"
ROUNDS=5
MiB=$((1024 * 1024))
SIZE=$((200 * MiB))
CUT=$((20 * MiB))
while [ $# -gt 0 ]; do
  case "$1" in
    --rounds) ROUNDS=$2; shift 2 ;;
    --size) SIZE=$2; shift 2 ;;
    --cut) CUT=$2; shift 2 ;;
    *) BUILD_DIR=$1; shift ;;
  esac
done
. "$SRC_DIR/bench/demo_service.sh"

need() {  # bench-only packages are installed here, not by install-deps.sh
  command -v "$1" >/dev/null 2>&1 && return
  local sudo=""; [ "$(id -u)" -ne 0 ] && sudo=sudo
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "$2" >/dev/null
}
need curl curl; need wget wget; need aria2c aria2; need jq jq

start_demo_service resume
mkdir -p "$WORK/out"

now() { date +%s.%N; }
calc() { awk "BEGIN { print $1 }"; }
served() { curl -s "$BASE/t/counters" | jq -r --arg p "$1" '.paths[$p].bytes // 0'; }
stats() {  # min median max
  printf '%s\n' "$@" | sort -g | awk '{a[NR]=$1} END {m=(NR%2)?a[(NR+1)/2]:(a[NR/2]+a[NR/2+1])/2; printf "%s %s %s", a[1], m, a[NR]}'
}

# What the bytes of the file are: the same route without cuts, once.
WANT=$(curl -s -f "$BASE/t/file/$SIZE/reference.bin" | sha256sum | cut -d' ' -f1)

CLI_RETRIES=()
"$CLI" download --help 2>&1 | grep -q -- '--retries' && CLI_RETRIES=(--retries 10)

run_curl() {
  local tries=0
  until curl -s -f -C - -o "$2/file.bin" "$1"; do
    tries=$((tries + 1))
    if [ "$tries" -ge 100 ]; then return 1; fi
  done
}
run_wget() { wget -q -c --tries=0 --waitretry=0 --read-timeout=30 -O "$2/file.bin" "$1"; }
run_aria2c() {
  aria2c -q -c --max-tries=0 --retry-wait=0 --file-allocation=none --auto-file-renaming=false \
    --allow-overwrite=true -d "$2" -o file.bin "$1"
}
run_docharvest() {
  run_cli download "$1" --out "$2" --quiet --max-size $((SIZE / MiB + 1)) "${CLI_RETRIES[@]}" >/dev/null 2>&1
}

TOOLS=(curl wget aria2c docharvest)
declare -A TIMES BYTES BAD
for t in "${TOOLS[@]}"; do TIMES[$t]=""; BYTES[$t]=""; BAD[$t]=0; done
LOAD_BEFORE=$(cut -d' ' -f1-3 /proc/loadavg)

echo "file $SIZE bytes, cut every $CUT bytes, $ROUNDS rounds, service $BASE"
for round in $(seq "$ROUNDS"); do
  line="round $round:"
  for i in "${!TOOLS[@]}"; do
    t=${TOOLS[$(( (i + round - 1) % ${#TOOLS[@]} ))]}
    dir="$WORK/out/$t-$round"; mkdir -p "$dir"
    path="/t/file/$SIZE/r$round-$t.bin"
    t0=$(now); rc=0
    "run_$t" "$BASE$path?cut=$CUT" "$dir" || rc=$?
    t1=$(now)
    secs=$(calc "$t1 - $t0"); bytes=$(served "$path")
    got=$(find "$dir" -type f ! -name '*.aria2' ! -name '.*' -print -quit)
    ok=yes
    if [ "$rc" -ne 0 ] || [ -z "$got" ] || [ "$(sha256sum < "$got" | cut -d' ' -f1)" != "$WANT" ] ||
       [ "$bytes" -gt "$SIZE" ]; then
      ok=no; BAD[$t]=$((BAD[$t] + 1))
    fi
    TIMES[$t]+="$secs "; BYTES[$t]+="$bytes "
    line+=$(printf '  %s %.2fs %.1fMiB%s' "$t" "$secs" "$(calc "$bytes / $MiB")" "$([ $ok = yes ] || echo ' (not resuming: exit '$rc')')")
    rm -rf "$dir"
  done
  echo "$line"
done
LOAD_AFTER=$(cut -d' ' -f1-3 /proc/loadavg)

echo
echo "tool        time s (min median max)      MiB fetched (min median max)   fetched/size (median)  result"
for t in "${TOOLS[@]}"; do
  # shellcheck disable=SC2086
  read -r tmin tmed tmax <<< "$(stats ${TIMES[$t]})"
  # shellcheck disable=SC2086
  read -r bmin bmed bmax <<< "$(stats ${BYTES[$t]})"
  result="whole file, resumed, every round"
  [ "${BAD[$t]}" -gt 0 ] && result="not resuming in ${BAD[$t]} of $ROUNDS rounds"
  printf '%-10s  %6.2f %6.2f %6.2f        %7.1f %7.1f %7.1f           %5.3f              %s\n' "$t" \
    "$tmin" "$tmed" "$tmax" "$(calc "$bmin / $MiB")" "$(calc "$bmed / $MiB")" "$(calc "$bmax / $MiB")" \
    "$(calc "$bmed / $SIZE")" "$result"
done
echo "load average before: $LOAD_BEFORE  after: $LOAD_AFTER  ($(nproc) cores)"
