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
. "$(dirname "$0")/timing.sh"
q=(); t=(); p=(); qc=(); tc=(); pc=()
for _ in 1 2 3 4 5; do
  read -r w c < <(run_ms "$run" "$work/loop.hsc"); q+=("$w"); qc+=("$c")
  read -r w c < <(run_ms tclsh "$work/top.tcl"); t+=("$w"); tc+=("$c")
  read -r w c < <(run_ms tclsh "$work/proc.tcl"); p+=("$w"); pc+=("$c")
done
mq=$(median "${q[@]}"); mt=$(median "${t[@]}"); mp=$(median "${p[@]}")
cq=$(median "${qc[@]}"); ct=$(median "${tc[@]}"); cp=$(median "${pc[@]}")
echo "script:          wall ${q[*]} ms, median $mq; cpu ${qc[*]} ms, median $cq"
echo "tclsh top level: wall ${t[*]} ms, median $mt; cpu ${tc[*]} ms, median $ct"
echo "tclsh proc:      wall ${p[*]} ms, median $mp; cpu ${pc[*]} ms, median $cp"
python3 -c "print('ratio against tclsh top level: %.2fx wall, %.2fx cpu; against a proc: %.2fx wall, %.2fx cpu' % ($mt / $mq, $ct / max($cq, 1), $mp / $mq, $cp / max($cq, 1)))"
echo "load average: $(cut -d' ' -f1-3 /proc/loadavg)"
