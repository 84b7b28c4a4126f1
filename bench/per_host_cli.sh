#!/usr/bin/env bash
# The per-host limit as the server sees it: docharvest-cli downloads N rows
# from two hosts (127.0.0.1 and localhost, the same demo service) with six
# parallel transfers, once per --per-host value, and the script prints what
# the demo service counted per Host header (the most /t/file bodies it was
# sending at once), the wall time and the files done.
#
#   bench/per_host_cli.sh [BUILD_DIR] [--rows N] [--size BYTES] [--limits "2 0"]
#
# Each body goes out in four pieces 20 ms apart, so that transfers overlap
# the way they do over a real network. Everything lives in a temporary
# folder under /tmp that is removed at the end.
set -euo pipefail

SRC_DIR=$(cd "$(dirname "$0")/.." && pwd)
BUILD_DIR="$SRC_DIR/build"
ROWS=300
SIZE=65536
LIMITS="2 0"
while [ $# -gt 0 ]; do
  case "$1" in
    --rows) ROWS=$2; shift 2 ;;
    --size) SIZE=$2; shift 2 ;;
    --limits) LIMITS=$2; shift 2 ;;
    *) BUILD_DIR=$1; shift ;;
  esac
done
. "$SRC_DIR/bench/demo_service.sh"
command -v jq >/dev/null 2>&1 || { echo "needs jq" >&2; exit 2; }

start_demo_service perhost
PIECE=$((SIZE / 4 > 0 ? SIZE / 4 : 1))

echo "$ROWS rows of $SIZE bytes from 127.0.0.1:$PORT and localhost:$PORT, --threads 6, $(nproc) cores"
echo "per-host  most at once (127.0.0.1 / localhost)  wall s  files done  summary"
for k in $LIMITS; do
  curl -s "$BASE/t/counters/reset" >/dev/null
  links="$WORK/links-$k.tsv"
  printf 'title\ttype\turl\treferer\n' > "$links"
  for i in $(seq "$ROWS"); do
    if [ $((i % 2)) -eq 0 ]; then host=127.0.0.1; else host=localhost; fi
    printf 'f%s\tbin\thttp://%s:%s/t/file/%s/k%s-%s?pace=%s&pace_ms=20\t\n' "$i" "$host" "$PORT" "$SIZE" "$k" "$i" \
      "$PIECE" >> "$links"
  done
  out="$WORK/out-$k"
  t0=$(date +%s.%N)
  summary=$(run_cli download --links "$links" --threads 6 --per-host "$k" --out "$out" --quiet 2>&1 | tail -1) || true
  t1=$(date +%s.%N)
  counters=$(curl -s "$BASE/t/counters")
  a=$(jq -r --arg h "127.0.0.1:$PORT" '.hosts[$h].max // 0' <<< "$counters")
  b=$(jq -r --arg h "localhost:$PORT" '.hosts[$h].max // 0' <<< "$counters")
  done_files=$(find "$out" -type f -size "${SIZE}c" ! -name '.*' | wc -l)
  printf '%-8s  %-36s  %6.2f  %5d/%-5d  %s\n' "$k" "$a / $b" "$(awk "BEGIN { print $t1 - $t0 }")" "$done_files" \
    "$ROWS" "$summary"
done
echo "load average: $(cut -d' ' -f1-3 /proc/loadavg)"
