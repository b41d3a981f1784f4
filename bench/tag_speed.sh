#!/usr/bin/env bash
# Colour syntax speed, with the demo BBS's syntax (build/tools/demo.tag):
#   1. `quillnet-tool stock retag` of a 1,000,000-line stock of demo BBS
#      calls against `grep -E -c` with the same patterns (the syntax's main
#      and exit patterns, title marks taken out, "\d" as [0-9], a pattern
#      over two lines as one pattern per line) over the stock's
#      `stock export --utf8` text, LC_ALL=C.UTF-8.  Goal: at least 1.0x.
#      The start-up of each program (the tool's --help, grep over one line)
#      is measured too, and the ratio printed again without it.
#   2. `quillnet-tool feed --connect --tag demo.tag` against the same feed
#      without --tag, over the 16 MiB benchmark text of
#      bench/feed_vs_iconv.sh and over 16 MiB of demo BBS calls.  Goal: at
#      most 20% slower.
# The calls are real: the program, headless, calls the demo host, which
# takes it through all three boards; the stock is that call's text fed again
# and again, 10,000 lines a call.  Each figure is the median of RUNS runs
# (default 5), taken in turns; the script prints the ratios itself.
#   bench/tag_speed.sh [BUILD_DIR] [RUNS]
# TAG_SPEED_WORK=DIR keeps the generated calls and stock in DIR and reuses
# them on the next run.
set -euo pipefail
build=$(realpath "${1:-build}")
runs=${2:-5}
tool=$build/tools/quillnet-tool
tag=$build/tools/demo.tag
here=$(cd "$(dirname "$0")" && pwd)
demo_pid=""
if [ -n "${TAG_SPEED_WORK:-}" ]; then
  work=$TAG_SPEED_WORK
  mkdir -p "$work"
  trap '[ -n "$demo_pid" ] && kill "$demo_pid" 2>/dev/null' EXIT
else
  work=$(mktemp -d)
  trap '[ -n "$demo_pid" ] && kill "$demo_pid" 2>/dev/null; rm -rf "$work"' EXIT
fi
export LC_ALL=C.UTF-8
# shellcheck source=bench/demo_host.sh
. "$here/demo_host.sh"
echo "load average: $(cut -d' ' -f1-3 /proc/loadavg)"

if [ ! -s "$work/big.txt" ]; then
  rm -rf "$work/cfg" "$work/data"
  # A real call through every board.
  start_demo_host --once --auto-login --tour 'B\r1\rR\rQ\r2\rR\rQ\r3\rR\rQ\rQ\rW\rG\r'
  "$tool" --config-dir "$work/cfg" hosts telnet DEMO 127.0.0.1 "$port" >/dev/null
  "$build/app/quillnet" --headless --config-dir "$work/cfg" --data-dir "$work/data" DEMO >/dev/null 2>"$work/call.err" ||
    { cat "$work/call.err" >&2; exit 1; }
  wait "$demo_pid" || true
  demo_pid=""
  # The call's lines without its connect line and the empty newest line.
  "$tool" stock export "$work/data/quillnet.stk" | sed '1d;$d' | sed 's/$/\r/' >"$work/call.sjis"
  call_lines=$(wc -l <"$work/call.sjis")
  [ "$call_lines" -gt 500 ] || { echo "the demo call has only $call_lines lines" >&2; exit 1; }

  python3 - "$work" "$call_lines" <<'PY'
import sys
work, n = sys.argv[1], int(sys.argv[2])
call = open(work + "/call.sjis", "rb").read()
# 10,000 lines a call; 1,000,000 lines in all, connect lines included.
per = 9999
lines = call.split(b"\r\n")[:-1]
body = b"".join(lines[i % n] + b"\r\n" for i in range(per))
open(work + "/one_call.sjis", "wb").write(body)
# 16 MiB of calls for the feed.
big = bytearray()
while len(big) < 16 * 1024 * 1024:
    big += call
open(work + "/calls16.sjis", "wb").write(big[:16 * 1024 * 1024])
PY
  # The 16 MiB text of bench/feed_vs_iconv.sh.
  python3 "$here/bbs_text.py" "$work/text16.sjis"

  # The stock: 100 calls of 10,000 lines (the connect line and 9,999 lines).
  "$tool" stock create "$work/big.stk" --lines 1000100 --columns 80
  for c in $(seq 0 99); do
    "$tool" feed "$work/big.stk" --connect DEMO --date "$(printf '2026/12/%02d %02d:%02d' $((1 + c / 24)) $((c % 24)) $((c % 60)))" \
      <"$work/one_call.sjis"
  done
  "$tool" stock export "$work/big.stk" --utf8 >"$work/big.txt"
fi
echo "stock: $(wc -l <"$work/big.txt") logical lines, text $(( $(stat -c %s "$work/big.txt") / 1000000 )) MB (UTF-8)"

# The same patterns for grep.
"$tool" tag dump "$tag" | python3 -c '
import re, sys
pats = []
for line in sys.stdin:
    m = re.match(r"(pattern|exit) = (.*)$", line.rstrip("\n"))
    if not m or not m.group(2):
        continue
    p = m.group(2).replace("\\f", "").replace("\\d", "[0-9]")
    for k, part in enumerate(p.split("\\n")):
        pats.append(part if k == 0 or part.startswith("^") else "^" + part)
open(sys.argv[1], "w").write("".join(p + "\n" for p in pats))
' "$work/patterns"
echo "grep patterns:"; sed 's/^/  /' "$work/patterns"

"$tool" stock retag "$work/big.stk" "$tag"
tagged=$("$tool" stock tags "$work/big.stk" | awk -F'\t' '$2 >= 4 { n++ } $2 == 2 { q++ } END { printf "%d rule lines, %d quotations", n, q }')
matched=$(grep -E -c -f "$work/patterns" "$work/big.txt")
echo "retag tags: $tagged; grep: $matched matching lines"

# One timed run: "NAME WALL_MS CPU_MS" (CPU: user + system of the command
# and its children, from getrusage).
measure() {
  python3 - "$@" <<'PY'
import resource, subprocess, sys, time
name, argv = sys.argv[1], sys.argv[2:]
r0 = resource.getrusage(resource.RUSAGE_CHILDREN)
t0 = time.perf_counter()
subprocess.run(argv, stdout=subprocess.DEVNULL, check=True)
wall = time.perf_counter() - t0
r1 = resource.getrusage(resource.RUSAGE_CHILDREN)
cpu = (r1.ru_utime - r0.ru_utime) + (r1.ru_stime - r0.ru_stime)
print("%s %.1f %.1f" % (name, wall * 1000, cpu * 1000))
PY
}
# What starting each program costs: the tool's --help, grep over one line.
printf '\n' >"$work/one_line.txt"
for _ in $(seq 1 "$runs"); do
  measure retag "$tool" stock retag "$work/big.stk"
  measure grep grep -E -c -f "$work/patterns" "$work/big.txt"
  measure tool-start "$tool" --help
  measure grep-start grep -E -c -f "$work/patterns" "$work/one_line.txt"
  for t in text16 calls16; do
    rm -f "$work/f.stk" "$work/g.stk"
    "$tool" stock create "$work/f.stk" --lines 500000 --columns 80
    "$tool" stock create "$work/g.stk" --lines 500000 --columns 80
    measure "feed-$t" sh -c "'$tool' feed '$work/f.stk' --connect DEMO < '$work/$t.sjis'"
    measure "feedtag-$t" sh -c "'$tool' feed '$work/g.stk' --connect DEMO --tag '$tag' < '$work/$t.sjis'"
  done
done >"$work/times"

python3 - "$work/times" <<'PY'
import statistics, sys
wall, cpu = {}, {}
for line in open(sys.argv[1]):
    k, w, c = line.split()
    wall.setdefault(k, []).append(float(w))
    cpu.setdefault(k, []).append(float(c))
mw = {k: statistics.median(v) for k, v in wall.items()}
mc = {k: statistics.median(v) for k, v in cpu.items()}
def row(k):
    return "wall %.0f ms, CPU %.0f ms (each run wall/CPU: %s)" % (
        mw[k], mc[k], " ".join("%.0f/%.0f" % wc for wc in zip(wall[k], cpu[k])))
print("stock retag, 1,000,000 lines: " + row("retag"))
print("grep -E -c, same patterns:    " + row("grep"))
print("retag against grep (grep time / retag time): wall %.2fx, CPU %.2fx (goal at least 1.0x)"
      % (mw["grep"] / mw["retag"], mc["grep"] / max(mc["retag"], 1)))
print("start-up alone: quillnet-tool --help " + row("tool-start"))
print("                grep over one line    " + row("grep-start"))
print("retag against grep, start-up taken out of both (CPU): %.2fx"
      % (max(mc["grep"] - mc["grep-start"], 0.1) / max(mc["retag"] - mc["tool-start"], 0.1)))
for name, label in (("text16", "16 MiB benchmark text"), ("calls16", "16 MiB of demo calls")):
    a, b = "feed-" + name, "feedtag-" + name
    print("feed, %s: %s" % (label, row(a)))
    print("feed --tag, %s: %s" % (label, row(b)))
    print("feed --tag against feed, %s: wall %+.1f%%, CPU %+.1f%% (goal at most +20%%)"
          % (label, 100.0 * (mw[b] - mw[a]) / mw[a], 100.0 * (mc[b] - mc[a]) / max(mc[a], 1)))
PY
echo "load average: $(cut -d' ' -f1-3 /proc/loadavg)"
