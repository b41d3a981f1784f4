#!/usr/bin/env bash
# Throughput of quillnet-tool feed (a fresh stock and a plain log) against
# iconv -f CP932 -t UTF-8 on the same 16 MiB Shift_JIS BBS-like text: 70-column
# lines, an ANSI colour sequence every tenth line.
#   bench/feed_vs_iconv.sh [path to quillnet-tool]
set -euo pipefail
tool=${1:-build/tools/quillnet-tool}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
python3 "$(dirname "$0")/bbs_text.py" "$work/in.sjis"
best() { local b=999999; for _ in 1 2 3; do local s e; s=$(date +%s%N); "$@"; e=$(date +%s%N); local ms=$(( (e - s) / 1000000 )); (( ms < b )) && b=$ms; done; echo $b; }
feed_ms=$(best sh -c "rm -f '$work/s.stk'; '$tool' feed '$work/s.stk' --log '$work/s.log' --log-type 1 < '$work/in.sjis'")
iconv_ms=$(best sh -c "iconv -f CP932 -t UTF-8 < '$work/in.sjis' > /dev/null")
echo "input: $(stat -c %s "$work/in.sjis") bytes"
echo "feed:  ${feed_ms} ms  ($(( 16 * 1000 / (feed_ms > 0 ? feed_ms : 1) )) MiB/s)"
echo "iconv: ${iconv_ms} ms"
python3 -c "print('ratio feed/iconv throughput: %.2fx' % ($iconv_ms / $feed_ms))"
