# Sourced by the benchmarks that run docharvest-cli against the demo service.
# The caller sets BUILD_DIR; this checks the two programs (SERVICE, CLI), makes
# the work folder WORK (removed at exit, with the service stopped) and starts
# the service on a free port with its test routes (BASE, PORT).

SERVICE="$BUILD_DIR/docharvest-demo-service"
CLI="$BUILD_DIR/docharvest-cli"
for p in "$SERVICE" "$CLI"; do
  [ -x "$p" ] || { echo "build $(basename "$p") in $BUILD_DIR first" >&2; exit 2; }
done

# start_demo_service NAME: the work folder /tmp/dh-NAME-bench-XXXXXX and the service.
start_demo_service() {
  WORK=$(mktemp -d "/tmp/dh-$1-bench-XXXXXX")
  SERVER_PID=""
  trap 'if [ -n "$SERVER_PID" ]; then kill "$SERVER_PID" 2>/dev/null; wait "$SERVER_PID" 2>/dev/null || true; fi; rm -rf "$WORK"' EXIT
  mkdir -p "$WORK/home"
  "$SERVICE" --port 0 --test-routes > "$WORK/service.txt" &
  SERVER_PID=$!
  for _ in $(seq 100); do [ -s "$WORK/service.txt" ] && break; sleep 0.05; done
  BASE=$(head -1 "$WORK/service.txt")
  [ -n "$BASE" ] || { echo "the demo service did not start" >&2; exit 1; }
  PORT=${BASE##*:}
}

# The command line with settings, data and cache of its own under WORK, so a
# run neither reads nor changes the user's.
run_cli() {
  HOME="$WORK/home" XDG_CONFIG_HOME="$WORK/home/.config" XDG_DATA_HOME="$WORK/home/.local/share" \
    XDG_CACHE_HOME="$WORK/home/.cache" "$CLI" "$@"
}
