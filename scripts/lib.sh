# shellcheck shell=bash
# Shared by scripts/test.sh and scripts/run.sh: a private X display and the
# Windows build's Wine prefix. Source it from the repo root; it only defines.

# The Wine prefix of the Windows build (cmake/wine-run.sh uses the same one).
KOV_WINE_PREFIX_DEFAULT="$PWD/build/win32/wineprefix"

kov_wine() {
  "$PWD/cmake/wine-run.sh" --prefix="$KOV_WINE_PREFIX_DEFAULT" "$@"
}

# Prints a python3 that has PIL (the first on PATH may be a private one
# without it); fails when there is none.
kov_python_with_pil() {
  local candidate
  for candidate in python3 /usr/bin/python3; do
    if "$candidate" -c 'import PIL' >/dev/null 2>&1; then
      echo "$candidate"
      return 0
    fi
  done
  return 1
}

# Starts Xvfb on the first free display number from :99 to :120, exports
# DISPLAY and waits until the server accepts connections. Sets KOV_XVFB_PID.
kov_start_xvfb() {
  local n socket _
  for n in $(seq 99 120); do
    [ -e "/tmp/.X${n}-lock" ] && continue
    socket="/tmp/.X11-unix/X${n}"
    Xvfb ":${n}" -screen 0 1280x1024x24 -nolisten tcp >/dev/null 2>&1 &
    KOV_XVFB_PID=$!
    disown "$KOV_XVFB_PID" 2>/dev/null || true  # no "Terminated" line when it is stopped
    for _ in $(seq 1 100); do
      if ! kill -0 "$KOV_XVFB_PID" 2>/dev/null; then
        break  # lost the race for this number to another server; try the next
      fi
      if [ -S "$socket" ] && DISPLAY=":${n}" xdotool getdisplaygeometry >/dev/null 2>&1; then
        export DISPLAY=":${n}"
        return 0
      fi
      sleep 0.1
    done
    kill "$KOV_XVFB_PID" 2>/dev/null || true
    KOV_XVFB_PID=""
  done
  echo "could not start Xvfb on any display from :99 to :120" >&2
  return 1
}

# Stops what kov_start_xvfb and Wine left running. Prints nothing.
kov_stop_display_and_wine() {
  WINEPREFIX="${WINEPREFIX:-$KOV_WINE_PREFIX_DEFAULT}" wineserver -k >/dev/null 2>&1 || true
  if [ -n "${KOV_XVFB_PID:-}" ]; then
    kill "$KOV_XVFB_PID" >/dev/null 2>&1 || true
    KOV_XVFB_PID=""
  fi
}
