#!/usr/bin/env bash
# Benchmarks rmrate --report on a folder of copies of the samples: -j 1
# against -j 2 (paired runs, medians, the page cache warm), whether both
# write the same bytes, and peak memory. A program to run and read, not a
# test: it asserts nothing but the identical output. Run it on a quiet
# machine; it prints the load average before and after.
#
#   scripts/bench-report.sh
#
# Environment: BENCH_COPIES (200 copies of every sample), BENCH_DIR
# (build/bench), BENCH_RUNS (9 pairs).
set -euo pipefail
cd "$(dirname "$0")/.."

copies="${BENCH_COPIES:-200}"
work="${BENCH_DIR:-build/bench}"
runs="${BENCH_RUNS:-9}"

./scripts/setup.sh
mkdir -p "$work"
# A release build without sanitizers, as scripts/bench.sh builds it.
cmake -S . -B "$work/release" -G Ninja -DCMAKE_BUILD_TYPE=Release -DCMAKE_C_COMPILER=clang \
  -DCMAKE_CXX_COMPILER=clang++ -DKOV_BUILD_TESTS=OFF --log-level=WARNING >/dev/null
cmake --build "$work/release" --target rmrate -j 2 >/dev/null
rmrate="$work/release/tools/rmrate"

tree="$work/report-tree-$copies"
if [ ! -d "$tree" ]; then
  echo "bench: writing $tree ($copies copies of every sample)" >&2
  for i in $(seq -w 1 "$copies"); do
    mkdir -p "$tree/copy$i"
    cp samples/*.rm samples/*.rmvb "$tree/copy$i/"
  done
fi
files=$(find "$tree" -type f | wc -l)
bytes=$(du -sb "$tree" | cut -f1)
cat "$tree"/*/* >/dev/null  # warm the page cache

TIMEFORMAT='%3R %3U %3S'
timed() {
  { time "$@" >/dev/null 2>&1; } 2>&1
}
median() {
  sort -n | awk '{ a[NR] = $1 } END { print NR % 2 ? a[(NR + 1) / 2] : (a[NR / 2] + a[NR / 2 + 1]) / 2 }'
}

echo "load before: $(uptime)"
"$rmrate" --report -j 1 "$tree" >"$work/report-j1.jsonl" || true
"$rmrate" --report -j 2 "$tree" >"$work/report-j2.jsonl" || true
if cmp -s "$work/report-j1.jsonl" "$work/report-j2.jsonl"; then same="the same bytes"; else same="DIFFERENT OUTPUT"; fi
: >"$work/report.times"
for _ in $(seq "$runs"); do
  one=$(timed "$rmrate" --report -j 1 "$tree")
  two=$(timed "$rmrate" --report -j 2 "$tree")
  echo "$one $two" >>"$work/report.times"
done
echo "load after:  $(uptime)"
j1=$(awk '{ print $1 }' "$work/report.times" | median)
j2=$(awk '{ print $4 }' "$work/report.times" | median)
pairs=$(awk '{ print $1 / $4 }' "$work/report.times" | median)
rss() { /usr/bin/time -v "$@" 2>&1 >/dev/null | awk -F': *' '/Maximum resident set size/ { print $2 }'; }
rss1=$(rss "$rmrate" --report -j 1 "$tree")
rss2=$(rss "$rmrate" --report -j 2 "$tree")
awk -v files="$files" -v bytes="$bytes" -v j1="$j1" -v j2="$j2" -v pairs="$pairs" -v runs="$runs" \
    -v same="$same" -v rss1="$rss1" -v rss2="$rss2" -v tree="$tree" 'BEGIN {
  printf "tree      %s: %d files, %.1f MiB\n", tree, files, bytes / 1048576
  printf "medians of %d paired runs   elapsed s   files/s    MiB/s\n", runs
  printf "-j 1      %12.3f  %8.0f  %7.1f\n", j1, files / j1, bytes / 1048576 / j1
  printf "-j 2      %12.3f  %8.0f  %7.1f\n", j2, files / j2, bytes / 1048576 / j2
  printf "speed-up  %.2fx (median of the pairs: %.2fx)  (target >= 1.6x on two cores); output: %s\n",
         j1 / j2, pairs, same
  printf "peak RSS  -j 1 %.1f MiB, -j 2 %.1f MiB\n", rss1 / 1024, rss2 / 1024
}'
