#!/usr/bin/env bash
# 64 MiB of Shift_JIS message text from the demo host over telnet on
# loopback into a headless Quillnet (stock and the host's log on), against
# `quillnet-tool feed` of the same bytes into a fresh stock with a raw log.
# Best of five each, taken in turns (the machine this runs on is shared,
# and single runs vary by a quarter).
#   bench/telnet_vs_feed.sh [build directory] [MiB]
set -euo pipefail
. "$(dirname "$0")/demo_host.sh"
build=${1:-build}
mib=${2:-64}
work=$(mktemp -d)
demo_pid=""
trap '[ -n "$demo_pid" ] && kill $demo_pid 2>/dev/null; rm -rf "$work"' EXIT
tool=$build/tools/quillnet-tool
prog=$build/app/quillnet

start_demo_host --flood "$mib"
# The same bytes as a file, for feed (telnet negotiation and all).
socat -u "TCP:127.0.0.1:$port" "OPEN:$work/capture.bin,creat,trunc"
echo "captured: $(stat -c %s "$work/capture.bin") bytes"

"$tool" hosts telnet FLOOD 127.0.0.1 "$port" --log flood.log --config-dir "$work/config"
call() {
  rm -rf "$work/data"
  mkdir -p "$work/data"
  "$prog" --headless --config-dir "$work/config" --data-dir "$work/data" FLOOD >/dev/null 2>"$work/err" || { cat "$work/err" >&2; exit 1; }
}
feed() {
  rm -f "$work/f.stk" "$work/f.log"
  "$tool" feed "$work/f.stk" --lines 100000 --log "$work/f.log" --log-type 0 <"$work/capture.bin" >/dev/null
}
best_call=999999
best_feed=999999
for _ in 1 2 3 4 5; do
  s=$(date +%s%N); call; e=$(date +%s%N); ms=$(( (e - s) / 1000000 )); (( ms < best_call )) && best_call=$ms
  s=$(date +%s%N); feed; e=$(date +%s%N); ms=$(( (e - s) / 1000000 )); (( ms < best_feed )) && best_feed=$ms
done
echo "stock lines after the call: $("$tool" stock info "$work/data/quillnet.stk" | sed -n 's/^cItemUsed: //p')"
echo "log bytes after the call:   $(stat -c %s "$work/data"/*.log 2>/dev/null | head -1)"
echo "telnet call: ${best_call} ms ($(( mib * 1000 / (best_call > 0 ? best_call : 1) )) MiB/s)"
echo "feed:        ${best_feed} ms ($(( mib * 1000 / (best_feed > 0 ? best_feed : 1) )) MiB/s)"
python3 -c "print('ratio call/feed throughput: %.2fx' % ($best_feed / $best_call))"
