#!/usr/bin/env bash
# `quillnet-tool script check` of a 60,000-line Shift_JIS script (1,500
# statements among annotated comment lines, kanji in both): compile only,
# the whole run of the tool, against the tool's run on a one-line script
# (its fixed cost).  Seven runs each in turns, medians.
#   bench/script_check.sh [build directory]
set -euo pipefail
build=${1:-build}
tool=$build/tools/quillnet-tool
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
python3 - "$work/big.hsc" <<'PY'
import sys
# Every line costs the compiled code a 3-byte line number, so a 60,000-line
# script that fits the code buffer is mostly comments: one statement line in
# 40, the way a heavily annotated log-in script looks.
statements = [
    'timeout 30', 'wait "login:", "ログイン名"', 'send "guest^M"', '##i = ##i + 1',
    'if (result == 1) send "y"', '#a[##i] = "行"', 'getline #l', 'send length(#l)',
]
lines = []
n = 0
while len(lines) < 60000:
    lines.append(statements[n % len(statements)])
    lines += ["; 説明 %d-%d: ホストの応答を待ってから送信する。タイムアウトは三十秒。" % (n, k) for k in range(39)]
    n += 1
open(sys.argv[1], "wb").write(("\r\n".join(lines[:60000]) + "\r\n").encode("cp932"))
PY
printf 'send "a"\r\n' > "$work/one.hsc"
"$tool" script check "$work/big.hsc"
ms() { local s e; s=$(date +%s%N); "$@" > /dev/null; e=$(date +%s%N); echo $(( (e - s) / 1000000 )); }
# CPU time (user + system), which a loaded machine inflates less than wall time.
cpu() { /usr/bin/time -f '%U %S' -o "$work/t" "$@" > /dev/null; awk '{ printf "%d\n", ($1 + $2) * 1000 }' "$work/t"; }
median() { printf '%s\n' "$@" | sort -n | sed -n 4p; }
b=(); o=(); bc=(); oc=()
for _ in 1 2 3 4 5 6 7; do
  b+=("$(ms "$tool" script check "$work/big.hsc")")
  o+=("$(ms "$tool" script check "$work/one.hsc")")
  bc+=("$(cpu "$tool" script check "$work/big.hsc")")
  oc+=("$(cpu "$tool" script check "$work/one.hsc")")
done
echo "60,000 lines ($(stat -c %s "$work/big.hsc") bytes): wall ${b[*]} ms, median $(median "${b[@]}"); cpu ${bc[*]} ms, median $(median "${bc[@]}")"
echo "one line:            wall ${o[*]} ms, median $(median "${o[@]}"); cpu ${oc[*]} ms, median $(median "${oc[@]}")"
echo "load average: $(cut -d' ' -f1-3 /proc/loadavg)"
