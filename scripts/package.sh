#!/usr/bin/env bash
# Makes what a Windows user downloads, from the Windows build:
#   KOV-<version>-setup.exe   setup program (NSIS): Program Files, Start menu,
#                             .rm/.rmvb open in KOV, an uninstaller; /S is silent
#   KOV-<version>-win32.zip   the same four files, for users who install nothing
# Both hold KOV.EXE, rmrate.exe, README.txt and LICENSE.txt. The version is the
# project's (top-level CMakeLists.txt), which KOV.EXE's version resource carries
# too; the setup build fails if the two differ. Installs what is missing first.
#
#   package.sh [--no-build] [--out DIR]     (default DIR: build/package)
#
# --no-build packages build/win32 as it stands (the tests use it).
set -euo pipefail
cd "$(dirname "$0")/.."
root="$PWD"

build=1
out="$root/build/package"
while [ $# -gt 0 ]; do
  case "$1" in
    --no-build) build=0; shift ;;
    --out) out=$(mkdir -p "$2" && cd "$2" && pwd); shift 2 ;;
    *) echo "usage: package.sh [--no-build] [--out DIR]" >&2; exit 2 ;;
  esac
done

if [ "$build" -eq 1 ]; then
  ./scripts/setup.sh
  cmake --preset win32 --log-level=WARNING
  cmake --build --preset win32 --target KOV rmrate
fi

kov_exe="$root/build/win32/KOV.EXE"
rmrate_exe="$root/build/win32/tools/rmrate.exe"
for f in "$kov_exe" "$rmrate_exe"; do
  [ -f "$f" ] || { echo "package.sh: $f is not built" >&2; exit 1; }
done
version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$root/build/win32/CMakeCache.txt")
[ -n "$version" ] || { echo "package.sh: no project version in build/win32/CMakeCache.txt" >&2; exit 1; }

# The files as a user gets them: programs without their debugging information,
# texts with Windows line ends.
stage="$out/stage"
rm -rf "$stage"
mkdir -p "$stage"
i686-w64-mingw32-strip -o "$stage/KOV.EXE" "$kov_exe"
i686-w64-mingw32-strip -o "$stage/rmrate.exe" "$rmrate_exe"
sed 's/\r*$/\r/' scripts/package/README.txt > "$stage/README.txt"
sed 's/\r*$/\r/' LICENSE > "$stage/LICENSE.txt"

setup="$out/KOV-$version-setup.exe"
zip="$out/KOV-$version-win32.zip"
rm -f "$setup" "$zip"
makensis -V2 -DKOV_VERSION="$version" -DKOV_STAGE="$stage" -DKOV_OUT="$setup" scripts/package/KOV.nsi
# -X: no Unix owners or extra times; -D: no folder entries; the files at the top.
(cd "$stage" && zip -X -D -q "$zip" KOV.EXE rmrate.exe README.txt LICENSE.txt)

echo "$setup"
echo "$zip"
