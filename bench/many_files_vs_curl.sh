#!/usr/bin/env bash
# Many small files: the download engine against curl, wget and aria2 on loopback.
#
#   bench/many_files_vs_curl.sh [BUILD_DIR] [--files N] [--size BYTES] [--latencies "0 100"]
#                               [--engine bench|cli]
#
# The demo service serves N files (default 500) of BYTES (default 100000); each
# answer waits the latency first (?delay=MS), a stand-in for a distant server.
# Per latency two rows are measured:
#   one connection : the engine's method one          | curl -K (one after another), wget -i
#   six at once    : the engine's method two, 6 slots | curl --parallel --parallel-max 6, aria2c -j 6
# The engine runs through build/bench/download_engine_bench (the scheduler, the
# transfers and the real file writes, no window; timed from the start command
# to the last row finished), or with --engine cli through
# `docharvest-cli download --method 1|2 --threads 6` (timed as a whole process,
# as the peers are).
# Every file of every run is compared byte for byte with the served body.
# Files are written under $TMPDIR (default /tmp), the engine's as well:
# TMPDIR=/dev/shm takes the file system out of the comparison.
# Prints files/s of each, the ratio engine / best peer per row and the peak RSS.
set -euo pipefail

SRC_DIR=$(cd "$(dirname "$0")/.." && pwd)
BUILD_DIR="$SRC_DIR/build"
FILES=500
SIZE=100000
LATENCIES="0 100"
ENGINE_KIND=bench
while [ $# -gt 0 ]; do
  case "$1" in
    --files) FILES=$2; shift 2 ;;
    --size) SIZE=$2; shift 2 ;;
    --latencies) LATENCIES=$2; shift 2 ;;
    --engine) ENGINE_KIND=$2; shift 2 ;;
    *) BUILD_DIR=$1; shift ;;
  esac
done
ENGINE="$BUILD_DIR/bench/download_engine_bench"
SERVICE="$BUILD_DIR/docharvest-demo-service"
CLI="$BUILD_DIR/docharvest-cli"
case "$ENGINE_KIND" in
  bench) [ -x "$ENGINE" ] || { echo "build the target download_engine_bench in $BUILD_DIR first" >&2; exit 2; } ;;
  cli) [ -x "$CLI" ] || { echo "build the target docharvest-cli in $BUILD_DIR first" >&2; exit 2; } ;;
  *) echo "--engine bench|cli" >&2; exit 2 ;;
esac
[ -x "$SERVICE" ] || { echo "build the target docharvest-demo-service in $BUILD_DIR first" >&2; exit 2; }
for tool in curl wget aria2c; do
  command -v "$tool" >/dev/null || { echo "$tool is missing (scripts/install-deps.sh installs it)" >&2; exit 2; }
done
TIME=""; [ -x /usr/bin/time ] && TIME=/usr/bin/time

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
# Runs a peer command under /usr/bin/time; prints "seconds peak_kib".
timed() {
  local t0 t1 rss=0
  t0=$(now)
  if [ -n "$TIME" ]; then
    "$TIME" -f %M -o "$WORK/rss.txt" "$@" >/dev/null 2>"$WORK/peer-err.txt" || { cat "$WORK/peer-err.txt" >&2; return 1; }
    rss=$(tail -1 "$WORK/rss.txt")
  else
    "$@" >/dev/null 2>"$WORK/peer-err.txt" || { cat "$WORK/peer-err.txt" >&2; return 1; }
  fi
  t1=$(now)
  echo "$(calc "$t1 - $t0") $rss"
}

url() { echo "$BASE/t/file/$SIZE?n=$1&delay=$2"; }
curl_config() {  # url/output pairs for curl -K
  local i
  for i in $(seq 0 $((FILES - 1))); do printf 'url = "%s"\noutput = "%s/f%d.bin"\n' "$(url "$i" "$1")" "$2" "$i"; done
}
url_list() {
  local i
  for i in $(seq 0 $((FILES - 1))); do url "$i" "$1"; done
}
aria_list() {
  local i
  for i in $(seq 0 $((FILES - 1))); do printf '%s\n  out=f%d.bin\n' "$(url "$i" "$1")" "$i"; done
}

links_tsv() {  # title, type, url, referer
  local i
  for i in $(seq 0 $((FILES - 1))); do printf 'f%d\tbin\t%s\t\n' "$i" "$(url "$i" "$1")"; done
}
engine_run() {  # method; prints "seconds peak_kib"
  local line d r
  if [ "$ENGINE_KIND" = cli ]; then
    d=$(out_dir); links_tsv "$LATENCY" > "$WORK/links.tsv"
    r=$(timed "$CLI" download --links "$WORK/links.tsv" --out "$d" --method "$1" --threads 6 --quiet) \
      && check_out "$d" "docharvest-cli --method $1" && echo "$r"
    return
  fi
  # The engine bench checks its own files.
  line=$("$ENGINE" --base "$BASE" --files "$FILES" --size "$SIZE" --delay "$LATENCY" --method "$1" --threads 6 2>"$WORK/engine-err.txt" \
    | grep '^seconds=') || { cat "$WORK/engine-err.txt" >&2; return 1; }
  echo "$(echo "$line" | sed -n 's/.*seconds=\([^ ]*\).*/\1/p') $(echo "$line" | sed -n 's/.*peak_rss_kib=\([^ ]*\).*/\1/p')"
}
curl_seq() {
  local d r; d=$(out_dir); curl_config "$LATENCY" "$d" > "$WORK/curl.cfg"
  r=$(timed curl -s -f -K "$WORK/curl.cfg") && check_out "$d" "curl -K" && echo "$r"
}
wget_seq() {
  local d r; d=$(out_dir); url_list "$LATENCY" > "$WORK/urls.txt"
  r=$(timed wget -q -P "$d" -i "$WORK/urls.txt") && check_out "$d" "wget -i" && echo "$r"
}
curl_par() {
  local d r; d=$(out_dir); curl_config "$LATENCY" "$d" > "$WORK/curl.cfg"
  r=$(timed curl -s -f --parallel --parallel-max 6 -K "$WORK/curl.cfg") && check_out "$d" "curl --parallel" && echo "$r"
}
aria_par() {
  local d r; d=$(out_dir); aria_list "$LATENCY" > "$WORK/aria.txt"
  r=$(timed aria2c -q -j 6 --file-allocation=none --auto-file-renaming=false --allow-overwrite=true \
    --console-log-level=error --summary-interval=0 -d "$d" -i "$WORK/aria.txt") && check_out "$d" "aria2c -j 6" && echo "$r"
}

fps() { calc "$FILES / $1"; }
need() { [ -n "$1" ] || { echo "a run failed (see above)" >&2; exit 1; }; }
best() { awk -v a="$1" -v b="$2" 'BEGIN { print (a < b) ? a : b }'; }

echo "DocHarvest: $([ "$ENGINE_KIND" = cli ] && echo "docharvest-cli download" || echo "download_engine_bench")"
echo "$FILES files of $SIZE bytes, $(nproc) cores (load $(cut -d' ' -f1 /proc/loadavg)), demo service on loopback," \
  "files on $(df -T "$WORK" | awk 'NR==2 {print $2}') ($WORK)"
printf '%-8s %-15s %-28s %-28s %-28s %s\n' latency row "DocHarvest files/s (RSS)" "peer 1 files/s (RSS)" "peer 2 files/s (RSS)" "ratio"
for LATENCY in $LATENCIES; do
  read -r e1 r1 < <(engine_run 1)
  read -r c1 cr1 < <(curl_seq)
  read -r w1 wr1 < <(wget_seq)
  need "$e1"; need "$c1"; need "$w1"
  b1=$(best "$c1" "$w1")
  printf '%-8s %-15s %-28s %-28s %-28s %.3f\n' "${LATENCY}ms" "one connection" \
    "$(printf '%.1f (%d MiB)' "$(fps "$e1")" $((r1 / 1024)))" \
    "$(printf 'curl -K %.1f (%d MiB)' "$(fps "$c1")" $((cr1 / 1024)))" \
    "$(printf 'wget -i %.1f (%d MiB)' "$(fps "$w1")" $((wr1 / 1024)))" "$(calc "$b1 / $e1")"
  read -r e2 r2 < <(engine_run 2)
  read -r c2 cr2 < <(curl_par)
  read -r a2 ar2 < <(aria_par)
  need "$e2"; need "$c2"; need "$a2"
  b2=$(best "$c2" "$a2")
  printf '%-8s %-15s %-28s %-28s %-28s %.3f\n' "${LATENCY}ms" "six at once" \
    "$(printf '%.1f (%d MiB)' "$(fps "$e2")" $((r2 / 1024)))" \
    "$(printf 'curl -Z %.1f (%d MiB)' "$(fps "$c2")" $((cr2 / 1024)))" \
    "$(printf 'aria2c %.1f (%d MiB)' "$(fps "$a2")" $((ar2 / 1024)))" "$(calc "$b2 / $e2")"
done
echo "ratio = DocHarvest files/s / best peer files/s; goal >= 0.8 at 100 ms, >= 0.5 at 0 ms"
