#!/usr/bin/env bash
# Benchmarks rmrate on a file of at least 1 GB against `cat` (the disk-cache
# ceiling) and `ffprobe -show_packets` (a general demuxer doing the same walk),
# and `rmrate --stats` (the figures pass over every stream) against plain
# rmrate, with a warm page cache, and reports throughput, ratios and peak
# memory. A program to run and read, not a test: it asserts nothing.
#
#   scripts/bench.sh
#
# Environment: BENCH_SAMPLE (default samples/demo.rm), BENCH_SIZE_MB (1024),
# BENCH_DIR (build/bench), BENCH_RUNS (5: paired runs of cat, rmrate and
# rmrate --stats, one after the other, so that a busy moment hits all three;
# medians reported), BENCH_FFPROBE_RUNS (1).
set -euo pipefail
cd "$(dirname "$0")/.."

sample="${BENCH_SAMPLE:-samples/demo.rm}"
size_mb="${BENCH_SIZE_MB:-1024}"
work="${BENCH_DIR:-build/bench}"
runs="${BENCH_RUNS:-5}"
ffprobe_runs="${BENCH_FFPROBE_RUNS:-1}"

./scripts/setup.sh
mkdir -p "$work"

# A release build without sanitizers (the preset builds measure ASan, not us),
# with link-time optimisation so the reader's small field readers inline
# into the packet loop across files; without it where the toolchain lacks it.
release_flags=(-G Ninja -DCMAKE_BUILD_TYPE=Release -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++
               -DKOV_BUILD_TESTS=OFF --log-level=WARNING)
if ! cmake -S . -B "$work/release" "${release_flags[@]}" -DCMAKE_INTERPROCEDURAL_OPTIMIZATION=ON >/dev/null 2>&1; then
  rm -rf "$work/release"
  cmake -S . -B "$work/release" "${release_flags[@]}" >/dev/null
fi
cmake --build "$work/release" --target rmrate -j 2 >/dev/null
rmrate="$work/release/tools/rmrate"

# The big file: the sample looped with its packets copied as they are, so the
# packet sizes stay those of a real file. Kept between runs.
big="$work/big_$(basename "${sample%.*}")_${size_mb}mb.rm"
want=$((size_mb * 1024 * 1024))
if [ ! -f "$big" ] || [ "$(stat -c %s "$big")" -lt "$want" ] || [ "$sample" -nt "$big" ]; then
  sample_size=$(stat -c %s "$sample")
  loops=$(((want + sample_size - 1) / sample_size + 1))
  echo "bench: writing $big ($loops x $sample)" >&2
  # Without the frame rate, ffmpeg's RealMedia muxer stamps copied video
  # packets one millisecond apart.
  rate=$(ffprobe -v error -select_streams v:0 -show_entries stream=r_frame_rate -of csv=p=0 "$sample")
  ffmpeg -v error -y -stream_loop "$((loops - 1))" -i "$sample" -map 0 -c copy -r "$rate" -f rm "$big"
fi
bytes=$(stat -c %s "$big")
if [ "$bytes" -lt "$want" ]; then
  echo "bench: $big has only $bytes bytes" >&2
  exit 1
fi

# A run that stopped early would measure nothing: the file must end OK.
set +e
"$rmrate" --json "$big" >"$work/rmrate.json" 2>"$work/rmrate.err"
status=$?
set -e
if [ "$status" -ne 0 ]; then
  echo "bench: rmrate did not end ANALYSIS_OK on $big:" >&2
  cut -c1-300 "$work/rmrate.json" >&2
  exit 1
fi

# One run of a command, output discarded: "elapsed user system" in seconds.
TIMEFORMAT='%3R %3U %3S'
timed() {
  { time "$@" >/dev/null 2>&1; } 2>&1
}

# The median of whitespace-separated "elapsed user system" lines, field by
# field.
median_of() {
  awk '{ for (i = 1; i <= 3; ++i) v[i, NR] = $i } END {
    for (i = 1; i <= 3; ++i) {
      n = 0; for (r = 1; r <= NR; ++r) a[++n] = v[i, r]
      for (x = 1; x <= n; ++x) for (y = x + 1; y <= n; ++y) if (a[y] < a[x]) { t = a[x]; a[x] = a[y]; a[y] = t }
      m[i] = n % 2 ? a[(n + 1) / 2] : (a[n / 2] + a[n / 2 + 1]) / 2
    }
    printf "%.3f %.3f %.3f\n", m[1], m[2], m[3] }'
}

peak_rss_kb() {
  /usr/bin/time -v "$@" 2>&1 >/dev/null | awk -F': *' '/Maximum resident set size/ { print $2 }'
}

cat "$big" >/dev/null  # warm the page cache
: >"$work/cat.times"
: >"$work/rmrate.times"
: >"$work/stats.times"
: >"$work/ratio.times"
: >"$work/frames.times"
for _ in $(seq "$runs"); do
  c=$(timed cat "$big")
  r=$(timed "$rmrate" "$big")
  s=$(timed "$rmrate" --stats "$big")
  f=$(timed "$rmrate" --frames "$big")
  echo "$f" >>"$work/frames.times"
  echo "$c" >>"$work/cat.times"
  echo "$r" >>"$work/rmrate.times"
  echo "$s" >>"$work/stats.times"
  # The pair's own ratio, elapsed and CPU: cat's time over rmrate's.
  awk -v c="$c" -v r="$r" 'BEGIN { split(c, x, " "); split(r, y, " ");
                                   printf "%.4f %.4f 0\n", x[1] / y[1], (x[2] + x[3]) / (y[2] + y[3]) }' >>"$work/ratio.times"
done
t_cat=$(median_of <"$work/cat.times")
t_rmrate=$(median_of <"$work/rmrate.times")
t_stats=$(median_of <"$work/stats.times")
t_frames=$(median_of <"$work/frames.times")
ratio=$(median_of <"$work/ratio.times")
t_ffprobe=$(for _ in $(seq "$ffprobe_runs"); do timed ffprobe -v error -show_packets -select_streams v:0 "$big"; done | median_of)
rss_big=$(peak_rss_kb "$rmrate" "$big")
rss_small=$(peak_rss_kb "$rmrate" "$sample")
rss_stats=$(peak_rss_kb "$rmrate" --stats "$big")
rss_frames=$(peak_rss_kb "$rmrate" --frames "$big")
rss_cat=$(peak_rss_kb cat "$big")
packets=$(ffprobe -v error -select_streams v:0 -count_packets -show_entries stream=nb_read_packets -of csv=p=0 "$big" 2>/dev/null || echo "?")

awk -v bytes="$bytes" -v tc="$t_cat" -v tr="$t_rmrate" -v tf="$t_ffprobe" -v ts="$t_stats" -v rst="$rss_stats" \
    -v tfr="$t_frames" -v rfr="$rss_frames" \
    -v rb="$rss_big" -v rs="$rss_small" -v rc="$rss_cat" -v big="$big" -v sample="$sample" \
    -v packets="$packets" -v note="$(cat "$work/rmrate.err")" -v ratio="$ratio" -v runs="$runs" '
function mbs(t) { return t > 0 ? bytes / 1048576 / t : 0 }
function cpu(t,   f) { split(t, f, " "); return f[2] + f[3] }
function wall(t,   f) { split(t, f, " "); return f[1] }
BEGIN {
  printf "file      %s: %.1f MiB, %s video packets, from %s\n", big, bytes / 1048576, packets, sample
  if (note != "") printf "note      %s\n", note
  split(ratio, pr, " ")
  printf "medians of %d paired runs     elapsed s     MiB/s   CPU s\n", runs
  printf "cat       %9.3f  %8.1f  %6.3f\n", wall(tc), mbs(wall(tc)), cpu(tc)
  printf "rmrate    %9.3f  %8.1f  %6.3f  = %.1f%% of cat elapsed (pairs: %.1f%%), %.1f%% by CPU time (pairs: %.1f%%)  (target >= 90%%)\n",
         wall(tr), mbs(wall(tr)), cpu(tr), 100 * wall(tc) / wall(tr), 100 * pr[1], 100 * cpu(tc) / cpu(tr), 100 * pr[2]
  printf "--stats   %9.3f  %8.1f  %6.3f  = %.2fx plain rmrate elapsed, %.1f%% of its speed by CPU time  (one pass; its own work: the frames and the windows of every stream)\n",
         wall(ts), mbs(wall(ts)), cpu(ts), wall(ts) / wall(tr), 100 * cpu(tr) / cpu(ts)
  printf "--frames  %9.3f  %8.1f  %6.3f  = %.2fx plain rmrate elapsed  (target <= 1.5x)\n",
         wall(tfr), mbs(wall(tfr)), cpu(tfr), wall(tfr) / wall(tr)
  printf "ffprobe   %9.3f  %8.1f  %6.3f  rmrate %.1fx faster elapsed, %.1fx by CPU time  (target >= 20x)\n",
         wall(tf), mbs(wall(tf)), cpu(tf), wall(tf) / wall(tr), cpu(tf) / cpu(tr)
  printf "peak RSS  rmrate %.1f MiB on the big file, %.1f MiB on the sample; cat %.1f MiB  (target < 16 MiB)\n",
         rb / 1024, rs / 1024, rc / 1024
  printf "peak RSS  rmrate --stats %.1f MiB, --frames %.1f MiB on the big file\n", rst / 1024, rfr / 1024
}'
