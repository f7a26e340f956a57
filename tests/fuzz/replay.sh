#!/usr/bin/env bash
# Replays the fuzz target over the seed corpus, the samples and every kept
# reproducer, once each: a regression test, not a fuzz run.
#   replay.sh FUZZ_TARGET SEED_WRITER SEED_DIR SAMPLES_DIR REGRESSIONS_DIR
set -euo pipefail
target="$1" seed_writer="$2" seeds="$3" samples="$4" regressions="$5"
mkdir -p "$seeds"
"$seed_writer" "$seeds"
inputs=("$seeds"/* "$samples"/*.rm "$samples"/*.rmvb)
for f in "$regressions"/*; do
  [ -f "$f" ] && [ "$(basename "$f")" != README.md ] && inputs+=("$f")
done
"$target" -runs=0 "${inputs[@]}" 2>&1 | tail -n 3
echo "replayed ${#inputs[@]} inputs"
