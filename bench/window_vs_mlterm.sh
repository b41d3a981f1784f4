#!/usr/bin/env bash
# The terminal window under Xvfb: Shift_JIS BBS-like text (70-column lines, an
# ANSI colour sequence every tenth line) shown by Quillnet's real window,
# which receives it over telnet on loopback from socat and exits when the
# host closes (--exit-after-call), against mlterm showing the same file
# (`mlterm --km=SJIS -e cat FILE`).  Both times run from start to exit.
#
# Each program runs five times with 1 MiB and five times with MiB (default
# 16), all taken in turns; the report gives the medians, the fixed cost
# (start-up and exit) and the throughput from the difference between the two
# sizes, and the throughput ratio (bench/two_sizes.py).
#
# Quillnet starts with a fresh data directory each run, holding the stock a
# first start would create (100,000 lines of 80 columns), made before the
# timed part: a user's first start creates it once (the script reports what
# that costs), every later start opens it.  After every run the stock must end
# with the text's last lines (bench/check_stock_tail.py), or the script fails.
#   bench/window_vs_mlterm.sh [build directory] [MiB]
# Needs Xvfb, socat and mlterm (apt-get install -y mlterm).
set -euo pipefail
shopt -s inherit_errexit
build=${1:-build}
mib=${2:-16}
small=1
runs=5
here=$(cd "$(dirname "$0")" && pwd)
work=$(mktemp -d)
xvfb=""
trap '[ -n "$xvfb" ] && kill $xvfb 2>/dev/null; rm -rf "$work"' EXIT
command -v mlterm >/dev/null || { echo "mlterm is not installed (apt-get install -y mlterm)" >&2; exit 1; }
command -v Xvfb >/dev/null || { echo "Xvfb is not installed (scripts/setup)" >&2; exit 1; }
(( mib > small )) || { echo "MiB must be more than $small" >&2; exit 2; }
tool=$build/tools/quillnet-tool
python3 - "$work/in.sjis" "$mib" <<'PY'
import sys
kana = "あいうえおかきくけこさしすせそたちつてとなにぬねのはひふへほ掲示板通信電子"
size = int(sys.argv[2]) * 1024 * 1024
out = bytearray()
i = 0
while len(out) < size:
    line = ("".join(kana[(i + k) % len(kana)] for k in range(30)) + "BBS-%06d" % i).encode("cp932")[:70]
    if i % 10 == 0:
        line = b"\x1b[3%dm" % (1 + i % 7) + line + b"\x1b[m"
    out += line + b"\r\n"
    i += 1
open(sys.argv[1], "wb").write(out[:size])
PY
head -c $(( small * 1024 * 1024 )) "$work/in.sjis" >"$work/in$small.sjis"
mv "$work/in.sjis" "$work/in$mib.sjis"

display=:$(( 90 + RANDOM % 100 ))
Xvfb "$display" -screen 0 1280x1024x24 -nolisten tcp >/dev/null 2>&1 &
xvfb=$!
for _ in $(seq 1 50); do
  [ -e "/tmp/.X11-unix/X${display#:}" ] && break
  sleep 0.1
done
export DISPLAY=$display

ms_now() { date +%s%N; }
# The stock a first start creates, timed once.
s=$(ms_now)
"$tool" stock create "$work/first.stk" --lines 100000 --columns 80
e=$(ms_now)
first_stock_ms=$(( (e - s) / 1000000 ))

quillnet_run() {  # FILE: prints milliseconds; fails when the run fails or loses lines
  local file=$1 port src s e rc=0
  port=$(python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1",0)); print(s.getsockname()[1])')
  socat -u "OPEN:$file,rdonly" "TCP-LISTEN:$port,bind=127.0.0.1,reuseaddr" &
  src=$!
  rm -rf "$work/config" "$work/data"
  mkdir -p "$work/data"
  cp --sparse=always "$work/first.stk" "$work/data/quillnet.stk"
  "$tool" hosts telnet SOURCE 127.0.0.1 "$port" --config-dir "$work/config" >/dev/null
  for _ in $(seq 1 50); do
    grep -q ":$(printf %04X "$port") 00000000:0000 0A" /proc/net/tcp && break
    sleep 0.05
  done
  s=$(ms_now)
  "$build/app/quillnet" --exit-after-call --config-dir "$work/config" --data-dir "$work/data" SOURCE \
    >/dev/null 2>"$work/err" || rc=$?
  e=$(ms_now)
  wait $src 2>/dev/null || true
  if (( rc != 0 )); then
    echo "quillnet exited with $rc:" >&2
    cat "$work/err" >&2
    return 1
  fi
  "$tool" stock export "$work/data/quillnet.stk" | python3 "$here/check_stock_tail.py" "$file" 99000 2>/dev/null ||
    return 1
  echo $(( (e - s) / 1000000 ))
}
mlterm_run() {  # FILE: prints milliseconds
  local s e
  s=$(ms_now)
  mlterm --km=SJIS -e cat "$1" >/dev/null 2>&1 || { echo "mlterm failed" >&2; return 1; }
  e=$(ms_now)
  echo $(( (e - s) / 1000000 ))
}
: >"$work/times"
for _ in $(seq 1 $runs); do
  for size in $small $mib; do
    q=$(quillnet_run "$work/in$size.sjis")
    echo "quillnet $size $q" >>"$work/times"
    m=$(mlterm_run "$work/in$size.sjis")
    echo "mlterm $size $m" >>"$work/times"
  done
done
echo "load average at the end: $(cut -d' ' -f1-3 /proc/loadavg)"
echo "first start: creating the 100,000-line stock took ${first_stock_ms} ms (not in the runs)"
echo "every run's stock ended with the text's last lines"
python3 "$here/two_sizes.py" "$work/times" MiB "$small" "$mib" 1.2
