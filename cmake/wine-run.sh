#!/usr/bin/env bash
# Runs a Windows executable under Wine and passes its exit code through; the
# Windows build's CTest and tools use it as their emulator.
#
#   wine-run.sh [--prefix=DIR] [--init] [program.exe [args...]]
#
# WINEPREFIX, when set, wins; otherwise the prefix is DIR (the build folder's
# private one). A missing prefix is created first, quietly, with Mono and
# Gecko disabled so nothing asks to install them, and with Wine's crash dialog
# off so a crashing test ends with an error code instead of waiting on a window.
# --init only makes sure the prefix exists.
set -u

prefix=""
init_only=0
while [ $# -gt 0 ]; do
  case "$1" in
    --prefix=*) prefix="${1#--prefix=}"; shift ;;
    --init) init_only=1; shift ;;
    *) break ;;
  esac
done

export WINEPREFIX="${WINEPREFIX:-${prefix:-$HOME/.wine}}"
export WINEDLLOVERRIDES="mscoree,mshtml="
export WINEDEBUG="${WINEDEBUG:--all}"

ready="$WINEPREFIX/.kov-ready"
if [ ! -f "$ready" ]; then
  mkdir -p "$(dirname "$WINEPREFIX")"
  # Parallel tests may all find the prefix missing: let one create it.
  exec 9>"$WINEPREFIX.lock"
  flock 9
  if [ ! -f "$ready" ]; then
    if [ ! -f "$WINEPREFIX/system.reg" ]; then
      # A pure 32-bit prefix: KOV and its tests are 32-bit programs.
      WINEARCH=win32 wineboot -i >/dev/null 2>&1 || {
        echo "wine-run.sh: could not create the Wine prefix $WINEPREFIX" >&2
        exit 1
      }
    fi
    wine reg add 'HKCU\Software\Wine\WineDbg' /v ShowCrashDialog /t REG_DWORD /d 0 /f >/dev/null 2>&1
    # No window manager runs on the test display; unmanaged windows spare Wine
    # a 2 s wait for one each time a shown window is hidden or destroyed.
    wine reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /t REG_SZ /d N /f >/dev/null 2>&1
    # Let wineserver write the registry to disk before the prefix counts as ready.
    wineserver -w
    touch "$ready"
  fi
  flock -u 9
  exec 9>&-
fi

if [ "$init_only" -eq 1 ] || [ $# -eq 0 ]; then
  exit 0
fi
# Start the server ourselves, detached from our output: one that wine started
# would inherit this process's stdout and stderr, and CTest waits for those to
# close, so a test would last as long as the server (which outlives it to serve
# the next one). Already running: this does nothing. It stays 10 s after its
# last client.
wineserver -p10 </dev/null >/dev/null 2>&1 || true
exec wine "$@"
