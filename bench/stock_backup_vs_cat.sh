#!/usr/bin/env bash
# Backup and restore through quillnet-tool on a 1,000,000-line backup-mode
# stock of 80 columns (79 bytes of text per line, no calls):
#   - the text backup (format 1: .txt + .sti) of every line against cat of
#     the stock's export into a file (rate = cat time / backup time),
#   - restoring that backup against feeding its text into a new stock
#     (`stock append`; rate = append time / restore time).
# Five runs of each, taken in turns; prints the medians and the rates.
#   bench/stock_backup_vs_cat.sh [path/to/quillnet-tool] [lines]
set -euo pipefail
tool=$(realpath "${1:-build/tools/quillnet-tool}")
lines=${2:-1000000}
dir=$(mktemp -d)
trap 'rm -rf "$dir"' EXIT

python3 - "$dir/text.txt" "$lines" <<'PY'
import sys
path, n = sys.argv[1], int(sys.argv[2])
with open(path, "w") as f:
    for i in range(n):
        f.write("%09d " % i + chr(97 + i % 26) * 69 + "\n")
PY
"$tool" stock create "$dir/s.stk" --backup-lines 9000000 --columns 80
"$tool" stock append "$dir/s.stk" <"$dir/text.txt"
"$tool" stock export "$dir/s.stk" >"$dir/export.txt"

python3 - "$tool" "$dir" "$lines" <<'PY'
import statistics, subprocess, sys, time, os
tool, d, n = sys.argv[1], sys.argv[2], int(sys.argv[3])

def run(argv, stdin=None, stdout=subprocess.DEVNULL):
    t = time.perf_counter()
    subprocess.run(argv, stdin=stdin, stdout=stdout, check=True)
    return time.perf_counter() - t

def cat():
    with open(d + "/cat.txt", "wb") as out:
        return run(["cat", d + "/export.txt"], stdout=out)

def backup():
    return run([tool, "stock", "backup", d + "/s.stk", "--format", "1", "--lines", str(n + 1),
                "--dir", d, "--name", "bk", "--force"])

def restore():
    return run([tool, "stock", "restore", d + "/bk.txt", "--to", d + "/restored.stk"])

def feed():
    subprocess.run([tool, "stock", "create", d + "/fed.stk", "--backup-lines", "9000000", "--force"],
                   check=True, stdout=subprocess.DEVNULL)
    with open(d + "/bk.txt", "rb") as f:
        return run([tool, "stock", "append", d + "/fed.stk"], stdin=f)

backup()
expect = open(d + "/export.txt", "rb").read().replace(b"\n", b"\r\n")
if open(d + "/bk.txt", "rb").read() != expect:
    sys.exit("the text backup differs from the export with CR LF")
restore()
out = subprocess.run([tool, "stock", "export", d + "/restored.stk"], check=True, capture_output=True).stdout
if out != open(d + "/export.txt", "rb").read():
    sys.exit("the restored stock differs from the original")

times = {"cat": [], "backup": [], "restore": [], "append": []}
for _ in range(5):
    times["cat"].append(cat())
    times["backup"].append(backup())
    times["append"].append(feed())
    times["restore"].append(restore())
m = {k: statistics.median(v) * 1000 for k, v in times.items()}
print(f"{n} lines, load {os.getloadavg()[0]:.1f}")
for k in ("cat", "backup", "append", "restore"):
    print(f"  {k:8s} median {m[k]:8.1f} ms")
print(f"text backup rate against cat of the export: {m['cat'] / m['backup']:.2f}x (goal >= 0.5)")
print(f"restore rate against append of the text:   {m['append'] / m['restore']:.2f}x (goal >= 0.8)")
PY
