#!/usr/bin/env bash
# The terminal window under Xvfb: 16 MiB of Shift_JIS BBS-like text (70-column
# lines, an ANSI colour sequence every tenth line) shown by Quillnet's real
# window, which receives it over telnet on loopback from socat and exits when
# the host closes (--exit-after-call), against mlterm showing the same file
# (`mlterm --km=SJIS -e cat FILE`).  Both times run from start to exit; best
# of three each, taken in turns.
#   bench/window_vs_mlterm.sh [build directory] [MiB]
set -euo pipefail
build=${1:-build}
mib=${2:-16}
work=$(mktemp -d)
xvfb=""
trap '[ -n "$xvfb" ] && kill $xvfb 2>/dev/null; rm -rf "$work"' EXIT
command -v mlterm >/dev/null || { echo "mlterm is not installed (apt-get install mlterm)" >&2; exit 1; }
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
display=:$(( 90 + RANDOM % 100 ))
Xvfb "$display" -screen 0 1280x1024x24 -nolisten tcp >/dev/null 2>&1 &
xvfb=$!
sleep 1
export DISPLAY=$display

ms_now() { date +%s%N; }
quillnet_run() {
  local port
  port=$(python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1",0)); print(s.getsockname()[1])')
  socat -u "OPEN:$work/in.sjis,rdonly" "TCP-LISTEN:$port,bind=127.0.0.1,reuseaddr" &
  local src=$!
  rm -rf "$work/config" "$work/data"
  "$build/tools/quillnet-tool" hosts telnet SOURCE 127.0.0.1 "$port" --config-dir "$work/config"
  sleep 0.2
  local s e
  s=$(ms_now)
  "$build/app/quillnet" --exit-after-call --config-dir "$work/config" --data-dir "$work/data" SOURCE >/dev/null 2>&1
  e=$(ms_now)
  wait $src 2>/dev/null || true
  echo $(( (e - s) / 1000000 ))
}
mlterm_run() {
  local s e
  s=$(ms_now)
  mlterm --km=SJIS -e cat "$work/in.sjis" >/dev/null 2>&1
  e=$(ms_now)
  echo $(( (e - s) / 1000000 ))
}
best_q=999999
best_m=999999
for _ in 1 2 3; do
  q=$(quillnet_run); (( q < best_q )) && best_q=$q
  m=$(mlterm_run); (( m < best_m )) && best_m=$m
done
echo "stock lines after the last run: $("$build/tools/quillnet-tool" stock info "$work/data/quillnet.stk" | sed -n 's/^cItemUsed: //p')"
echo "quillnet window: ${best_q} ms"
echo "mlterm:          ${best_m} ms"
python3 -c "print('ratio quillnet/mlterm throughput: %.2fx' % ($best_m / $best_q))"
