#!/usr/bin/env bash
# The tree and backup figures on a 1,000,000-line stock of 3,000 calls (80
# columns; each call a connect line and the demo host's menu, boards and
# messages, tagged by the demo syntax):
#   - `stock tree --all` against `stock export` (rate = export / tree time),
#   - the text backup of every line, format 1 (.txt + .sti) and format 2
#     (.txt), against `cat` of the export into a file (rate = cat / backup);
#     every run writes a new file (the previous one is removed beforehand,
#     outside the timing, for both); `cat` followed by `sync FILE` is shown
#     beside it, since the backup syncs its files before renaming them,
#   - `stock restore` of that text against `feed` of it into a new stock
#     (and against `stock append`),
#   - TREE::Initialize and a view's first fill of the model on that stock
#     against an empty one (bench_tree_start, when it is built).
# RUNS runs of each, taken in turns; prints every median and rate.
#   bench/tree_backup.sh [BUILD_DIR] [RUNS] [CALLS] [LINES]
#   (bench_tree_start: ninja -C BUILD_DIR bench/bench_tree_start)
set -euo pipefail
build=$(realpath "${1:-build}")
runs=${2:-5}
calls=${3:-3000}
lines=${4:-1000000}
tool=$build/tools/quillnet-tool
tag=$build/tools/demo.tag
# TREE_BACKUP_KEEP=DIR keeps the stock and the files in DIR for a look.
if [[ -n "${TREE_BACKUP_KEEP:-}" ]]; then
  dir=$TREE_BACKUP_KEEP
  mkdir -p "$dir"
else
  dir=$(mktemp -d)
  trap 'rm -rf "$dir"' EXIT
fi

python3 - "$dir/big" "$calls" "$lines" <<'PY'
import sys, datetime
out, calls, total = sys.argv[1], int(sys.argv[2]), int(sys.argv[3])
per, extra = divmod(total, calls)
def call_lines(n):
    body = ["＝＝　メインメニュー　＝＝", "1) 掲示板", "■ 掲示板一覧"]
    b = 0
    while len(body) < n - 3:
        b += 1
        body += ["■ 掲示板 %d: 雑談  （x）" % b, "  No.   日付"]
        for m in range(1, 31):
            body += ["#%04d/0030 a" % m, "★taro (x", "本文 %d の %d" % (b, m), "続きの行", ""]
    return body[: n - 3] + ["現在のアクセス者", "bob"]
start = datetime.date(2018, 1, 1)
text, marks = bytearray(), bytearray()
for c in range(calls):
    n = per + (1 if c < extra else 0)
    d = start + datetime.timedelta(days=c * 2 // 3)
    for i, l in enumerate(["Demo - %s 10:%02d" % (d.strftime("%Y/%m/%d"), c % 60)] + call_lines(n)):
        text += l.encode("cp932") + b"\r\n"
        marks.append(0xFE if i == 0 else 0xFF)
hdr = bytearray(892)
magic = b"Quillnet Longreach Stock file backup info Header"
hdr[: len(magic)] = magic
open(out + ".txt", "wb").write(text)
open(out + ".sti", "wb").write(bytes(hdr) + marks)
PY
"$tool" stock restore "$dir/big.txt" --to "$dir/s.stk" >/dev/null
"$tool" stock retag "$dir/s.stk" "$tag" >/dev/null
"$tool" stock export "$dir/s.stk" >"$dir/export.txt"

python3 - "$build" "$dir" "$runs" "$lines" <<'PY'
import os, re, resource, statistics, subprocess, sys, time
build, d, runs, n = sys.argv[1], sys.argv[2], int(sys.argv[3]), int(sys.argv[4])
tool = build + "/tools/quillnet-tool"
null = subprocess.DEVNULL

cpu = {}  # CPU seconds (user + system) of the last timed child, by job

def child_cpu():
    r = resource.getrusage(resource.RUSAGE_CHILDREN)
    return r.ru_utime + r.ru_stime

def timed(argv, stdin=None, stdout=null):
    c = child_cpu()
    t = time.perf_counter()
    subprocess.run(argv, stdin=stdin, stdout=stdout, check=True)
    wall = time.perf_counter() - t
    cpu["last"] = child_cpu() - c
    return wall

def fresh(*paths):
    for p in paths:
        if os.path.exists(p):
            os.unlink(p)

def cat(sync):
    fresh(d + "/cat.txt")
    with open(d + "/cat.txt", "wb") as out:
        c = child_cpu()
        t = time.perf_counter()
        subprocess.run(["cat", d + "/export.txt"], stdout=out, check=True)
        if sync:
            os.fsync(out.fileno())
        cpu["last"] = child_cpu() - c
        return time.perf_counter() - t

def backup(fmt):
    fresh(d + "/bk.txt", d + "/bk.sti")
    return timed([tool, "stock", "backup", d + "/s.stk", "--format", str(fmt), "--lines", str(n + 1),
                  "--dir", d, "--name", "bk"])

def restore():
    fresh(d + "/restored.stk")
    return timed([tool, "stock", "restore", d + "/bk.txt", "--to", d + "/restored.stk"])

def feed():
    fresh(d + "/fed.stk")
    subprocess.run([tool, "stock", "create", d + "/fed.stk", "--backup-lines", "9000000"], check=True, stdout=null)
    with open(d + "/bk.txt", "rb") as f:
        return timed([tool, "feed", d + "/fed.stk"], stdin=f)

def append():
    fresh(d + "/app.stk")
    subprocess.run([tool, "stock", "create", d + "/app.stk", "--backup-lines", "9000000"], check=True, stdout=null)
    with open(d + "/bk.txt", "rb") as f:
        return timed([tool, "stock", "append", d + "/app.stk"], stdin=f)

# The results are checked once before anything is timed.
export = open(d + "/export.txt", "rb").read()
backup(1)
if open(d + "/bk.txt", "rb").read() != export.replace(b"\n", b"\r\n"):
    sys.exit("the text backup differs from the export with CR LF")
restore()
if subprocess.run([tool, "stock", "export", d + "/restored.stk"], check=True, capture_output=True).stdout != export:
    sys.exit("the restored stock differs from the original")
tree = subprocess.run([tool, "stock", "tree", d + "/s.stk", "--all"], check=True, capture_output=True).stdout
calls = len(re.findall(rb"^    \d\d:\d\d Demo", tree, re.M))
items = tree.count(b"\n")

jobs = {
    "export": lambda: timed([tool, "stock", "export", d + "/s.stk"]),
    "tree --all": lambda: timed([tool, "stock", "tree", d + "/s.stk", "--all"]),
    "cat": lambda: cat(False),
    "cat+sync": lambda: cat(True),
    "backup 1": lambda: backup(1),
    "backup 2": lambda: backup(2),
    "append": append,
    "feed": feed,
}
times = {k: [] for k in list(jobs) + ["restore"]}
cpus = {k: [] for k in times}
load = [os.getloadavg()[0]]
for _ in range(runs):
    for k, job in jobs.items():
        times[k].append(job())
        cpus[k].append(cpu["last"])
    backup(1)
    times["restore"].append(restore())
    cpus["restore"].append(cpu["last"])
load.append(os.getloadavg()[0])
m = {k: statistics.median(v) * 1000 for k, v in times.items()}
c = {k: max(statistics.median(v) * 1000, 0.1) for k, v in cpus.items()}
print(f"{n} lines, {calls} calls, {items} tree items; {runs} runs each in turns; "
      f"load {load[0]:.1f} at the start, {load[1]:.1f} at the end")
for k in m:
    print(f"  {k:10s} wall median {m[k]:8.1f} ms, CPU median {c[k]:8.1f} ms;  wall runs "
          + " ".join(f"{x * 1000:.0f}" for x in times[k]))
def rate(ref, what):
    return f"{m[ref] / m[what]:.2f}x wall, {c[ref] / c[what]:.2f}x CPU"
print(f"tree --all against export:        {rate('export', 'tree --all')} (goal >= 0.5)")
print(f"text backup (1) against cat:      {rate('cat', 'backup 1')} (goal >= 0.5); against cat+sync {rate('cat+sync', 'backup 1')}")
print(f"text backup (2) against cat:      {rate('cat', 'backup 2')} (goal >= 0.5); against cat+sync {rate('cat+sync', 'backup 2')}")
print(f"restore against feed of the text: {rate('feed', 'restore')} (goal >= 0.8); against append {rate('append', 'restore')}")

bench = build + "/bench/bench_tree_start"
if os.path.exists(bench):
    out = subprocess.run([bench, f"--benchmark_repetitions={runs}", "--benchmark_report_aggregates_only=true",
                          "--benchmark_format=csv"], env=dict(os.environ, QUILLNET_TREE_STOCK=d + "/s.stk"),
                         check=True, capture_output=True, text=True).stdout
    med = {}
    for row in out.splitlines():
        f = row.split(",")
        if len(f) > 3 and f[0].strip('"').endswith("_median"):
            med[f[0].strip('"').split("/")[0].replace("_median", "")] = float(f[2])  # real_time, ms
    e, s = med.get("BM_TreeStartEmpty"), med.get("BM_TreeStartStock")
    if e is not None and s is not None:
        print(f"tree start (Initialize + model fill): empty {e:.3f} ms, stock {s:.1f} ms, "
              f"{s - e:.1f} ms above empty (goal < 100)")
else:
    print("tree start: not measured (build bench/bench_tree_start first)")
PY
