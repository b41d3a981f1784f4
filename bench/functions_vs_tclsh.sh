#!/usr/bin/env bash
# SEARCH, PART and TOZENKAKU over 1 KiB strings, 1,000,000 calls of each of
# the first two and 100,000 of the third in a loop
# run by the script interpreter (bench/script_run, nothing on line), against
# tclsh's `string first`, `string range` and `string map` in the same loop
# at the top level.  The text searched and cut is 1,024 bytes with the
# pattern at its end; TOZENKAKU turns 512 ASCII bytes into 1,024 bytes of
# full-width text (the longest a script string holds), `string map` the same
# 512 characters with the same 95 pairs.  Five runs each in turns, medians.
#   bench/functions_vs_tclsh.sh [build directory] [runs]
set -euo pipefail
build=${1:-build}
runs=${2:-5}
run=$build/bench/script_run
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# The common start: #s is 1,020 bytes of letters and digits and "QXYZ",
# #h its first 512 bytes.
prelude='#b = "abcdefghijklmnopqrstuvwxyz0123456789"
#s = ""
while (length(#s) < 1020)
  #s = #s + #b
endwhile
#s = part(#s, 0, 1020) + "QXYZ"
#h = part(#s, 0, 512)
##i = 0'
tprelude='set b abcdefghijklmnopqrstuvwxyz0123456789
set s ""
while {[string length $s] < 1020} { append s $b }
set s "[string range $s 0 1019]QXYZ"
set h [string range $s 0 511]
set i 0'
# The full-width pairs for string map, in Tcl's own characters.
zmap=$(python3 - <<'PY'
z = '　！”＃＄％＆’（）＊＋，－．／０１２３４５６７８９：；＜＝＞？＠ＡＢＣＤＥＦＧＨＩＪＫＬＭＮＯＰＱＲＳＴＵＶＷＸＹＺ［￥］＾＿‘ａｂｃｄｅｆｇｈｉｊｋｌｍｎｏｐｑｒｓｔｕｖｗｘｙｚ｛｜｝￣'
pairs = []
for i, w in enumerate(z):
    pairs.append('\\u%04x \\u%04x' % (0x20 + i, ord(w)))
print(' '.join(pairs))
PY
)

write_pair() {  # name, calls, script statement, check, tcl command, tcl check
  local name=$1 n=$2
  shift
  printf '%s\nwhile (##i < '"$n"')\n  %s\n  ##i = ##i + 1\nendwhile\n; a wrong result stops the run with an error (the label does not exist)\nif (%s) goto the_result_is_wrong\n' \
    "$prelude" "$2" "$3" > "$work/$name.hsc"
  printf '%s\nset zmap [list %s]\nwhile {$i < '"$n"'} {\n  %s\n  incr i\n}\nif {%s} { error "the result is wrong" }\n' \
    "$tprelude" "$zmap" "$4" "$5" > "$work/$name.tcl"
}
write_pair search 1000000 '#r = search(#s, "QXYZ")' '#r != "QXYZ"' 'set r [string range $s [string first QXYZ $s] end]' '$r ne "QXYZ"'
write_pair part 1000000 '#r = part(#s, 100, 800)' 'length(#r) != 800' 'set r [string range $s 100 899]' '[string length $r] != 800'
write_pair tozenkaku 100000 '#r = tozenkaku(#h)' 'length(#r) != 1024' 'set r [string map $zmap $h]' '[string length $r] != 512'

# Each program must give the right result before it is timed.
for f in search part tozenkaku; do
  "$run" "$work/$f.hsc" > /dev/null || { echo "the script $f.hsc failed" >&2; exit 1; }
  tclsh "$work/$f.tcl" || { echo "$f.tcl failed" >&2; exit 1; }
done
. "$(dirname "$0")/timing.sh"
for f in search part tozenkaku; do
  q=(); t=(); qc=(); tc=()
  for _ in $(seq "$runs"); do
    read -r w c < <(run_ms "$run" "$work/$f.hsc"); q+=("$w"); qc+=("$c")
    read -r w c < <(run_ms tclsh "$work/$f.tcl"); t+=("$w"); tc+=("$c")
  done
  mq=$(median "${q[@]}"); mt=$(median "${t[@]}"); cq=$(median "${qc[@]}"); ct=$(median "${tc[@]}")
  echo "$f: script wall ${q[*]} ms, median $mq; cpu ${qc[*]} ms, median $cq"
  echo "$f: tclsh  wall ${t[*]} ms, median $mt; cpu ${tc[*]} ms, median $ct"
  python3 -c "print('$f: ratio against tclsh: %.2fx wall, %.2fx cpu' % ($mt / max($mq, 1), $ct / max($cq, 1)))"
done
echo "load average: $(cut -d' ' -f1-3 /proc/loadavg)"
