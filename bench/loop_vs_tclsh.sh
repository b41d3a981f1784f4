#!/usr/bin/env bash
# A 1,000,000-iteration loop that compares, adds, concatenates and stores an
# array element, run by the script interpreter (bench/script_run, nothing on
# line) against the same loop in tclsh, at the top level and inside a proc
# (where Tcl compiles variables to slots).  Five runs each in turns, medians.
#   bench/loop_vs_tclsh.sh [build directory]
set -euo pipefail
build=${1:-build}
run=$build/bench/script_run
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cat > "$work/loop.hsc" <<'HSC'
##i = 0
##sum = 0
while (##i < 1000000)
  ##sum = ##sum + ##i
  #s = "n" + ##i
  #a[##i % 10] = #s
  ##i = ##i + 1
endwhile
; a wrong sum stops the run with an error (the label does not exist)
if (##sum != 1783293664) goto the_sum_is_wrong
HSC
cat > "$work/top.tcl" <<'TCL'
set i 0; set sum 0
while {$i < 1000000} {
  set sum [expr {($sum + $i) & 0xffffffff}]
  set s "n$i"
  set a([expr {$i % 10}]) $s
  incr i
}
TCL
cat > "$work/proc.tcl" <<'TCL'
proc loop {} {
  set i 0; set sum 0
  while {$i < 1000000} {
    set sum [expr {($sum + $i) & 0xffffffff}]
    set s "n$i"
    set a([expr {$i % 10}]) $s
    incr i
  }
}
loop
TCL
ms() { local s e; s=$(date +%s%N); "$@" > /dev/null; e=$(date +%s%N); echo $(( (e - s) / 1000000 )); }
median() { printf '%s\n' "$@" | sort -n | sed -n 3p; }
q=(); t=(); p=()
for _ in 1 2 3 4 5; do
  q+=("$(ms "$run" "$work/loop.hsc")")
  t+=("$(ms tclsh "$work/top.tcl")")
  p+=("$(ms tclsh "$work/proc.tcl")")
done
mq=$(median "${q[@]}"); mt=$(median "${t[@]}"); mp=$(median "${p[@]}")
echo "script:          ${q[*]} ms, median $mq"
echo "tclsh top level: ${t[*]} ms, median $mt"
echo "tclsh proc:      ${p[*]} ms, median $mp"
python3 -c "print('ratio against tclsh top level: %.2fx, against a proc: %.2fx' % ($mt / $mq, $mp / $mq))"
echo "load average: $(cut -d' ' -f1-3 /proc/loadavg)"
