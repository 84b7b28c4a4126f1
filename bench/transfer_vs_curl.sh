#!/usr/bin/env bash
# Throughput and memory of the transfer layer against curl on loopback.
#
#   bench/transfer_vs_curl.sh [BUILD_DIR] [--server nginx|demo] [--rounds N]
#
# Serves one 512 MiB file and six 64 MiB files (nginx from files on disk, or
# the demo service generating them), then per round downloads them with the
# layer (the 512 MiB file alone; the six at once) and with curl (-o; and
# --parallel --parallel-max 6). Both sides are whole processes, timed from
# outside the same way (wall clock around the command, peak RSS from
# /usr/bin/time), and the order alternates from round to round (A B, B A).
# Prints every round with the load average, then min/median/max, the
# throughput ratios of the medians and the peak RSS of both sides.
# Everything lives in a temporary folder under /tmp that is removed at the end.
set -euo pipefail

SRC_DIR=$(cd "$(dirname "$0")/.." && pwd)
BUILD_DIR="$SRC_DIR/build"
SERVER=nginx
ROUNDS=5
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
load() { cut -d' ' -f1 /proc/loadavg; }
TIME=/usr/bin/time
[ -x "$TIME" ] || { echo "/usr/bin/time is missing (apt-get install time)" >&2; exit 2; }

# Runs a whole process; prints "seconds peak_rss_kib".
timed() {
  local t0 t1
  t0=$(now)
  "$TIME" -f %M -o "$WORK/rss.txt" "$@" >/dev/null 2>"$WORK/err.txt" || { cat "$WORK/err.txt" >&2; return 1; }
  t1=$(now)
  echo "$(calc "$t1 - $t0") $(tail -1 "$WORK/rss.txt")"
}
curl_single() { timed curl -s -f -o "$WORK/out/$(basename "$BIG")" "$BIG"; }
curl_parallel() {
  local args=() u
  for u in "${PARTS[@]}"; do args+=(-o "$WORK/out/$(basename "$u")" "$u"); done
  timed curl -s -f --parallel --parallel-max 6 "${args[@]}"
}
layer_single() { timed "$BENCH" "$WORK/out" "$BIG"; }
layer_parallel() { timed "$BENCH" --replace "$WORK/out" "${PARTS[@]}"; }
stats() {  # min median max of the arguments
  printf '%s\n' "$@" | sort -g | awk '{a[NR]=$1} END {m=(NR%2) ? a[(NR+1)/2] : (a[NR/2]+a[NR/2+1])/2; printf "%.3f %.3f %.3f\n", a[1], m, a[NR]}'
}
check_single() {
  [ "$SERVER" = nginx ] || return 0
  cmp -s "$WORK/out/big.bin" "$WORK/www/big.bin" || { echo "layer download differs from the served file" >&2; exit 1; }
}
check_parallel() {
  [ "$SERVER" = nginx ] || return 0
  local i
  for i in 1 2 3 4 5 6; do
    cmp -s "$WORK/out/part$i.bin" "$WORK/www/part$i.bin" || { echo "layer download of part$i differs" >&2; exit 1; }
  done
}

LS=(); CS=(); LP=(); CP=(); LR=(); CR=(); LOADS=()
for round in $(seq "$ROUNDS"); do
  LOADS+=("$(load)")
  # Odd rounds: layer first; even rounds: curl first.
  for side in $([ $((round % 2)) = 1 ] && echo "layer curl" || echo "curl layer"); do
    if [ "$side" = layer ]; then
      clean_out; read -r t _ < <(layer_single); LS+=("$t"); [ "$round" -le 2 ] && check_single
      clean_out; read -r t r < <(layer_parallel); LP+=("$t"); LR+=("$r"); [ "$round" -le 2 ] && check_parallel
    else
      clean_out; read -r t _ < <(curl_single); CS+=("$t")
      clean_out; read -r t r < <(curl_parallel); CP+=("$t"); CR+=("$r")
    fi
  done
  printf 'round %d (load %s, %s first): layer single %.3fs  curl single %.3fs  layer six %.3fs (%d MiB)  curl six %.3fs (%d MiB)\n' \
    "$round" "${LOADS[-1]}" "$([ $((round % 2)) = 1 ] && echo layer || echo curl)" "${LS[-1]}" "${CS[-1]}" \
    "${LP[-1]}" $((LR[-1] / 1024)) "${CP[-1]}" $((CR[-1] / 1024))
done
clean_out

read -r ls_lo ls_m ls_hi < <(stats "${LS[@]}"); read -r cs_lo cs_m cs_hi < <(stats "${CS[@]}")
read -r lp_lo lp_m lp_hi < <(stats "${LP[@]}"); read -r cp_lo cp_m cp_hi < <(stats "${CP[@]}")
read -r lr_lo lr_m lr_hi < <(stats "${LR[@]}"); read -r cr_lo cr_m cr_hi < <(stats "${CR[@]}")
echo
echo "server: $SERVER, $ROUNDS rounds alternated, whole processes; $(nproc) cores, load at the rounds' starts: ${LOADS[*]}"
echo "seconds as min / median / max; ratio = layer throughput / curl throughput of the medians"
printf 'single 512 MiB : layer %s / %s / %s (%.0f MiB/s)  curl %s / %s / %s (%.0f MiB/s)  ratio %.2f\n' \
  "$ls_lo" "$ls_m" "$ls_hi" "$(calc "512 / $ls_m")" "$cs_lo" "$cs_m" "$cs_hi" "$(calc "512 / $cs_m")" "$(calc "$cs_m / $ls_m")"
printf 'six x 64 MiB   : layer %s / %s / %s (%.0f MiB/s)  curl %s / %s / %s (%.0f MiB/s)  ratio %.2f\n' \
  "$lp_lo" "$lp_m" "$lp_hi" "$(calc "384 / $lp_m")" "$cp_lo" "$cp_m" "$cp_hi" "$(calc "384 / $cp_m")" "$(calc "$cp_m / $lp_m")"
printf 'six at once, peak RSS of the whole process: layer %.0f / %.0f / %.0f MiB  curl %.0f / %.0f / %.0f MiB (goal: layer < 40)\n' \
  "$(calc "$lr_lo / 1024")" "$(calc "$lr_m / 1024")" "$(calc "$lr_hi / 1024")" \
  "$(calc "$cr_lo / 1024")" "$(calc "$cr_m / 1024")" "$(calc "$cr_hi / 1024")"
