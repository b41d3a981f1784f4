#!/usr/bin/env bash
# The work behind bench/telnet_vs_feed.sh, counted in instructions rather
# than timed, so that it can be compared on a loaded machine: a headless
# Quillnet receiving Shift_JIS message text from the demo host over telnet
# on loopback, and `quillnet-tool feed` of the same captured bytes, each run
# under callgrind (one profile per thread) at two sizes.  The report gives,
# per MiB of text (the difference between the two sizes, so start-up and
# exit drop out), the instructions of the receiving thread (the one that
# runs the dispatcher: the main thread of both programs) and of all the
# other threads together, and the receiving thread's instructions of the
# call against feed's.
#   bench/telnet_vs_feed_instructions.sh [build directory] [small MiB] [large MiB]
set -euo pipefail
shopt -s inherit_errexit
. "$(dirname "$0")/demo_host.sh"
build=${1:-build}
small=${2:-2}
large=${3:-8}
(( large > small )) || { echo "the large size must be above the small one" >&2; exit 2; }
command -v valgrind >/dev/null || { echo "valgrind is needed" >&2; exit 2; }
work=$(mktemp -d)
demo_pids=()
trap 'for p in "${demo_pids[@]}"; do kill "$p" 2>/dev/null; done; rm -rf "$work"' EXIT
tool=$build/tools/quillnet-tool
prog=$build/app/quillnet

"$tool" stock create "$work/first.stk" --lines 100000 --columns 80 >/dev/null
for size in $small $large; do
  start_demo_host --flood "$size"
  demo_pids+=("$demo_pid")
  socat -u "TCP:127.0.0.1:$port" "OPEN:$work/capture$size.bin,creat,trunc"
  "$tool" hosts telnet "FLOOD$size" 127.0.0.1 "$port" --log flood.log --config-dir "$work/config" >/dev/null
done

# Instructions per thread of the profile files PREFIX.*: "main OTHERS".
count() {
  local main=0 others=0 f n
  for f in "$1".*; do
    n=$(sed -n 's/^summary: *//p; s/^totals: *//p' "$f" | head -1)
    n=${n%% *}
    n=${n:-0}
    case "$f" in
      *-01) main=$n ;;
      *) others=$(( others + n )) ;;
    esac
  done
  echo "$main $others"
}
grind() {  # OUT-PREFIX COMMAND...: the command under callgrind, one file per thread
  local out=$1
  shift
  valgrind --tool=callgrind --separate-threads=yes --callgrind-out-file="$out.%p" "$@" >/dev/null 2>"$out.err" ||
    { echo "failed under callgrind: $*" >&2; tail -5 "$out.err" >&2; return 1; }
  rm -f "$out.err"
}
: >"$work/counts"
for size in $small $large; do
  rm -rf "$work/data"
  mkdir -p "$work/data"
  cp --sparse=always "$work/first.stk" "$work/data/quillnet.stk"
  grind "$work/call$size" "$prog" --headless --config-dir "$work/config" --data-dir "$work/data" "FLOOD$size"
  echo "call $size $(count "$work/call$size")" >>"$work/counts"
  rm -f "$work/f.stk" "$work/f.log"
  grind "$work/feed$size" "$tool" feed "$work/f.stk" --lines 100000 --log "$work/f.log" --log-type 0 \
    <"$work/capture$size.bin"
  echo "feed $size $(count "$work/feed$size")" >>"$work/counts"
  # Both must have kept the text: the last line of the log and of the stock.
  cmp -s <(tail -c 4096 "$work/data/flood.log") <(tail -c 4096 "$work/f.log") ||
    { echo "the call's log does not end as feed's ($size MiB)" >&2; exit 1; }
done
python3 - "$work/counts" "$small" "$large" <<'EOF'
import sys
counts = {}
for line in open(sys.argv[1]):
    who, size, main, others = line.split()
    counts[(who, int(size))] = (int(main), int(others))
small, large = int(sys.argv[2]), int(sys.argv[3])
per = {}
for who in ("call", "feed"):
    (m0, o0), (m1, o1) = counts[(who, small)], counts[(who, large)]
    per[who] = ((m1 - m0) / (large - small), (o1 - o0) / (large - small))
    print(f"{who}: receiving thread {m0/1e6:.0f} M / {m1/1e6:.0f} M instructions at {small} / {large} MiB, "
          f"other threads {o0/1e6:.0f} M / {o1/1e6:.0f} M")
    print(f"      per MiB: receiving thread {per[who][0]/1e6:.2f} M, other threads {per[who][1]/1e6:.2f} M")
c, f = per["call"], per["feed"]
print(f"receiving thread, call/feed per MiB: {c[0]/f[0]:.3f}x (the call's extra: {(c[0]-f[0])/1e6:.2f} M per MiB)")
print(f"all threads, call/feed per MiB:      {(c[0]+c[1])/(f[0]+f[1]):.3f}x")
EOF
