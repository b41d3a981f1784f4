#!/usr/bin/env bash
# Shift_JIS message text from the demo host over telnet on loopback into a
# headless Quillnet (stock and the host's raw log on, screens to standard
# output), against `quillnet-tool feed` of the same bytes (captured once,
# telnet negotiation and all) into a fresh stock with a raw log.
#
# Each runs five times with MiB/16 and five times with MiB (default 64), all
# taken in turns; the report gives the medians, the fixed cost (start-up,
# connect and log-in, exit) and the throughput from the difference between
# the two sizes, and the throughput ratio (bench/two_sizes.py).  The call
# starts with a fresh data directory holding the stock a first start would
# create, made before the timed part.  Every run must exit 0 and leave a
# stock whose last lines (the flood's, up to 50,000) and a log whose last MiB
# are the same as feed's, or the script fails.
#   bench/telnet_vs_feed.sh [build directory] [MiB]
#
# With --tree the same calls run in the window program (offscreen, ending
# with the call) on a stock with the demo colour syntax, the overall tree
# built and shown (ShowTree 1) against the tree hidden and so never built
# (ShowTree 0); the goal is at most 10% less throughput.  Every run must
# leave the same last lines and log as the first run without the tree.
#   bench/telnet_vs_feed.sh --tree [build directory] [MiB]
set -euo pipefail
shopt -s inherit_errexit
. "$(dirname "$0")/demo_host.sh"
tree=0
if [ "${1:-}" = --tree ]; then
  tree=1
  shift
fi
build=${1:-build}
mib=${2:-64}
small=$(( mib / 16 > 0 ? mib / 16 : 1 ))
runs=5
(( mib > small )) || { echo "MiB must be at least 2" >&2; exit 2; }
work=$(mktemp -d)
demo_pids=()
trap 'for p in "${demo_pids[@]}"; do kill "$p" 2>/dev/null; done; rm -rf "$work"' EXIT
tool=$build/tools/quillnet-tool
prog=$build/app/quillnet

"$tool" stock create "$work/first.stk" --lines 100000 --columns 80
for size in $small $mib; do
  start_demo_host --flood "$size"
  demo_pids+=("$demo_pid")
  # The same bytes as a file, for feed.
  socat -u "TCP:127.0.0.1:$port" "OPEN:$work/capture$size.bin,creat,trunc"
  echo "captured for $size MiB: $(stat -c %s "$work/capture$size.bin") bytes"
  "$tool" hosts telnet "FLOOD$size" 127.0.0.1 "$port" --log flood.log --config-dir "$work/config" >/dev/null
  if (( tree )); then
    "$tool" hosts telnet "FLOOD$size" 127.0.0.1 "$port" --log flood.log --config-dir "$work/config-bare" >/dev/null
  fi
done

ms_now() { date +%s%N; }
call() {  # SIZE: prints milliseconds
  local size=$1 s e rc=0
  rm -rf "$work/data"
  mkdir -p "$work/data"
  cp --sparse=always "$work/first.stk" "$work/data/quillnet.stk"
  s=$(ms_now)
  "$prog" --headless --config-dir "$work/config" --data-dir "$work/data" "FLOOD$size" >/dev/null 2>"$work/err" || rc=$?
  e=$(ms_now)
  if (( rc != 0 )); then
    echo "the call exited with $rc:" >&2
    cat "$work/err" >&2
    return 1
  fi
  check "$work/data/quillnet.stk" "$work/data/flood.log" "$size" call
  echo $(( (e - s) / 1000000 ))
}
feed() {  # SIZE: prints milliseconds
  local size=$1 s e
  rm -f "$work/f.stk" "$work/f.log"
  s=$(ms_now)
  "$tool" feed "$work/f.stk" --lines 100000 --log "$work/f.log" --log-type 0 <"$work/capture$size.bin" >/dev/null ||
    { echo "feed failed" >&2; return 1; }
  e=$(ms_now)
  if [ ! -e "$work/feed$size.tail" ]; then
    # The banner differs (the capture answered no terminal type), and feed,
    # reading a file, logs the telnet negotiation too: the flood's lines and
    # the log's last bytes are compared.
    "$tool" stock export "$work/f.stk" >"$work/feed.txt"
    local lines
    lines=$(wc -l <"$work/feed.txt")
    tail -n $(( lines - 100 < 50000 ? lines - 100 : 50000 )) "$work/feed.txt" >"$work/feed$size.tail"
    tail -c 1048576 "$work/f.log" >"$work/feed$size.logtail"
  fi
  check "$work/f.stk" "$work/f.log" "$size" feed
  echo $(( (e - s) / 1000000 ))
}
check() {  # STOCK LOG SIZE WHO: the run kept every line and every byte
  local stock=$1 log=$2 size=$3 who=$4
  [ -e "$work/feed$size.tail" ] || return 0  # feed's first run sets the reference
  local n
  n=$(wc -l <"$work/feed$size.tail")
  if ! "$tool" stock export "$stock" | tail -n "$n" | cmp -s - "$work/feed$size.tail"; then
    echo "$who ($size MiB): the stock's last $n lines differ from feed's" >&2
    return 1
  fi
  if ! tail -c 1048576 "$log" | cmp -s - "$work/feed$size.logtail"; then
    echo "$who ($size MiB): the log's last MiB differs from feed's (or the log is missing)" >&2
    return 1
  fi
}
if (( tree )); then
  "$tool" stock retag "$work/first.stk" "$(realpath "$build")/tools/demo.tag" >/dev/null
  "$tool" config set ShowTree 1 --config-dir "$work/config" >/dev/null
  "$tool" config set ShowTree 0 --config-dir "$work/config-bare" >/dev/null
  window_call() {  # SIZE tree|bare: prints milliseconds
    local size=$1 kind=$2 s e rc=0 config=$work/config
    [ "$kind" = bare ] && config=$work/config-bare
    rm -rf "$work/data"
    mkdir -p "$work/data"
    cp --sparse=always "$work/first.stk" "$work/data/quillnet.stk"
    s=$(ms_now)
    QT_QPA_PLATFORM=offscreen timeout 600 "$prog" --exit-after-call --config-dir "$config" --data-dir "$work/data" \
      "FLOOD$size" >/dev/null 2>"$work/err" || rc=$?
    e=$(ms_now)
    if (( rc != 0 )); then
      echo "the $kind call exited with $rc:" >&2
      cat "$work/err" >&2
      return 1
    fi
    # The flood's lines (not the call's first 100, which carry its time).
    "$tool" stock export "$work/data/quillnet.stk" >"$work/got.txt"
    local lines
    lines=$(wc -l <"$work/got.txt")
    tail -n $(( lines - 100 < 50000 ? lines - 100 : 50000 )) "$work/got.txt" >"$work/got.tail"
    tail -c 1048576 "$work/data/flood.log" >"$work/got.logtail"
    if [ ! -e "$work/ref$size.tail" ]; then
      mv "$work/got.tail" "$work/ref$size.tail"
      mv "$work/got.logtail" "$work/ref$size.logtail"
    elif ! cmp -s "$work/got.tail" "$work/ref$size.tail" || ! cmp -s "$work/got.logtail" "$work/ref$size.logtail"; then
      echo "$kind ($size MiB): the stock's last lines or the log differ from the first run's" >&2
      return 1
    fi
    echo $(( (e - s) / 1000000 ))
  }
  : >"$work/times"
  : >"$work/times.bare"
  for _ in $(seq 1 $runs); do
    for size in $small $mib; do
      b=$(window_call "$size" bare)
      echo "bare $size $b" >>"$work/times.bare"
      t=$(window_call "$size" tree)
      echo "tree $size $t" >>"$work/times"
    done
  done
  cat "$work/times.bare" >>"$work/times"
  echo "load average at the end: $(cut -d' ' -f1-3 /proc/loadavg)"
  echo "every call's stock and log matched the first run's"
  python3 "$(dirname "$0")/two_sizes.py" "$work/times" MiB "$small" "$mib" 0.90
  exit
fi

: >"$work/times"
for _ in $(seq 1 $runs); do
  for size in $small $mib; do
    f=$(feed "$size")
    echo "feed $size $f" >>"$work/times.feed"
    c=$(call "$size")
    echo "call $size $c" >>"$work/times"
  done
done
cat "$work/times.feed" >>"$work/times"
echo "load average at the end: $(cut -d' ' -f1-3 /proc/loadavg)"
echo "stock lines after the last call: $("$tool" stock info "$work/data/quillnet.stk" | sed -n 's/^cItemUsed: //p')"
echo "log bytes after the last call:   $(stat -c %s "$work/data/flood.log")"
echo "every call's stock and log matched feed's"
python3 "$(dirname "$0")/two_sizes.py" "$work/times" MiB "$small" "$mib" 0.95
