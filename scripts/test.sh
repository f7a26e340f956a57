#!/usr/bin/env bash
# Builds both builds and runs every test, native and under Wine, in one CTest
# run. Installs what is missing first. Exit status: CTest's.
set -euo pipefail
cd "$(dirname "$0")/.."
root="$PWD"
source scripts/lib.sh

./scripts/setup.sh

for preset in native win32; do
  cmake --preset "$preset" --log-level=WARNING
  cmake --build --preset "$preset"
done

# What a packager builds: the portable code in a plain Release build, with
# GCC and with clang, warnings as errors. The tests ran in the presets above.
for compilers in gcc:g++ clang:clang++; do
  cc="${compilers%%:*}"
  cmake -S . -B "build/release-$cc" -G Ninja --log-level=WARNING -DCMAKE_BUILD_TYPE=Release \
    -DCMAKE_C_COMPILER="$cc" -DCMAKE_CXX_COMPILER="${compilers#*:}" \
    -DKOV_BUILD_TESTS=OFF -DKOV_WARNINGS_AS_ERRORS=ON
  cmake --build "build/release-$cc" --parallel 2
done

# The display first: a Wine program started without one brings Wine's desktop
# process up headless, and later windows then fail.
trap kov_stop_display_and_wine EXIT
kov_start_xvfb
kov_wine --init

# One CTest run over both build trees gives one summary. Test names carry
# their build (native.*, win32.*), so they cannot clash.
mkdir -p build/all
cat > build/all/CTestTestfile.cmake <<EOT
# Written by scripts/test.sh: every test of both builds.
subdirs("$root/build/native")
subdirs("$root/build/win32")
EOT

set +e
ctest --test-dir build/all --output-on-failure --parallel 2
status=$?
set -e
exit "$status"
