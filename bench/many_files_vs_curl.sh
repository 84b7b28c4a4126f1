#!/usr/bin/env bash
# Many small files: docharvest-cli against curl, wget and aria2 on loopback.
#
#   bench/many_files_vs_curl.sh [BUILD_DIR] [--files N] [--size BYTES] [--latencies "0 100"]
#                               [--rounds R] [--strace]
#
# The demo service serves N files (default 500) of BYTES (default 100000); each
# answer waits the latency first (?delay=MS), a stand-in for a distant server.
# Per latency two rows are measured:
#   one connection : docharvest-cli download --method 1     | curl -K (one after another), wget -i
#   six at once    : docharvest-cli download --method 2 --threads 6 --per-host 6 | curl --parallel --parallel-max 6,
#                    aria2c -j 6  (every file comes from one server: without --per-host 6 the
#                    default per-server limit of 2 would make it two at once)
# Every side is a whole process, timed the same way (wall clock around the
# command, peak RSS from /usr/bin/time). Each round runs the sides of a row
# in turn and the order alternates from round to round (A B C, C B A), with
# the load average printed per round; the summary gives min/median/max of
# files/s and the ratio of the medians, DocHarvest / best peer.
# Every file of every run is compared byte for byte with the served body.
# --strace also runs each side once under `strace -f -c` and prints the
# system calls per file.
# Files are written under $TMPDIR (default /tmp): TMPDIR=/dev/shm takes the
# file system out of the comparison.
set -euo pipefail

SRC_DIR=$(cd "$(dirname "$0")/.." && pwd)
BUILD_DIR="$SRC_DIR/build"
FILES=500
SIZE=100000
LATENCIES="0"
ROUNDS=5
STRACE=0
while [ $# -gt 0 ]; do
  case "$1" in
    --files) FILES=$2; shift 2 ;;
    --size) SIZE=$2; shift 2 ;;
    --latencies) LATENCIES=$2; shift 2 ;;
    --rounds) ROUNDS=$2; shift 2 ;;
    --strace) STRACE=1; shift ;;
    *) BUILD_DIR=$1; shift ;;
  esac
done
SERVICE="$BUILD_DIR/docharvest-demo-service"
CLI="$BUILD_DIR/docharvest-cli"
[ -x "$CLI" ] || { echo "build the target docharvest-cli in $BUILD_DIR first" >&2; exit 2; }
[ -x "$SERVICE" ] || { echo "build the target docharvest-demo-service in $BUILD_DIR first" >&2; exit 2; }
for tool in curl wget aria2c; do
  command -v "$tool" >/dev/null || { echo "$tool is missing (scripts/install-deps.sh installs it)" >&2; exit 2; }
done
[ "$STRACE" = 0 ] || command -v strace >/dev/null || { echo "strace is missing" >&2; exit 2; }
TIME=/usr/bin/time
[ -x "$TIME" ] || { echo "/usr/bin/time is missing (apt-get install time)" >&2; exit 2; }

WORK=$(mktemp -d "${TMPDIR:-/tmp}/dh-many-files-XXXXXX")
SERVER_PID=""
cleanup() {
  if [ -n "$SERVER_PID" ]; then kill "$SERVER_PID" 2>/dev/null; wait "$SERVER_PID" 2>/dev/null || true; fi
  rm -rf "$WORK"
}
trap cleanup EXIT

free_port() {
  local p
  for _ in $(seq 100); do
    p=$((20000 + RANDOM % 40000))
    (exec 3<>"/dev/tcp/127.0.0.1/$p") 2>/dev/null || { echo "$p"; return; }
  done
  return 1
}
PORT=$(free_port)
BASE="http://127.0.0.1:$PORT"
"$SERVICE" --port "$PORT" --test-routes > "$WORK/service.txt" 2>&1 &
SERVER_PID=$!
for _ in $(seq 100); do curl -s -o /dev/null "$BASE/" 2>/dev/null && break || sleep 0.1; done
curl -s -f -o "$WORK/reference.bin" "$BASE/t/file/$SIZE"

now() { date +%s.%N; }
calc() { awk "BEGIN { print $1 }"; }
load() { cut -d' ' -f1 /proc/loadavg; }
out_dir() { rm -rf "$WORK/out"; mkdir -p "$WORK/out"; echo "$WORK/out"; }
# Every one of the N files is there and equal to the served body.
check_out() {
  local dir=$1 n
  n=$(find "$dir" -type f | wc -l)
  [ "$n" -eq "$FILES" ] || { echo "$2: $n files instead of $FILES" >&2; return 1; }
  find "$dir" -type f -print0 | while IFS= read -r -d '' f; do
    cmp -s "$f" "$WORK/reference.bin" || { echo "$2: $f differs from the served body" >&2; exit 1; }
  done
}
# Runs a whole process; prints "seconds peak_kib". With PREFIX set (strace),
# it runs under that instead.
timed() {
  local t0 t1
  t0=$(now)
  ${PREFIX:-} "$TIME" -f %M -o "$WORK/rss.txt" "$@" >/dev/null 2>"$WORK/err.txt" || { cat "$WORK/err.txt" >&2; return 1; }
  t1=$(now)
  echo "$(calc "$t1 - $t0") $(tail -1 "$WORK/rss.txt")"
}

url() { echo "$BASE/t/file/$SIZE?n=$1&delay=$2"; }
curl_config() {  # url/output pairs for curl -K
  local i
  for i in $(seq 0 $((FILES - 1))); do printf 'url = "%s"\noutput = "%s/f%d.bin"\n' "$(url "$i" "$1")" "$2" "$i"; done
}
url_list() { local i; for i in $(seq 0 $((FILES - 1))); do url "$i" "$1"; done; }
aria_list() { local i; for i in $(seq 0 $((FILES - 1))); do printf '%s\n  out=f%d.bin\n' "$(url "$i" "$1")" "$i"; done; }
links_tsv() {  # title, type, url, referer
  local i
  for i in $(seq 0 $((FILES - 1))); do printf 'f%d\tbin\t%s\t\n' "$i" "$(url "$i" "$1")"; done
}

dh1() { local d r; d=$(out_dir); links_tsv "$LATENCY" > "$WORK/links.tsv"
  r=$(timed "$CLI" download --links "$WORK/links.tsv" --out "$d" --method 1 --quiet) && check_out "$d" "docharvest-cli --method 1" && echo "$r"; }
dh2() { local d r; d=$(out_dir); links_tsv "$LATENCY" > "$WORK/links.tsv"
  r=$(timed "$CLI" download --links "$WORK/links.tsv" --out "$d" --method 2 --threads 6 --per-host 6 --quiet) && check_out "$d" "docharvest-cli --method 2" && echo "$r"; }
curl_seq() { local d r; d=$(out_dir); curl_config "$LATENCY" "$d" > "$WORK/curl.cfg"
  r=$(timed curl -s -f -K "$WORK/curl.cfg") && check_out "$d" "curl -K" && echo "$r"; }
wget_seq() { local d r; d=$(out_dir); url_list "$LATENCY" > "$WORK/urls.txt"
  r=$(timed wget -q -P "$d" -i "$WORK/urls.txt") && check_out "$d" "wget -i" && echo "$r"; }
curl_par() { local d r; d=$(out_dir); curl_config "$LATENCY" "$d" > "$WORK/curl.cfg"
  r=$(timed curl -s -f --parallel --parallel-max 6 -K "$WORK/curl.cfg") && check_out "$d" "curl --parallel" && echo "$r"; }
aria_par() { local d r; d=$(out_dir); aria_list "$LATENCY" > "$WORK/aria.txt"
  r=$(timed aria2c -q -j 6 --file-allocation=none --auto-file-renaming=false --allow-overwrite=true \
    --console-log-level=error --summary-interval=0 -d "$d" -i "$WORK/aria.txt") && check_out "$d" "aria2c -j 6" && echo "$r"; }

stats() {  # min median max
  printf '%s\n' "$@" | sort -g | awk '{a[NR]=$1} END {m=(NR%2) ? a[(NR+1)/2] : (a[NR/2]+a[NR/2+1])/2; printf "%.1f %.1f %.1f\n", a[1], m, a[NR]}'
}
median() { stats "$@" | cut -d' ' -f2; }
mib() { calc "int($(median "$@") / 1024 + 0.5)"; }  # median of KiB figures, in MiB

# One row: three sides (DocHarvest first in the list), ROUNDS alternated rounds.
row() {  # label side1 name1 side2 name2 side3 name3
  local label=$1; shift
  local sides=("$1" "$3" "$5") names=("$2" "$4" "$6")
  local -a F0=() F1=() F2=() R0=() R1=() R2=() loads=()
  local round k order t r
  for round in $(seq "$ROUNDS"); do
    loads+=("$(load)")
    if [ $((round % 2)) = 1 ]; then order="0 1 2"; else order="2 1 0"; fi
    for k in $order; do
      read -r t r < <(${sides[$k]}) || true
      [ -n "${t:-}" ] || { echo "${names[$k]} failed (see above)" >&2; exit 1; }
      eval "F$k+=(\"\$(calc \"$FILES / $t\")\"); R$k+=(\"$r\")"
      t=""
    done
    printf '  %s round %d (load %s): %s %.1f  %s %.1f  %s %.1f files/s\n' "$label" "$round" "${loads[-1]}" \
      "${names[0]}" "${F0[-1]}" "${names[1]}" "${F1[-1]}" "${names[2]}" "${F2[-1]}"
  done
  local m0 m1 m2 best
  m0=$(median "${F0[@]}"); m1=$(median "${F1[@]}"); m2=$(median "${F2[@]}")
  best=$(awk -v a="$m1" -v b="$m2" 'BEGIN { print (a > b) ? a : b }')
  SUMMARY+=("$(printf '%-7s %-15s %-10s %-22s %-9s %-10s %-22s %-9s %-10s %-22s %-9s %.3f' "${LATENCY}ms" "$label" \
    "${names[0]}" "$(stats "${F0[@]}")" "$(mib "${R0[@]}") MiB" \
    "${names[1]}" "$(stats "${F1[@]}")" "$(mib "${R1[@]}") MiB" \
    "${names[2]}" "$(stats "${F2[@]}")" "$(mib "${R2[@]}") MiB" "$(calc "$m0 / $best")")")
}

# System calls per file of one run of a side.
syscalls() {  # side name
  PREFIX="strace -f -c -o $WORK/strace.txt" "$1" > /dev/null
  local total
  total=$(awk '$NF == "total" {print $4}' "$WORK/strace.txt")  # % time, seconds, usecs/call, calls
  printf '  %-20s %8s calls  %6.1f per file\n' "$2" "$total" "$(calc "$total / $FILES")"
}

echo "$FILES files of $SIZE bytes, $(nproc) cores, demo service on loopback, files on" \
  "$(df -T "$WORK" | awk 'NR==2 {print $2}') ($WORK); whole processes, $ROUNDS rounds alternated"
SUMMARY=()
for LATENCY in $LATENCIES; do
  row "one connection" dh1 "docharvest" curl_seq "curl -K" wget_seq "wget -i"
  row "six at once" dh2 "docharvest" curl_par "curl -Z" aria_par "aria2c"
  if [ "$STRACE" = 1 ]; then
    echo "system calls at ${LATENCY} ms (strace -f -c, one run each; /usr/bin/time included):"
    syscalls dh1 "docharvest --method 1"; syscalls curl_seq "curl -K"; syscalls wget_seq "wget -i"
    syscalls dh2 "docharvest --method 2"; syscalls curl_par "curl -Z"; syscalls aria_par "aria2c"
  fi
done
echo
echo "files/s as min median max; RSS = median peak of the whole process; ratio = DocHarvest / best peer (medians)"
printf '%s\n' "${SUMMARY[@]}"
echo "goal: ratio >= 0.8 at 0 ms for both rows"
