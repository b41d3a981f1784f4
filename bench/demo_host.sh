# Sourced by the benchmark scripts.  start_demo_host ARGS... starts the demo
# host on a free loopback port with ARGS and sets demo_pid and port; it needs
# $build (the build directory) and $work (a scratch directory).  The output
# file may not exist yet on the first tries; that is not an error.
start_demo_host() {
  "$build/tools/quillnet-demohost" --port 0 "$@" >"$work/demo.out" 2>&1 &
  demo_pid=$!
  port=""
  for _ in $(seq 1 50); do
    port=$(sed -n 's/^listening on 127\.0\.0\.1:\([0-9]*\)$/\1/p' "$work/demo.out" 2>/dev/null || true)
    [ -n "$port" ] && return 0
    sleep 0.1
  done
  echo "the demo host did not start:" >&2
  cat "$work/demo.out" >&2
  return 1
}
