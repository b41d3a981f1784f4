#!/bin/bash
# Throughput of quillnet-tool send/receive against lrzsz on one pty pair
# (socat PTY PTY): for each protocol the lrzsz pair is the reference, and the
# tool takes the place of one side in the same run, on the same pair, with
# the same file.  Prints the median seconds of RUNS runs each and the ratio
# reference / ours (above 1.0: we are faster).
#   bench/transfer_vs_lrzsz.sh [TOOL] [MiB] [RUNS] [WHICH]
# WHICH: all (default), zmodem, xmodem1k, ymodem, ymodemg.
set -eu
TOOL=$(readlink -f "${1:-build/tools/quillnet-tool}")
MIB=${2:-32}
RUNS=${3:-5}
WHICH=${4:-all}
D=$(mktemp -d)
cleanup() { [ -n "${SOCAT:-}" ] && kill "$SOCAT" 2>/dev/null; rm -rf "$D"; }
trap cleanup EXIT
mkdir "$D/src" "$D/dst"
head -c $((MIB * 1048576)) /dev/urandom > "$D/src/f.bin"
A=$D/ptyA
B=$D/ptyB
socat PTY,link="$A",raw,echo=0 PTY,link="$B",raw,echo=0 &
SOCAT=$!
for _ in $(seq 200); do [ -e "$A" ] && [ -e "$B" ] && break; sleep 0.05; done
[ -e "$A" ] && [ -e "$B" ] || { echo "socat did not make the pty pair" >&2; exit 1; }

# One run: the receiver on B, then (once it is up) the sender on A.  The
# time runs from the sender's start until the sender has ended and the
# received file is whole under its name.  The receiver's own end is not
# timed: on a pty the sender's last bytes ("OO") are lost when it closes the
# device, and rz then waits 30 s for them.  $3 is the file the receiver
# writes.
run() {
  rm -rf "$D/dst" && mkdir "$D/dst"
  local s e size
  # What an earlier run left in the pair (a lost session's last frames).
  timeout 0.1 cat "$A" >/dev/null 2>&1 || true
  timeout 0.1 cat "$B" >/dev/null 2>&1 || true
  (cd "$D/dst" && eval "$2") 2>/dev/null &
  local rp=$!
  sleep 0.3
  s=$(date +%s.%N)
  (cd "$D/src" && eval "$1") 2>/dev/null || true
  while :; do
    size=$(stat -c %s "$D/dst/$3" 2>/dev/null || echo 0)
    [ "$size" -ge $((MIB * 1048576)) ] && break
    kill -0 "$rp" 2>/dev/null || break
    sleep 0.01
  done
  e=$(date +%s.%N)
  kill "$rp" 2>/dev/null || true
  wait "$rp" 2>/dev/null || true
  cmp -s -n $((MIB * 1048576)) "$D/src/f.bin" "$D/dst/$3" || { echo "transfer differs: $1 | $2" >&2; exit 1; }
  echo "$e - $s" | bc
}
median() { tr ' ' '\n' | grep . | sort -n | awk '{a[NR]=$1} END {print a[int((NR+1)/2)]}'; }
ratio() { echo "scale=2; $1 / $2" | bc; }

# bench NAME REFSEND REFRECV [LABEL SEND RECV]...
bench() {
  local name=$1 rs=$2 rr=$3
  shift 3
  local ref="" i
  declare -a labels sends recvs times
  while [ $# -gt 0 ]; do labels+=("$1"); sends+=("$2"); recvs+=("$3"); times+=(""); shift 3; done
  for i in $(seq "$RUNS"); do
    ref="$ref $(run "$rs" "$rr" f.bin)"
    for k in "${!labels[@]}"; do
      times[$k]="${times[$k]} $(run "${sends[$k]}" "${recvs[$k]}" f.bin)"
    done
  done
  local r line
  r=$(echo "$ref" | median)
  line="$name: reference ${r}s"
  for k in "${!labels[@]}"; do
    local m
    m=$(echo "${times[$k]}" | median)
    line="$line  ${labels[$k]} ${m}s ($(ratio "$r" "$m")x)"
  done
  echo "$line  [${MIB} MiB, median of $RUNS, load $(cut -d' ' -f1 /proc/loadavg)]"
}

# lrzsz reads and writes the pty device itself; the tool opens it with --line.
L_A="<>'$A' >&0"
L_B="<>'$B' >&0"
if [ "$WHICH" = all ] || [ "$WHICH" = zmodem ]; then
  bench "ZMODEM (sz->rz)" "sz -q f.bin $L_A" "rz -q $L_B" \
    "sz->us" "sz -q f.bin $L_A" "'$TOOL' receive --protocol zmodem --line '$B' --dir ." \
    "us->rz" "'$TOOL' send --protocol zmodem --line '$A' f.bin" "rz -q $L_B"
fi
if [ "$WHICH" = all ] || [ "$WHICH" = xmodem1k ]; then
  bench "XMODEM-1K (sx -k->rx -c)" "sx -qk f.bin $L_A" "rx -qc f.bin $L_B" \
    "sx->us" "sx -qk f.bin $L_A" "'$TOOL' receive --protocol xmodem1k --line '$B' f.bin" \
    "us->rx" "'$TOOL' send --protocol xmodem1k --line '$A' f.bin" "rx -qc f.bin $L_B"
fi
if [ "$WHICH" = all ] || [ "$WHICH" = ymodem ]; then
  bench "YMODEM batch (sb -k->rb)" "sb -qk f.bin $L_A" "rb -q $L_B" \
    "sb->us" "sb -qk f.bin $L_A" "'$TOOL' receive --protocol ymodembatch --line '$B' --dir ." \
    "us->rb" "'$TOOL' send --protocol ymodembatch --line '$A' f.bin" "rb -q $L_B"
fi
if [ "$WHICH" = all ] || [ "$WHICH" = ymodemg ]; then
  bench "YMODEM-g (sb -k->rb as reference)" "sb -qk f.bin $L_A" "rb -q $L_B" \
    "sb->us(g)" "sb -qk f.bin $L_A" "'$TOOL' receive --protocol ymodemgbatch --line '$B' --dir ." \
    "us(g)->us(g)" "'$TOOL' send --protocol ymodemgbatch --line '$A' f.bin" \
    "'$TOOL' receive --protocol ymodemgbatch --line '$B' --dir ."
fi
