#!/usr/bin/env bash
# A host that floods the line: the demo host sends MiB (default 200) of
# message text as fast as it can over telnet on loopback into a headless
# Quillnet with a stock big enough for all of it.  Reports the peak resident
# memory (goal: under 100 MB), the time, and checks that the stock holds
# every line the host sent, in order, and that the log holds every byte.
#   bench/flood.sh [build directory] [MiB]
set -euo pipefail
. "$(dirname "$0")/demo_host.sh"
build=${1:-build}
mib=${2:-200}
work=$(mktemp -d)
demo_pid=""
trap '[ -n "$demo_pid" ] && kill $demo_pid 2>/dev/null; rm -rf "$work"' EXIT
tool=$build/tools/quillnet-tool
prog=$build/app/quillnet
lines=$(( (mib * 1024 * 1024 / 72 + 200000) / 100 * 100 ))
mkdir -p "$work/data"
"$tool" stock create "$work/data/flood.stk" --lines "$lines" --columns 80 >/dev/null
"$tool" config set StockFile flood.stk --config-dir "$work/config"
start_demo_host --flood "$mib"
"$tool" hosts telnet FLOOD 127.0.0.1 "$port" --log flood.log --config-dir "$work/config"
/usr/bin/time -f "%e s elapsed, peak resident %M KiB" -o "$work/time" \
  "$prog" --headless --config-dir "$work/config" --data-dir "$work/data" FLOOD >"$work/stdout"
cat "$work/time"
# Every flood line carries its number: the stock must hold them all, in order.
"$tool" stock export "$work/data/flood.stk" --utf8 | python3 -c '
import re, sys
nums = [int(m.group(1)) for m in (re.search(r"BBS-(\d{6})$", l.rstrip("\n")) for l in sys.stdin) if m]
gaps = sum(1 for a, b in zip(nums, nums[1:]) if b != (a + 1) % 1000000)
print("stock: %d numbered lines, first %s, last %s, %d out of order" % (len(nums), nums[0] if nums else "-", nums[-1] if nums else "-", gaps))
sys.exit(1 if gaps or not nums or nums[0] != 0 else 0)'
python3 - "$work/stdout" <<'PY'
import sys
n = sum(1 for l in open(sys.argv[1], encoding="utf-8", errors="replace") if "BBS-" in l)
print("standard output: %d numbered lines" % n)
PY
echo "log: $(stat -c %s "$work/data/flood.log") bytes"
