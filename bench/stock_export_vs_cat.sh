#!/usr/bin/env bash
# Stock benchmarks through quillnet-tool, on a 1,000,000-line stock of 80
# columns (79 bytes of text per line):
#   - append from standard input (lines per second),
#   - export against cat of a text file of the same size (both to /dev/null),
#     at 100,000 and 1,000,000 lines, five runs of each taken in turns: the
#     medians, the fixed cost (start-up) and the throughput from the
#     difference (bench/two_sizes.py); each export must equal its text,
#   - open: the peak resident memory of `stock info` on that stock against
#     the same on an empty stock, and its wall time.
#   bench/stock_export_vs_cat.sh [path/to/quillnet-tool]
set -euo pipefail
tool=$(realpath "${1:-build/tools/quillnet-tool}")
dir=$(mktemp -d)
trap 'rm -rf "$dir"' EXIT
lines=1000000
small=100000
here=$(cd "$(dirname "$0")" && pwd)

python3 - "$dir/text.txt" "$lines" <<'PY'
import sys
path, n = sys.argv[1], int(sys.argv[2])
with open(path, "w") as f:
    for i in range(n):
        f.write("%09d " % i + chr(97 + i % 26) * 69 + "\n")
PY
head -n $small "$dir/text.txt" >"$dir/small.txt"

"$tool" stock create "$dir/s.stk" --lines $((lines + 100)) --columns 80
"$tool" stock create "$dir/empty.stk" --lines "$lines" --columns 80
"$tool" stock create "$dir/small.stk" --lines $((small + 100)) --columns 80
"$tool" stock append "$dir/small.stk" <"$dir/small.txt"

python3 - "$tool" "$dir" "$lines" "$small" "$here" <<'PY'
import os, resource, subprocess, sys, time
tool, d, n, small, here = sys.argv[1], sys.argv[2], int(sys.argv[3]), int(sys.argv[4]), sys.argv[5]
text, stk, empty = d + "/text.txt", d + "/s.stk", d + "/empty.stk"

def run(argv, stdin=None, stdout=subprocess.DEVNULL):
    t = time.perf_counter()
    subprocess.run(argv, stdin=stdin, stdout=stdout, check=True)
    return time.perf_counter() - t

with open(text, "rb") as f:
    t = run([tool, "stock", "append", stk], stdin=f)
print(f"append: {n} lines in {t:.3f} s = {n / t / 1e6:.2f} M lines/s")

sizes = {small: (d + "/small.stk", d + "/small.txt"), n: (stk, text)}
for count, (s, t) in sizes.items():
    with open(d + "/out.txt", "wb") as out:
        run([tool, "stock", "export", s], stdout=out)
    if open(d + "/out.txt", "rb").read() != open(t, "rb").read():
        sys.exit(f"the export of the {count}-line stock differs from its text")
print("both exports equal their texts")

# Five runs of each at each size, in turns; a failed run stops the script.
with open(d + "/times", "w") as times:
    for _ in range(5):
        for count, (s, t) in sizes.items():
            times.write("export %g %.3f\n" % (count / 1e6, run([tool, "stock", "export", s]) * 1000))
            times.write("cat %g %.3f\n" % (count / 1e6, run(["cat", t]) * 1000))
print(f"text: {os.path.getsize(text) / 1e6:.0f} MB for {n} lines")
sys.stdout.flush()
subprocess.run([sys.executable, here + "/two_sizes.py", d + "/times", "M lines", str(small / 1e6), str(n / 1e6), "0.6"],
               check=True)

def peak_kb(argv):
    # Peak resident set of the program itself, as /usr/bin/time reports it.
    r = subprocess.run(["/usr/bin/time", "-f", "%M"] + argv, stdout=subprocess.DEVNULL,
                       stderr=subprocess.PIPE, check=True, text=True)
    return int(r.stderr.strip().splitlines()[-1])

full, base = peak_kb([tool, "stock", "info", stk]), peak_kb([tool, "stock", "info", empty])
best_info = min(run([tool, "stock", "info", stk]) for _ in range(5))
best_info_empty = min(run([tool, "stock", "info", empty]) for _ in range(5))
print(f"open ({n} lines): info takes {best_info * 1000:.1f} ms (empty stock: {best_info_empty * 1000:.1f} ms), "
      f"peak resident {full / 1024:.1f} MB vs {base / 1024:.1f} MB empty: +{(full - base) / 1024:.1f} MB")
PY
