#!/usr/bin/env python3
# Checks that a stock holds the tail of a Shift_JIS text it received, line for
# line and in order, with nothing lost: the exported stock (standard input)
# must end with the text's last lines, as many of them as the stock can hold.
#   quillnet-tool stock export STOCK | check_stock_tail.py TEXT MIN_LINES
# The text's colour sequences (ESC [ ... m) are not part of the stored lines.
# Lines of the stock before the text's (a connect line) are skipped.  Exits 1
# with a message when fewer than MIN_LINES of the text's last lines (or all of
# them, if it has fewer) are found at the stock's end.
import re
import sys

text = re.sub(rb"\x1b\[[0-9;]*m", b"", open(sys.argv[1], "rb").read())
want = text.split(b"\r\n")
if want and want[-1] == b"":
    want.pop()
need = min(int(sys.argv[2]), len(want))
got = sys.stdin.buffer.read().split(b"\n")
if got and got[-1] == b"":
    got.pop()
# Walk back from the end while the stock and the text agree.
k = 0
while k < len(got) and k < len(want) and got[-1 - k] == want[-1 - k]:
    k += 1
if k < need:
    where = "the stock's last line" if k == 0 else f"line {len(got) - k} of the export"
    sys.exit(f"the stock ends with only {k} of the text's last lines (at least {need} expected); "
             f"they differ at {where}: {got[-1 - k][:40] if k < len(got) else b'(none)'!r} "
             f"against {want[-1 - k][:40] if k < len(want) else b'(none)'!r}")
print(f"stock ends with the text's last {k} lines", file=sys.stderr)
