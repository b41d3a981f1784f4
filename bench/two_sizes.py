#!/usr/bin/env python3
# Reports a benchmark taken at two sizes: the median of each program's runs
# at each size, its fixed cost (what a run costs at size 0: the line through
# the two medians) and its throughput (the size difference over the time
# difference), and the throughput ratio of the first program against the
# second, the reference, measured in the same run of the script.
#   two_sizes.py TIMES UNIT SMALL LARGE GOAL
# TIMES holds one line per run: "PROGRAM SIZE MILLISECONDS" (SIZE is SMALL or
# LARGE, in UNIT); the first program named is the one measured, the other the
# reference.  Exits 1 when a median cannot give a throughput (the large runs
# not slower than the small ones).
import statistics
import sys

path, unit, small, large, goal = sys.argv[1], sys.argv[2], float(sys.argv[3]), float(sys.argv[4]), float(sys.argv[5])
runs = {}
order = []
for line in open(path):
    name, size, ms = line.split()
    if name not in runs:
        runs[name] = {small: [], large: []}
        order.append(name)
    runs[name][float(size)].append(float(ms))
if len(order) != 2:
    sys.exit("two programs expected, found: " + " ".join(order))


def ms(t):
    return ("%.1f" % t) if abs(t) < 100 else ("%.0f" % t)


def size_text(s):
    return ("%g" % s) + " " + unit


result = {}
width = max(len(n) for n in order)
for name in order:
    r = runs[name]
    ms_small, ms_large = statistics.median(r[small]), statistics.median(r[large])
    print(f"{name:<{width}}  {size_text(small)}: " + " ".join(ms(t) for t in r[small]) + " ms; "
          f"{size_text(large)}: " + " ".join(ms(t) for t in r[large]) + " ms")
    if ms_large <= ms_small:
        sys.exit(f"{name}: the {size_text(large)} runs were not slower than the {size_text(small)} runs; no throughput")
    rate = (large - small) / ((ms_large - ms_small) / 1000)
    fixed = ms_small - small / rate * 1000
    result[name] = (ms_small, ms_large, fixed, rate)

print(f"median of {len(runs[order[0]][small])} runs each, taken in turns:")
for name in order:
    ms_small, ms_large, fixed, rate = result[name]
    print(f"  {name:<{width}}  {size_text(small)} {ms(ms_small)} ms, {size_text(large)} {ms(ms_large)} ms; "
          f"fixed cost {ms(fixed)} ms, throughput {rate:.1f} {unit}/s")
subject, reference = order
ratio = result[subject][3] / result[reference][3]
whole = result[reference][1] / result[subject][1]
print(f"ratio {subject}/{reference} throughput: {ratio:.2f}x (goal at least {goal:g}x: "
      f"{'met' if ratio >= goal else 'NOT met'})")
print(f"ratio of the whole {size_text(large)} runs, fixed cost included: {whole:.2f}x")
