#!/usr/bin/env python3
"""How late a script's time-outs and sleeps end.

A headless "/s" script, off line, waits for a text that never comes with a
100 ms time-out, then sleeps 100 ms, again and again, writing a DEBUGINFO
line after each; the lines reach standard error, where this script stamps
them.  Each gap between two lines is 100 ms plus the lateness.  The
reference, measured in the same run, is tclsh doing the same with
`after 100` and a line after each.

Prints the median and the 90th percentile of the lateness of each and
their difference.

  bench/timeout_lateness.py [BUILD_DIR] [RUNS] [ROUNDS]
"""
import os
import shutil
import statistics
import subprocess
import sys
import tempfile
import time

BUILD = sys.argv[1] if len(sys.argv) > 1 else "build"
RUNS = int(sys.argv[2]) if len(sys.argv) > 2 else 3
ROUNDS = int(sys.argv[3]) if len(sys.argv) > 3 else 20
PERIOD_MS = 100.0
QUILLNET = os.path.join(BUILD, "app", "quillnet")


def lateness(argv, marker, err):
    """Runs argv and stamps each line holding marker on the stream `err`
    ("out" or "err"); returns the gaps minus the period, in ms."""
    p = subprocess.Popen(argv, stdout=subprocess.PIPE if err == "out" else subprocess.DEVNULL,
                         stderr=subprocess.PIPE if err == "err" else subprocess.DEVNULL)
    stream = p.stdout if err == "out" else p.stderr
    stamps = []
    for line in stream:
        if marker in line:
            stamps.append(time.perf_counter())
    p.wait(timeout=60)
    if p.returncode != 0:
        raise SystemExit("%s ended with status %d" % (argv[0], p.returncode))
    if len(stamps) != 2 * ROUNDS:
        raise SystemExit("%s: %d lines, %d expected" % (argv[0], len(stamps), 2 * ROUNDS))
    return [(b - a) * 1000.0 - PERIOD_MS for a, b in zip(stamps, stamps[1:])]


def p90(xs):
    xs = sorted(xs)
    return xs[int(0.9 * (len(xs) - 1))]


def main():
    if not os.path.exists(QUILLNET):
        raise SystemExit("missing %s" % QUILLNET)
    if not shutil.which("tclsh"):
        raise SystemExit("needs tclsh (apt-get install tcl)")
    work = tempfile.mkdtemp(prefix="timeout-lateness-")
    try:
        script = os.path.join(work, "due.hsc")
        with open(script, "w") as f:
            f.write("debuginfo on\n"
                    "millitimeout %d\n"
                    "##i = 0\n"
                    "while (##i < %d)\n"
                    "  wait \"never\"\n"
                    "  debuginfo \"tick timeout\"\n"
                    "  millisleep %d\n"
                    "  debuginfo \"tick sleep\"\n"
                    "  ##i = ##i + 1\n"
                    "endwhile\n" % (PERIOD_MS, ROUNDS, PERIOD_MS))
        tcl = os.path.join(work, "due.tcl")
        with open(tcl, "w") as f:
            f.write("fconfigure stdout -buffering line\n"
                    "for {set i 0} {$i < %d} {incr i} { after %d; puts tick }\n" % (2 * ROUNDS, PERIOD_MS))
        cfg, data = os.path.join(work, "config"), os.path.join(work, "data")
        quill = [QUILLNET, "--headless", "--config-dir", cfg, "--data-dir", data, "/s", script]
        lateness(quill, b"tick", "err")  # the first start creates the stock
        q, t = [], []
        for r in range(RUNS):
            a = lateness(quill, b"tick", "err")
            b = lateness(["tclsh", tcl], b"tick", "out")
            q += a
            t += b
            print("run %d  quillnet median %.2f ms late  tclsh median %.2f ms late" %
                  (r + 1, statistics.median(a), statistics.median(b)))
        qm, tm = statistics.median(q), statistics.median(t)
        print("quillnet: median %.2f ms, 90th percentile %.2f ms late over %d waits and sleeps" % (qm, p90(q), len(q)))
        print("tclsh:    median %.2f ms, 90th percentile %.2f ms late over %d waits" % (tm, p90(t), len(t)))
        print("quillnet minus tclsh: %.2f ms at the median" % (qm - tm))
    finally:
        shutil.rmtree(work, ignore_errors=True)


if __name__ == "__main__":
    main()
