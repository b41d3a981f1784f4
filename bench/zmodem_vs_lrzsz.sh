#!/bin/sh
# ZMODEM throughput of quillnet-tool against lrzsz on the same socketpair
# (socat EXEC on both ends): sz -> rz (the reference), sz -> us, us -> rz.
# Prints the median seconds of RUNS runs each and the ratios to sz -> rz.
#   bench/zmodem_vs_lrzsz.sh [TOOL] [MiB] [RUNS]
set -eu
TOOL=${1:-build/tools/quillnet-tool}
MIB=${2:-32}
RUNS=${3:-3}
TOOL=$(readlink -f "$TOOL")
D=$(mktemp -d)
trap 'rm -rf "$D"' EXIT
mkdir "$D/src" "$D/dst"
head -c $((MIB * 1048576)) /dev/urandom > "$D/src/f.bin"
run() {  # prints seconds of one run of the command in $D/dst
  rm -f "$D"/dst/*
  s=$(date +%s.%N)
  (cd "$D/dst" && sh -c "$1") >/dev/null 2>&1
  e=$(date +%s.%N)
  cmp -s "$D/src/f.bin" "$D/dst/f.bin" || { echo "transfer differs: $1" >&2; exit 1; }
  echo "$e - $s" | bc
}
median() { sort -n | awk '{a[NR]=$1} END {print a[int((NR+1)/2)]}'; }
ref=""; szus=""; usrz=""
for i in $(seq "$RUNS"); do
  ref="$ref $(run "socat EXEC:'sz -q $D/src/f.bin' EXEC:'rz -q'")"
  szus="$szus $(run "socat EXEC:'sz -q $D/src/f.bin' EXEC:'$TOOL receive --protocol zmodem --dir $D/dst'")"
  usrz="$usrz $(run "socat EXEC:'$TOOL send --protocol zmodem $D/src/f.bin' EXEC:'rz -q'")"
done
r=$(for x in $ref; do echo "$x"; done | median)
a=$(for x in $szus; do echo "$x"; done | median)
b=$(for x in $usrz; do echo "$x"; done | median)
echo "sz->rz ${r}s  sz->us ${a}s ($(echo "scale=2; $r / $a" | bc)x)  us->rz ${b}s ($(echo "scale=2; $r / $b" | bc)x)  ${MIB} MiB, median of $RUNS"
