#!/usr/bin/env bash
# Bytes through a pty pair: a peer behind socat sends a file into one end of
# the pair, and the other end is read either by COMPORT (bench_pty_driver:
# binary mode, DoReceive and the queue in blocks) or by a second socat
# (socat copying the same pair on its own).  COMPORT runs twice: with the
# serial reader's own 4096 bytes per read, and with 256 for comparison.
# Reports MiB/s, best of the runs (taken in turns), and the ratios.
#   bench/pty_throughput.sh [MiB] [runs] [build-dir]
set -euo pipefail
cd "$(dirname "$0")/.."
mib=${1:-64}
runs=${2:-5}
build=${3:-build}
driver=$build/bench/bench_pty_driver
[ -x "$driver" ] || { echo "missing $driver: run scripts/build first" >&2; exit 1; }
bytes=$((mib * 1048576))
work=$(mktemp -d /tmp/quillnet-bench-XXXXXX)
peers=()
cleanup() {
  for p in "${peers[@]}"; do kill -KILL -- "-$p" 2>/dev/null || true; done
  rm -rf "$work"
}
trap cleanup EXIT

head -c "$bytes" /dev/urandom > "$work/data"
expected=$("$driver" --sum "$work/data")
# The peer waits (at most 10 s) until the reader has the device open.
cat > "$work/peer.sh" <<PEER
n=0; while [ ! -e "$work/go" ] && [ \$n -lt 1000 ]; do sleep 0.01; n=\$((n+1)); done
exec cat "$work/data"
PEER

start_peer() {  # socat with the sending peer, in its own process group
  rm -f "$work/go" "$work/tty"
  setsid socat "PTY,link=$work/tty,raw,echo=0" "EXEC:/bin/sh $work/peer.sh" &
  peers+=($!)
  for _ in $(seq 1000); do [ -e "$work/tty" ] && return 0; sleep 0.01; done
  echo "socat did not publish the pty" >&2
  exit 1
}
stop_peer() { kill -KILL -- "-${peers[-1]}" 2>/dev/null || true; wait "${peers[-1]}" 2>/dev/null || true; }

port_run() {  # [read chunk]; prints MiB/s
  start_peer
  local out
  out=$("$driver" "$work/tty" "$bytes" "$work/go" "$@")
  stop_peer
  [ "sum=${out##*sum=}" = "$expected" ] || { echo "COMPORT received other bytes: $out" >&2; exit 1; }
  local r=${out#*mib_per_s=}
  echo "${r%% *}"
}

socat_run() {  # prints MiB/s
  start_peer
  socat -u "OPEN:$work/tty,rawer,readbytes=$bytes" "OPEN:$work/out,creat,trunc" &
  local reader=$!
  sleep 0.2  # let it open the device before the peer starts
  local t0 t1
  t0=$(date +%s%N)
  touch "$work/go"
  wait "$reader"
  t1=$(date +%s%N)
  stop_peer
  [ "$(stat -c %s "$work/out")" = "$bytes" ] || { echo "socat received $(stat -c %s "$work/out") bytes" >&2; exit 1; }
  awk -v b="$bytes" -v ns=$((t1 - t0)) 'BEGIN { printf "%.1f\n", b / 1048576 / (ns / 1e9) }'
}

best() { tr ' ' '\n' | sort -g | tail -1; }
ratio() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.2f", a / b }'; }
p256="" p4096="" soc=""
for _ in $(seq "$runs"); do
  p256+=" $(port_run 256)"
  p4096+=" $(port_run 4096)"
  soc+=" $(socat_run)"
done
p256=$(echo $p256 | best) p4096=$(echo $p4096 | best) soc=$(echo $soc | best)
echo "pty pair, $mib MiB, best of $runs:"
echo "  socat                        $soc MiB/s"
echo "  COMPORT, 256 bytes per read  $p256 MiB/s  ($(ratio "$p256" "$soc") x socat)"
echo "  COMPORT, 4096 (default) per read $p4096 MiB/s  ($(ratio "$p4096" "$soc") x socat)"
