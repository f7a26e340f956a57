#!/usr/bin/env bash
# Installs what building and testing KOV needs on Debian 12. Idempotent: when every
# tool is already there it only checks and returns within a second or two.
set -euo pipefail

need=()
have_cmd() { command -v "$1" >/dev/null 2>&1; }
have_pkg() { [ "$(dpkg-query -W -f='${Status}' "$1" 2>/dev/null)" = 'install ok installed' ]; }

have_cmd cmake || need+=(cmake)
have_cmd ninja || need+=(ninja-build)
have_cmd g++ || need+=(g++)
have_cmd clang++ || need+=(clang)
have_pkg libclang-rt-14-dev || need+=(libclang-rt-14-dev)
# Turns sanitizer reports' addresses into file:line.
have_cmd llvm-symbolizer || need+=(llvm)
[ -f /usr/src/googletest/CMakeLists.txt ] || need+=(googletest)
have_cmd i686-w64-mingw32-g++-posix || need+=(g++-mingw-w64-i686-posix)
have_cmd i686-w64-mingw32-windres || need+=(binutils-mingw-w64-i686)
have_cmd wine || need+=(wine)
have_pkg wine32:i386 || need+=(wine32:i386)
# Wine's own fonts (Tahoma, the System font): dialogs and chart labels render
# with the metrics they have on Windows. Only recommended by wine, so named here.
have_pkg fonts-wine || need+=(fonts-wine)
have_cmd Xvfb || need+=(xvfb)
have_cmd xdotool || need+=(xdotool)
have_cmd ffmpeg || need+=(ffmpeg)
have_cmd ffprobe || need+=(ffmpeg)
have_cmd python3 || need+=(python3)
have_pkg python3-pil || need+=(python3-pil)
have_cmd xwd || need+=(x11-apps)
[ -x /usr/bin/time ] || need+=(time)

if [ ${#need[@]} -eq 0 ]; then
  exit 0
fi

sudo=""
[ "$(id -u)" -eq 0 ] || sudo="sudo"
export DEBIAN_FRONTEND=noninteractive
echo "setup: installing ${need[*]}" >&2
if ! dpkg --print-foreign-architectures | grep -qx i386; then
  $sudo dpkg --add-architecture i386
fi
$sudo apt-get update -qq
$sudo apt-get install -y -qq --no-install-recommends "${need[@]}" >/dev/null
