#!/usr/bin/env bash
# The long fuzz run (the regression tests only replay).
#   scripts/fuzz.sh [SECONDS [TARGET]]   default 1800 s, target rm_reader
# TARGET rm_reader fuzzes the RealMedia reader's public path; measure_file
# fuzzes KOV's whole measurement of a file (buffered reader, packet loop,
# statistics).
# Builds the native preset, writes the seed corpus, fuzzes into a working corpus
# under the build folder and prints libFuzzer's closing figures. A crash input
# lands in build/native/fuzz_<target>/artifacts; keep it under tests/fuzz/regressions/.
set -euo pipefail
cd "$(dirname "$0")/.."
seconds="${1:-1800}"
target="fuzz_${2:-rm_reader}"
build="${KOV_FUZZ_BUILD:-build/native}"

./scripts/setup.sh
if [ "$build" = build/native ]; then
  cmake --preset native >/dev/null
else
  cmake --preset native -B "$build" >/dev/null
fi
cmake --build "$build" --target "$target" make_fuzz_seeds >/dev/null

work="$build/$target"
mkdir -p "$work/seeds" "$work/corpus" "$work/artifacts"
"$build/tools/make_fuzz_seeds" "$work/seeds"

# A single allocation above 16 MiB is a finding: no input of this size
# justifies it. Inputs stay small so that executions stay fast.
"$build/tools/$target" \
  -max_total_time="$seconds" -max_len=16384 -timeout=10 -malloc_limit_mb=16 -rss_limit_mb=1024 \
  -print_final_stats=1 -artifact_prefix="$work/artifacts/" \
  "$work/corpus" "$work/seeds" samples tests/fuzz/regressions 2>&1 | tee "$work/last-run.log" | grep -E '^(#[0-9]+ +(INITED|DONE|pulse))|^stat::|ERROR|SUMMARY|Done'
