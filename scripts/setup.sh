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
# The layout check (scripts/check-format.sh); Debian 12's is version 14.
have_cmd clang-format || need+=(clang-format)
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
# scripts/package.sh: the setup program (NSIS) and the portable zip.
have_cmd makensis || need+=(nsis)
have_cmd zip || need+=(zip)
[ -x /usr/bin/time ] || need+=(time)
# rmrate's JSON and command line: header-only, used by both builds.
have_pkg nlohmann-json3-dev || need+=(nlohmann-json3-dev)
have_pkg libcli11-dev || need+=(libcli11-dev)

sudo=""
[ "$(id -u)" -eq 0 ] || sudo="sudo"
export DEBIAN_FRONTEND=noninteractive

if [ ${#need[@]} -gt 0 ]; then
  echo "setup: installing ${need[*]}" >&2
  if ! dpkg --print-foreign-architectures | grep -qx i386; then
    $sudo dpkg --add-architecture i386
  fi
  $sudo apt-get update -qq
  $sudo apt-get install -y -qq --no-install-recommends "${need[@]}" >/dev/null
fi

# Some virtual machines run 64-bit user code only: their kernel refuses every
# 32-bit program, Wine's loader included ("Exec format error"). There QEMU's
# user-mode emulator runs the 32-bit side of Wine, registered with the kernel
# for 32-bit x86 programs. Debian 12's QEMU 7.2 cannot run Wine (it places
# mappings over Wine's shared user data); the backported QEMU 10 can. The
# 64-bit wineserver spares the emulator the server's work.
binfmt=/proc/sys/fs/binfmt_misc
if ! /usr/lib/wine/wine --version >/dev/null 2>&1; then
  if [ ! -e "$binfmt/register" ]; then
    $sudo mount -t binfmt_misc binfmt_misc "$binfmt"
  fi
  if ! [ -x /usr/bin/qemu-i386 ] || ! [ -x /usr/lib/wine/wineserver64 ]; then
    echo "setup: this machine cannot run 32-bit programs; installing QEMU from bookworm-backports to run them" >&2
    backports=/etc/apt/sources.list.d/kov-bookworm-backports.sources
    if ! grep -rqs 'bookworm-backports' /etc/apt/sources.list /etc/apt/sources.list.d/; then
      printf '%s\n' 'Types: deb' 'URIs: http://deb.debian.org/debian' 'Suites: bookworm-backports' \
        'Components: main' 'Signed-By: /usr/share/keyrings/debian-archive-keyring.gpg' |
        $sudo tee "$backports" >/dev/null
    fi
    $sudo apt-get update -qq
    $sudo apt-get install -y -qq --no-install-recommends qemu-user/bookworm-backports wine64 >/dev/null
  fi
  if [ -e "$binfmt/qemu-i386" ]; then
    echo -1 | $sudo tee "$binfmt/qemu-i386" >/dev/null
  fi
  # 32-bit x86 ELF executables and shared objects (e_type 2 or 3, e_machine 3).
  # F: the kernel opens the emulator now, so it serves in every mount namespace.
  printf '%s' ':qemu-i386:M::\x7fELF\x01\x01\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00\x02\x00\x03\x00:\xff\xff\xff\xff\xff\xfe\xfe\x00\xff\xff\xff\xff\xff\xff\xff\xff\xfe\xff\xff\xff:/usr/bin/qemu-i386:FOC' |
    $sudo tee "$binfmt/register" >/dev/null
  /usr/lib/wine/wine --version >/dev/null 2>&1 || {
    echo "setup: 32-bit programs still cannot run here, so Wine cannot either" >&2
    exit 1
  }
fi
