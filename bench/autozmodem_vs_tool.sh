#!/usr/bin/env bash
# A host's ZMODEM send over telnet on loopback (inetutils telnetd behind
# socat, the "login" a script running lrzsz's sz on a random file): the
# headless program calling the host and fetching the file by the automatic
# start, against `quillnet-tool receive --protocol zmodem --telnet` fetching
# the same file from the same host.  Whole runs (connect, transfer, hang-up,
# exit), taken in turns; the median of five each, and the ratio of the
# medians (program / tool; 1.0 means as fast).
#   bench/autozmodem_vs_tool.sh [build directory] [MiB]
set -euo pipefail
build=${1:-build}
mib=${2:-32}
tool=$build/tools/quillnet-tool
prog=$build/app/quillnet
work=$(mktemp -d)
socat_pid=
cleanup() {
  [ -n "$socat_pid" ] && kill "$socat_pid" 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT

mkdir -p "$work/src" "$work/down-prog" "$work/down-tool"
head -c $((mib * 1048576)) /dev/urandom > "$work/src/big.bin"
want=$(sha256sum < "$work/src/big.bin")
cat > "$work/host.sh" <<EOF
#!/bin/sh
cd $work/src
printf 'FILE HOST\\r\\n'
sz -q big.bin 2>/dev/null
printf 'BYE\\r\\n'
EOF
chmod +x "$work/host.sh"
port=$(python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1",0)); print(s.getsockname()[1])')
socat TCP-LISTEN:"$port",reuseaddr,fork,bind=127.0.0.1 EXEC:"/usr/sbin/telnetd -h -E $work/host.sh" &
socat_pid=$!
for _ in $(seq 100); do
  python3 -c "import socket,sys; socket.create_connection(('127.0.0.1',$port),0.1)" 2>/dev/null && break
  sleep 0.05
done

"$tool" hosts telnet FILEHOST 127.0.0.1 "$port" --config-dir "$work/config" >/dev/null
"$tool" config set DownloadPath "$work/down-prog" --config-dir "$work/config" >/dev/null

run_prog() {
  rm -f "$work/down-prog/"*
  "$prog" --headless --config-dir "$work/config" --data-dir "$work/data" FILEHOST >/dev/null 2>&1
  [ "$(sha256sum < "$work/down-prog/big.bin")" = "$want" ] || { echo "the program's copy differs" >&2; exit 1; }
}
run_tool() {
  rm -f "$work/down-tool/"*
  "$tool" receive --protocol zmodem --dir "$work/down-tool" --telnet 127.0.0.1 "$port" 2>/dev/null || true
  [ "$(sha256sum < "$work/down-tool/big.bin")" = "$want" ] || { echo "the tool's copy differs" >&2; exit 1; }
}
timed() {  # milliseconds of one run of "$@"
  local s e
  s=$(date +%s%N)
  "$@"
  e=$(date +%s%N)
  echo $(((e - s) / 1000000))
}

progs=() tools=()
for _ in 1 2 3 4 5; do
  progs+=("$(timed run_prog)")
  tools+=("$(timed run_tool)")
done
python3 - "$mib" "${progs[*]}" "${tools[*]}" "$(cut -d' ' -f1 /proc/loadavg)" <<'PY'
import statistics, sys
mib = int(sys.argv[1])
progs = [int(x) for x in sys.argv[2].split()]
tools = [int(x) for x in sys.argv[3].split()]
p, t = statistics.median(progs), statistics.median(tools)
print(f"{mib} MiB random, sz behind telnetd on 127.0.0.1; load {sys.argv[4]}")
print(f"program (headless, automatic start): median {p:.0f} ms  {mib / (p / 1000):6.1f} MiB/s  runs {progs}")
print(f"quillnet-tool receive --telnet:      median {t:.0f} ms  {mib / (t / 1000):6.1f} MiB/s  runs {tools}")
print(f"ratio (program / tool):              {t / p:.2f}x")
PY
