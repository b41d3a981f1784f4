#!/usr/bin/env bash
# Headless start-up with a full 1,000,000-line stock: the whole run of
# `quillnet --headless` with nothing to call (load the settings, open the
# stock, start the event loop, shut down), against the same run with a
# 1,000-line stock.  Best of five each, taken in turns.
#   bench/startup_headless.sh [build directory]
set -euo pipefail
build=${1:-build}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
tool=$build/tools/quillnet-tool
prog=$build/app/quillnet
mkdir -p "$work/big/data" "$work/small/data"
python3 - "$work/lines.sjis" <<'PY'
import sys
kana = "あいうえおかきくけこさしすせそたちつてとなにぬねのはひふへほ掲示板通信電子"
with open(sys.argv[1], "wb") as f:
    for i in range(1000000):
        f.write(("".join(kana[(i + k) % len(kana)] for k in range(30)) + "BBS-%06d\r\n" % i).encode("cp932"))
PY
"$tool" feed "$work/big/data/big.stk" --lines 1000000 < "$work/lines.sjis"
head -c 100000 "$work/lines.sjis" | "$tool" feed "$work/small/data/small.stk" --lines 1000
"$tool" config set StockFile big.stk --config-dir "$work/big/config"
"$tool" config set StockFile small.stk --config-dir "$work/small/config"
echo "big stock: $("$tool" stock info "$work/big/data/big.stk" | grep -E '^(cItemMaxMax|cItemUsed)' | tr '\n' ' ')"
run() { "$prog" --headless --config-dir "$work/$1/config" --data-dir "$work/$1/data" >/dev/null 2>&1; }
big=999999
small=999999
for _ in 1 2 3 4 5; do
  s=$(date +%s%N); run big; e=$(date +%s%N); ms=$(( (e - s) / 1000000 )); (( ms < big )) && big=$ms
  s=$(date +%s%N); run small; e=$(date +%s%N); ms=$(( (e - s) / 1000000 )); (( ms < small )) && small=$ms
done
echo "1,000,000-line stock: ${big} ms"
echo "1,000-line stock:     ${small} ms"
python3 -c "print('ratio big/small: %.2fx' % ($big / max($small, 1)))"
