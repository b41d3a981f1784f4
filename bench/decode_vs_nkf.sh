#!/usr/bin/env bash
# Throughput of `quillnet-tool decode --kanji-code 1` on a 64 MiB JIS text
# against `nkf -J -s -x` on the same file, best of three runs each.
#   bench/decode_vs_nkf.sh [build-dir] [MiB]
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build}
mib=${2:-64}
tool=$build/tools/quillnet-tool
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# A Shift_JIS text shaped like BBS traffic: numbered lines of kanji and
# ASCII; then nkf turns it into JIS.  (No half-width kana: nkf would write
# them as ESC ( I, which the hosts do not use.)
python3 - "$work/text.sjis" "$mib" <<'PY'
import random, sys
random.seed(1)
path, mib = sys.argv[1], int(sys.argv[2])
kanji = [bytes([s1, s2]) for s1 in range(0x88, 0x98) for s2 in list(range(0x40, 0x7F)) + list(range(0x80, 0xFD))]
with open(path, 'wb') as f:
    total, n = 0, 0
    while total < mib * 1048576:
        n += 1
        line = b'%06d ' % n + b''.join(random.choice(kanji) for _ in range(30))
        line += b' ascii text, board 12 message 345\r\n'
        f.write(line)
        total += len(line)
PY
nkf -S -j -x "$work/text.sjis" > "$work/text.jis"
size=$(stat -c %s "$work/text.jis")

best() {  # best wall time in ns of three runs of "$@" < text.jis > /dev/null
  local b=0
  for _ in 1 2 3; do
    local t0 t1
    t0=$(date +%s%N)
    "$@" < "$work/text.jis" > /dev/null
    t1=$(date +%s%N)
    local d=$((t1 - t0))
    if [ $b -eq 0 ] || [ $d -lt $b ]; then b=$d; fi
  done
  echo $b
}

# Both must give the same Shift_JIS before their speeds mean anything.
"$tool" decode --kanji-code 1 < "$work/text.jis" > "$work/ours.sjis"
nkf -J -s -x < "$work/text.jis" > "$work/nkf.sjis"
cmp "$work/ours.sjis" "$work/nkf.sjis" >/dev/null || { echo "outputs differ" >&2; exit 1; }

ours=$(best "$tool" decode --kanji-code 1)
ref=$(best nkf -J -s -x)
python3 - "$size" "$ours" "$ref" <<'PY'
import sys
size, ours, ref = int(sys.argv[1]), int(sys.argv[2]), int(sys.argv[3])
mb = size / 1048576
print(f"input: {mb:.1f} MiB JIS text")
print(f"quillnet-tool decode --kanji-code 1: {mb / (ours / 1e9):8.1f} MiB/s")
print(f"nkf -J -s -x:                        {mb / (ref / 1e9):8.1f} MiB/s")
print(f"ratio (ours / nkf):                  {ref / ours:8.2f}x")
PY
