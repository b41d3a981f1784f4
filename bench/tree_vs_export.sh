#!/usr/bin/env bash
# stock tree --all against stock export over the same stock: CALLS calls (each
# a connect line and the demo BBS's screens, matched by the demo syntax as they
# arrive), one call a day.  Prints the median of RUNS runs of each and the
# ratio of their speeds (export time / tree time).
#   bench/tree_vs_export.sh [quillnet-tool] [CALLS] [RUNS]
set -euo pipefail
tool=${1:-build/tools/quillnet-tool}
calls=${2:-300}
runs=${3:-5}
tag=$(dirname "$tool")/demo.tag
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
printf '＝＝　メインメニュー　＝＝\r\n1) 掲示板\r\n■ 掲示板一覧\r\n■ 掲示板 1: 雑談  （x）\r\n  No.   日付\r\n#0002/0003 a\r\n★taro (x\r\n本文\r\n現在のアクセス者\r\nbob\r\n\r\n' \
  | iconv -f UTF-8 -t CP932 > "$work/call.sjis"
for ((i = 0; i < calls; i++)); do
  d=$(date -u -d "2020-01-01 + $i days" +%Y/%m/%d)
  "$tool" feed "$work/s.stk" --lines 1000000 --tag "$tag" --connect Demo --date "$d 10:00" < "$work/call.sjis" > /dev/null
done
median() {
  local t=()
  for ((r = 0; r < runs; r++)); do
    local s e
    s=$(date +%s%N); "$@" > /dev/null; e=$(date +%s%N)
    t+=($(( (e - s) / 1000 )))
  done
  printf '%s\n' "${t[@]}" | sort -n | sed -n "$(( (runs + 1) / 2 ))p"
}
tree_us=$(median "$tool" stock tree "$work/s.stk" --all)
export_us=$(median "$tool" stock export "$work/s.stk")
echo "stock: $calls calls, $("$tool" stock tree "$work/s.stk" --all | wc -l) tree items; load $(cut -d' ' -f1 /proc/loadavg)"
echo "stock tree --all: ${tree_us} us (median of $runs)"
echo "stock export:     ${export_us} us (median of $runs)"
python3 -c "print('ratio tree/export speed: %.2fx' % ($export_us / $tree_us))"
