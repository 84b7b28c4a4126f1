#!/usr/bin/env bash
# Throughput and memory of the transfer layer against curl on loopback.
#
#   bench/transfer_vs_curl.sh [BUILD_DIR] [--server nginx|demo] [--rounds N]
#
# Serves one 512 MiB file and six 64 MiB files (nginx from files on disk, or
# the demo service generating them), then per round downloads them with the
# layer (the 512 MiB file alone; the six at once) and with curl (-o; and
# --parallel --parallel-max 6). Prints medians, the throughput ratios and the
# peak resident memory of the six-at-once run above the idle process.
# Everything lives in a temporary folder under /tmp that is removed at the end.
set -euo pipefail

SRC_DIR=$(cd "$(dirname "$0")/.." && pwd)
BUILD_DIR="$SRC_DIR/build"
SERVER=nginx
ROUNDS=3
while [ $# -gt 0 ]; do
  case "$1" in
    --server) SERVER=$2; shift 2 ;;
    --rounds) ROUNDS=$2; shift 2 ;;
    *) BUILD_DIR=$1; shift ;;
  esac
done
BENCH="$BUILD_DIR/bench/transfer_vs_curl_bench"
[ -x "$BENCH" ] || { echo "build the target transfer_vs_curl_bench in $BUILD_DIR first" >&2; exit 2; }

need() {  # bench-only packages are installed here, not by install-deps.sh
  command -v "$1" >/dev/null 2>&1 && return
  local sudo=""; [ "$(id -u)" -ne 0 ] && sudo=sudo
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "$2" >/dev/null
}
need curl curl
[ "$SERVER" = nginx ] && { need nginx nginx-light; }
NGINX=$(command -v nginx || echo /usr/sbin/nginx)

WORK=$(mktemp -d /tmp/dh-transfer-bench-XXXXXX)
chmod 755 "$WORK"
SERVER_PID=""
cleanup() {
  if [ -n "$SERVER_PID" ]; then kill "$SERVER_PID" 2>/dev/null; wait "$SERVER_PID" 2>/dev/null || true; fi
  rm -rf "$WORK"
}
trap cleanup EXIT
mkdir -p "$WORK/www" "$WORK/out" "$WORK/tmp"

free_port() {  # a loopback port nobody answers on
  local p
  for _ in $(seq 100); do
    p=$((20000 + RANDOM % 40000))
    (exec 3<>"/dev/tcp/127.0.0.1/$p") 2>/dev/null || { echo "$p"; return; }
  done
  return 1
}
PORT=$(free_port)
MiB=$((1024 * 1024))

if [ "$SERVER" = nginx ]; then
  echo "generating 512 MiB + 6 x 64 MiB of test data in $WORK/www ..."
  head -c $((512 * MiB)) /dev/urandom > "$WORK/www/big.bin"
  for i in 1 2 3 4 5 6; do head -c $((64 * MiB)) /dev/urandom > "$WORK/www/part$i.bin"; done
  chmod 644 "$WORK"/www/*
  cat > "$WORK/nginx.conf" <<EOF
worker_processes 1;
daemon off;
pid $WORK/nginx.pid;
error_log $WORK/nginx-error.log;
events { worker_connections 64; }
http {
  access_log off;
  sendfile on;
  tcp_nopush on;
  keepalive_timeout 5;
  client_body_temp_path $WORK/tmp/body;
  proxy_temp_path $WORK/tmp/proxy;
  fastcgi_temp_path $WORK/tmp/fastcgi;
  uwsgi_temp_path $WORK/tmp/uwsgi;
  scgi_temp_path $WORK/tmp/scgi;
  types { application/octet-stream bin; }
  server { listen 127.0.0.1:$PORT; root $WORK/www; }
}
EOF
  "$NGINX" -c "$WORK/nginx.conf" -p "$WORK" -e "$WORK/nginx-error.log" &
  SERVER_PID=$!
  BASE="http://127.0.0.1:$PORT"
  BIG="$BASE/big.bin"
  PARTS=(); for i in 1 2 3 4 5 6; do PARTS+=("$BASE/part$i.bin"); done
else
  "$BUILD_DIR/docharvest-demo-service" --port "$PORT" --test-routes > "$WORK/demo.txt" &
  SERVER_PID=$!
  BASE="http://127.0.0.1:$PORT"
  BIG="$BASE/t/file/$((512 * MiB))"
  # Distinct names so that the six files do not overwrite each other.
  PARTS=(); for i in 1 2 3 4 5 6; do PARTS+=("$BASE/t/file/$((64 * MiB + i))"); done
fi
for _ in $(seq 50); do curl -s -o /dev/null "$BASE/" 2>/dev/null && break || sleep 0.1; done

now() { date +%s.%N; }
calc() { awk "BEGIN { print $1 }"; }
clean_out() { rm -f "$WORK"/out/*; }

curl_single() {
  local t0 t1; t0=$(now)
  curl -s -f -o "$WORK/out/$(basename "$BIG")" "$BIG"
  t1=$(now); calc "$t1 - $t0"
}
curl_parallel() {
  local args=() u t0 t1
  for u in "${PARTS[@]}"; do args+=(-o "$WORK/out/$(basename "$u")" "$u"); done
  t0=$(now)
  curl -s -f --parallel --parallel-max 6 "${args[@]}" 2>/dev/null
  t1=$(now); calc "$t1 - $t0"
}
layer() {  # prints the bench program's line; LAYER_ARGS="--buffer N" tries another read buffer
  # shellcheck disable=SC2086
  "$BENCH" ${LAYER_ARGS:-} "$@"
}
field() { sed -n "s/.*$1=\([^ ]*\).*/\1/p"; }
median() { printf '%s\n' "$@" | sort -g | awk '{a[NR]=$1} END {print (NR%2) ? a[(NR+1)/2] : (a[NR/2]+a[NR/2+1])/2}'; }

LS=(); CS=(); LP=(); CP=(); RSS=()
for round in $(seq "$ROUNDS"); do
  clean_out; line=$(layer "$WORK/out" "$BIG"); LS+=("$(echo "$line" | field seconds)")
  if [ "$round" = 1 ] && [ "$SERVER" = nginx ]; then
    cmp -s "$WORK/out/big.bin" "$WORK/www/big.bin" || { echo "layer download differs from the served file" >&2; exit 1; }
  fi
  clean_out; CS+=("$(curl_single)")
  clean_out; line=$(layer --replace "$WORK/out" "${PARTS[@]}"); LP+=("$(echo "$line" | field seconds)")
  idle=$(echo "$line" | field idle_rss_kib); peak=$(echo "$line" | field peak_rss_kib)
  RSS+=("$(( (peak - idle) / 1024 ))")
  if [ "$round" = 1 ] && [ "$SERVER" = nginx ]; then
    for i in 1 2 3 4 5 6; do
      cmp -s "$WORK/out/part$i.bin" "$WORK/www/part$i.bin" || { echo "layer download of part$i differs" >&2; exit 1; }
    done
  fi
  clean_out; CP+=("$(curl_parallel)")
  printf 'round %d: layer single %.3fs  curl single %.3fs  layer six %.3fs  curl six %.3fs  six-at-once RSS +%s MiB (idle %s KiB, peak %s KiB)\n' \
    "$round" "${LS[-1]}" "${CS[-1]}" "${LP[-1]}" "${CP[-1]}" "${RSS[-1]}" "$idle" "$peak"
done
clean_out

ls_m=$(median "${LS[@]}"); cs_m=$(median "${CS[@]}"); lp_m=$(median "${LP[@]}"); cp_m=$(median "${CP[@]}")
rss_max=$(printf '%s\n' "${RSS[@]}" | sort -g | tail -1)
echo
echo "server: $SERVER, rounds: $ROUNDS (medians)"
printf 'single 512 MiB : layer %.3fs (%.0f MiB/s)  curl %.3fs (%.0f MiB/s)  layer/curl throughput %.2f\n' \
  "$ls_m" "$(calc "512 / $ls_m")" "$cs_m" "$(calc "512 / $cs_m")" "$(calc "$cs_m / $ls_m")"
printf 'six x 64 MiB   : layer %.3fs (%.0f MiB/s)  curl %.3fs (%.0f MiB/s)  layer/curl throughput %.2f\n' \
  "$lp_m" "$(calc "384 / $lp_m")" "$cp_m" "$(calc "384 / $cp_m")" "$(calc "$cp_m / $lp_m")"
printf 'six-at-once peak RSS above idle: %s MiB (largest of the rounds; goal < 100)\n' "$rss_max"
