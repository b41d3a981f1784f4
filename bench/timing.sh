# Timing helpers the benchmark scripts share; source this file once $work
# names the run's scratch directory.

# run_ms CMD...: wall and CPU (user + system) milliseconds of one run of CMD,
# its output discarded.  A loaded machine inflates wall time for both sides
# of a comparison, CPU time much less.
run_ms() {
  local s e
  s=$(date +%s%N)
  /usr/bin/time -f '%U %S' -o "${work:?}/time.out" "$@" > /dev/null
  e=$(date +%s%N)
  echo "$(( (e - s) / 1000000 )) $(awk '{ printf "%d", ($1 + $2) * 1000 }' "$work/time.out")"
}

# median N...: the middle value (the lower one of an even count).
median() { printf '%s\n' "$@" | sort -n | sed -n "$(( ($# + 1) / 2 ))p"; }
