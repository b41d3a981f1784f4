#!/usr/bin/env python3
# Writes the 16 MiB Shift_JIS benchmark text: 70-byte BBS-like lines of kana
# and kanji with a running number, an ANSI colour sequence every tenth line,
# CR LF line ends.
#   bench/bbs_text.py OUT
import sys

kana = "あいうえおかきくけこさしすせそたちつてとなにぬねのはひふへほ掲示板通信電子"
out = bytearray()
i = 0
while len(out) < 16 * 1024 * 1024:
    text = "".join(kana[(i + k) % len(kana)] for k in range(30)) + "BBS-" + "%06d" % i
    line = text.encode("cp932")[:70]
    if i % 10 == 0:
        line = b"\x1b[3%dm" % (1 + i % 7) + line + b"\x1b[m"
    out += line + b"\r\n"
    i += 1
open(sys.argv[1], "wb").write(out[:16 * 1024 * 1024])
