#!/usr/bin/env bash
# A line-by-line copy of 20 MiB of Shift_JIS text with CR LF line ends:
# READFILE/WRITEFILE run by the script interpreter (bench/script_run) against
# tclsh gets/puts with the shiftjis encoding and CR LF translation.  Both
# copies are compared with the source byte for byte.  Five runs each in
# turns, medians of wall and CPU time.
#   bench/filecopy_vs_tclsh.sh [build directory]
set -euo pipefail
build=${1:-build}
run=$build/bench/script_run
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
python3 - "$work/in.txt" <<'PY'
import sys
# BBS-like lines: kana, kanji and ASCII, 0 to 120 bytes.
words = ["こんにちは", "掲示板", "ログイン", "メッセージ", "漢字", "テスト", "hello", "BBS", "12345", "、", "。", " "]
out = bytearray()
i = 0
while len(out) < 20 * 1024 * 1024:
    line = ""
    n = (i * 7919) % 17
    for j in range(n):
        line += words[(i + j * 31) % len(words)]
    out += line.encode("shift_jis") + b"\r\n"
    i += 1
open(sys.argv[1], "wb").write(bytes(out))
PY
cat > "$work/copy.hsc" <<HSC
openfile "$work/in.txt"
createfile "$work/out.hsc.txt"
readfile "$work/in.txt", @l
while (result = 1)
  writefile "$work/out.hsc.txt", @l
  readfile "$work/in.txt", @l
endwhile
closefile "$work/in.txt"
closefile "$work/out.hsc.txt"
HSC
cat > "$work/copy.tcl" <<TCL
set in [open "$work/in.txt" r]
fconfigure \$in -encoding shiftjis -translation crlf
set out [open "$work/out.tcl.txt" w]
fconfigure \$out -encoding shiftjis -translation crlf
while {[gets \$in line] >= 0} { puts \$out \$line }
close \$in
close \$out
TCL
. "$(dirname "$0")/timing.sh"
q=(); t=(); qc=(); tc=()
for _ in 1 2 3 4 5; do
  read -r w c < <(run_ms "$run" "$work/copy.hsc"); q+=("$w"); qc+=("$c")
  cmp "$work/in.txt" "$work/out.hsc.txt"
  read -r w c < <(run_ms tclsh "$work/copy.tcl"); t+=("$w"); tc+=("$c")
  cmp "$work/in.txt" "$work/out.tcl.txt"
done
mq=$(median "${q[@]}"); mt=$(median "${t[@]}")
cq=$(median "${qc[@]}"); ct=$(median "${tc[@]}")
echo "input: $(stat -c %s "$work/in.txt") bytes, $(wc -l < "$work/in.txt") lines; both copies equal to it"
echo "script READFILE/WRITEFILE: wall ${q[*]} ms, median $mq; cpu ${qc[*]} ms, median $cq"
echo "tclsh gets/puts:           wall ${t[*]} ms, median $mt; cpu ${tc[*]} ms, median $ct"
python3 -c "print('ratio (tclsh / script): %.2fx wall, %.2fx cpu' % ($mt / max($mq, 1), $ct / max($cq, 1)))"
echo "load average: $(cut -d' ' -f1-3 /proc/loadavg)"
