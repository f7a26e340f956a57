#!/usr/bin/env bash
# Builds KOV.EXE and runs it under Wine on samples/demo.rm, the way a user
# starts it with a file: KOV.EXE /Z:\...\samples\demo.rm. Installs what is
# missing first.
#
# With a display (DISPLAY set), KOV opens there; the script ends when KOV
# does. Without one, KOV runs inside a private Xvfb: the script waits until
# the chart is drawn, saves a screenshot of the window to build/kov-demo.png,
# prints its path, closes KOV and stops the display.
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/lib.sh

./scripts/setup.sh

cmake --preset win32 --log-level=WARNING
cmake --build --preset win32 --target KOV

kov_exe="$PWD/build/win32/KOV.EXE"
sample="$PWD/samples/demo.rm"
screenshot="$PWD/build/kov-demo.png"

kov_wine --init
export WINEPREFIX="$KOV_WINE_PREFIX_DEFAULT"
export WINEDEBUG="${WINEDEBUG:--all}"

headless=0
if [ -z "${DISPLAY:-}" ]; then
  headless=1
  # Before any Wine program starts: the first one brings up Wine's desktop
  # process on whatever display it finds.
  trap kov_stop_display_and_wine EXIT
  kov_start_xvfb
fi

# KOV takes everything after the first '/' of its command line as the path.
windows_path=$(winepath -w "$sample")

if [ "$headless" -eq 0 ]; then
  echo "Starting KOV.EXE /$windows_path on $DISPLAY"
  set +e
  kov_wine "$kov_exe" "/$windows_path"
  exit $?
fi

python=$(kov_python_with_pil) || {
  echo "run.sh: python3 with PIL (python3-pil) is needed for the screenshot" >&2
  exit 1
}

echo "No display: running KOV.EXE /$windows_path on a private Xvfb ($DISPLAY)"
# The pointer to the screen's corner: resting over the plot, it would put the
# readout of the window under it into the screenshot.
xdotool mousemove 0 0 || true
# Started directly, not through the kov_wine function, so that $! is KOV's own
# process (the wrapper and wine exec): its window is found by that id.
cmake/wine-run.sh --prefix="$KOV_WINE_PREFIX_DEFAULT" "$kov_exe" "/$windows_path" &
kov_pid=$!

status=0
"$python" tests/shell/kov_screen.py wait-chart --pid "$kov_pid" --packets samples/demo.packets.txt \
  --out "$screenshot" --timeout 120 || status=$?
"$python" tests/shell/kov_screen.py close --pid "$kov_pid" >/dev/null 2>&1 || true
for _ in $(seq 1 100); do
  kill -0 "$kov_pid" 2>/dev/null || break
  sleep 0.1
done
if [ "$status" -ne 0 ]; then
  echo "run.sh: KOV did not show the chart of demo.rm in time" >&2
  exit "$status"
fi
wait "$kov_pid" || status=$?
echo "KOV drew the chart of samples/demo.rm (screenshot above) and ended with exit code $status."
exit "$status"
