#!/bin/bash
# Throughput of quillnet-tool send/receive against lrzsz: for each protocol
# the lrzsz pair is the reference, and the tool takes the place of one side in
# the same run, with the same file.  Prints the median seconds of RUNS runs
# each and the ratio reference / ours (above 1.0: we are faster).
#   bench/transfer_vs_lrzsz.sh [TOOL] [MiB] [RUNS] [WHICH]
# WHICH: all (default), zmodem, xmodem1k, ymodem, ymodemg.
#
# ZMODEM runs on one pty pair (socat PTY PTY), both sides opening a pty.
# The block protocols cannot: lrzsz's rx and rb discard their input after
# every ACK (a TCIFLUSH), and on a pty the next block is often there already,
# so each such block costs a 10 s time-out.  For them the lrzsz receiver runs
# behind socat EXEC (a socketpair, where that flush does nothing) and the
# other side opens socat's pty; every run, the reference included, has that
# same shape (one pty, socat, one socketpair).  The sender starts first and
# waits for the receiver's start character; the time runs from the
# receiver's start (lrzsz released through a fifo, the tool started) until
# the received file is whole.
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

# --- the block protocols: one pty and one socketpair --------------------------

# mixed KIND SENDER RECEIVER FILE
#   KIND recv-exec: RECEIVER (lrzsz) runs behind socat EXEC, released by a
#                   fifo; SENDER opens the pty $P.
#   KIND send-exec: SENDER (lrzsz) runs behind socat EXEC; RECEIVER opens $P.
P=$D/pty
mixed() {
  local kind=$1 snd=$2 rcv=$3 file=$4 s e size sp rp
  rm -rf "$D/dst" && mkdir "$D/dst"
  rm -f "$P" "$D/gate"
  if [ "$kind" = recv-exec ]; then
    mkfifo "$D/gate"
    printf 'read _ < "%s"\nexec %s\n' "$D/gate" "$rcv" > "$D/recv.sh"
    (cd "$D/dst" && exec socat PTY,link="$P",raw,echo=0 EXEC:"sh $D/recv.sh") 2>/dev/null &
    rp=$!
    for _ in $(seq 200); do [ -e "$P" ] && break; sleep 0.05; done
    (cd "$D/src" && eval "$snd") 2>/dev/null &
    sp=$!
    sleep 0.3  # the sender is up and waiting for the start character
    s=$(date +%s.%N)
    echo go > "$D/gate"
  else
    (cd "$D/src" && exec socat PTY,link="$P",raw,echo=0 EXEC:"$snd") 2>/dev/null &
    sp=$!
    for _ in $(seq 200); do [ -e "$P" ] && break; sleep 0.05; done
    sleep 0.3
    s=$(date +%s.%N)
    (cd "$D/dst" && eval "$rcv") 2>/dev/null &
    rp=$!
  fi
  while :; do
    size=$(stat -c %s "$D/dst/$file" 2>/dev/null || echo 0)
    [ "$size" -ge $((MIB * 1048576)) ] && break
    kill -0 "$rp" 2>/dev/null || kill -0 "$sp" 2>/dev/null || break
    sleep 0.01
  done
  e=$(date +%s.%N)
  kill "$rp" "$sp" 2>/dev/null || true
  wait "$rp" "$sp" 2>/dev/null || true
  cmp -s -n $((MIB * 1048576)) "$D/src/f.bin" "$D/dst/$file" || { echo "transfer differs: $snd | $rcv" >&2; exit 1; }
  echo "$e - $s" | bc
}

# one KIND SENDER RECEIVER FILE: a run on the pty pair (pty) or a mixed one.
one() {
  if [ "$1" = pty ]; then
    shift
    run "$@"
  else
    mixed "$@"
  fi
}

# bench NAME REFKIND REFSEND REFRECV [LABEL KIND SEND RECV]...  KIND: pty,
# recv-exec or send-exec (see mixed; a command behind EXEC is a plain word
# list, no quotes, no redirections).
bench() {
  local name=$1 rk=$2 rs=$3 rr=$4
  shift 4
  local ref="" i
  declare -a labels kinds sends recvs times
  while [ $# -gt 0 ]; do labels+=("$1"); kinds+=("$2"); sends+=("$3"); recvs+=("$4"); times+=(""); shift 4; done
  for i in $(seq "$RUNS"); do
    ref="$ref $(one "$rk" "$rs" "$rr" f.bin)"
    for k in "${!labels[@]}"; do
      times[$k]="${times[$k]} $(one "${kinds[$k]}" "${sends[$k]}" "${recvs[$k]}" f.bin)"
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
  bench "ZMODEM (sz->rz)" pty "sz -q f.bin $L_A" "rz -q $L_B" \
    "sz->us" pty "sz -q f.bin $L_A" "'$TOOL' receive --protocol zmodem --line '$B' --dir ." \
    "us->rz" pty "'$TOOL' send --protocol zmodem --line '$A' f.bin" "rz -q $L_B"
fi
L_P="<>'$P' >&0"
if [ "$WHICH" = all ] || [ "$WHICH" = xmodem1k ]; then
  bench "XMODEM-1K (sx -k->rx -c)" recv-exec "sx -qk f.bin $L_P" "rx -qc f.bin" \
    "sx->us" send-exec "sx -qk f.bin" "'$TOOL' receive --protocol xmodem1k --line '$P' f.bin" \
    "us->rx" recv-exec "'$TOOL' send --protocol xmodem1k --line '$P' f.bin" "rx -qc f.bin"
fi
if [ "$WHICH" = all ] || [ "$WHICH" = ymodem ]; then
  bench "YMODEM batch (sb -k->rb)" recv-exec "sb -qk f.bin $L_P" "rb -q" \
    "sb->us" send-exec "sb -qk f.bin" "'$TOOL' receive --protocol ymodembatch --line '$P' --dir ." \
    "us->rb" recv-exec "'$TOOL' send --protocol ymodembatch --line '$P' f.bin" "rb -q"
fi
if [ "$WHICH" = all ] || [ "$WHICH" = ymodemg ]; then
  bench "YMODEM-g (sb -k->rb as reference)" recv-exec "sb -qk f.bin $L_P" "rb -q" \
    "sb->us(g)" send-exec "sb -qk f.bin" "'$TOOL' receive --protocol ymodemgbatch --line '$P' --dir ." \
    "us(g)->us(g)" recv-exec "'$TOOL' send --protocol ymodemgbatch --line '$P' f.bin" \
    "'$TOOL' receive --protocol ymodemgbatch --dir ."
fi
