#!/usr/bin/env bash
# 100,000 assignments to a permanent variable (%V, kept in the variable file)
# against the same loop on a global (@V), run by the script interpreter
# (bench/script_run --vars, which loads the variable file first and writes it
# when the run ends, as the program does).  A permanent assignment only marks
# the store changed; the file is written once, not per assignment.  Eleven
# runs of each in turns; prints the medians and the ratio (target: at most 1.2).
#   bench/permanent_vs_global.sh [build directory]
set -euo pipefail
build=${1:-build}
run=$build/bench/script_run
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
for v in %V @V; do
  name=${v:0:1}
  [ "$name" = "%" ] && name=perm || name=glob
  cat > "$work/$name.hsc" <<HSC
##i = 0
while (##i < 100000)
  $v = "n" + ##i
  ##i = ##i + 1
endwhile
HSC
done
perm=() glob=()
for r in 1 2 3 4 5 6 7 8 9 10 11; do
  rm -f "$work/Variable.txt"
  perm+=("$("$run" --vars "$work/Variable.txt" "$work/perm.hsc")")
  glob+=("$("$run" --vars "$work/Variable.txt" "$work/glob.hsc")")
done
grep -q '^V=n99999' "$work/Variable.txt" 2>/dev/null || { rm -f "$work/Variable.txt"; "$run" --vars "$work/Variable.txt" "$work/perm.hsc" >/dev/null; }
grep -q '^V=n99999' "$work/Variable.txt" || { echo "the variable file does not hold the last value" >&2; exit 1; }
median() { printf '%s\n' "$@" | sort -g | sed -n 6p; }
mp=$(median "${perm[@]}")
mg=$(median "${glob[@]}")
echo "permanent ms: ${perm[*]}"
echo "global ms:    ${glob[*]}"
awk -v p="$mp" -v g="$mg" 'BEGIN { printf "median permanent %.1f ms, global %.1f ms, ratio %.2f (target <= 1.2)\n", p, g, p / g }'
