#!/usr/bin/env bash
# End to end: starts KOV.EXE under Wine with '/' and the Windows path of a
# sample, as a user would type it, waits until the window shows that sample's
# chart (checked on a screenshot at the pixels computed from the sample's
# packet list), closes the window as a title bar's close box does, and
# expects exit code 0.
#
#   end_to_end.sh KOV.EXE SAMPLE.rm WINEPREFIX [SCREENSHOT.png]
#
# Needs DISPLAY (scripts/test.sh provides its own Xvfb).
set -u

kov_exe=$1
sample=$2
prefix=$3
shot=${4:-$(dirname "$kov_exe")/kov_end_to_end.png}
here=$(cd "$(dirname "$0")" && pwd)
root=$(cd "$here/../.." && pwd)

fail() {
  echo "end_to_end: $*" >&2
  exit 1
}

[ -n "${DISPLAY:-}" ] || fail "no DISPLAY: run it through scripts/test.sh or start Xvfb first"
[ -f "$kov_exe" ] || fail "$kov_exe not built"
packets="${sample%.*}.packets.txt"
[ -f "$packets" ] || fail "no packet list $packets beside $sample"

# shellcheck source=../../scripts/lib.sh
source "$root/scripts/lib.sh"
python=$(kov_python_with_pil) || fail "python3 with PIL (python3-pil) is needed"

"$root/cmake/wine-run.sh" --prefix="$prefix" --init || fail "no Wine prefix"
export WINEPREFIX="$prefix"
export WINEDEBUG="${WINEDEBUG:--all}"
windows_path=$(winepath -w "$sample" 2>/dev/null) || fail "winepath failed for $sample"

wine "$kov_exe" "/$windows_path" &
kov_pid=$!
# If anything below fails, KOV must not outlive the test.
trap 'kill "$kov_pid" 2>/dev/null' EXIT

"$python" "$here/kov_screen.py" wait-chart --pid "$kov_pid" --packets "$packets" --out "$shot" --timeout 90 ||
  fail "the chart of $(basename "$sample") did not appear as computed"

"$python" "$here/kov_screen.py" close --pid "$kov_pid" || fail "could not ask KOV to close"
for _ in $(seq 1 300); do
  kill -0 "$kov_pid" 2>/dev/null || break
  sleep 0.1
done
kill -0 "$kov_pid" 2>/dev/null && fail "KOV did not end within 30 s of being closed"
wait "$kov_pid"
status=$?
trap - EXIT
[ "$status" -eq 0 ] || fail "KOV ended with exit code $status"
echo "end_to_end: chart of $(basename "$sample") checked, KOV closed with exit code 0"
