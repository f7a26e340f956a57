#!/usr/bin/env bash
# Checks C++ files against the tree's .clang-format and names those that
# differ; exit status 1 when any does. clang-format 14 (Debian 12's) is the
# reference: other versions lay some lines out differently.
#
#   check-format.sh              every C++ file of the tree
#   check-format.sh FILE...      those files
#   check-format.sh --self-test  first proves the check fails on a misformatted
#                                file, then checks the tree
set -euo pipefail
cd "$(dirname "$0")/.."

check() {
  local bad=0 file
  for file in "$@"; do
    if ! clang-format --style=file --dry-run --Werror "$file" >/dev/null 2>&1; then
      echo "not formatted: $file (clang-format -i $file)" >&2
      bad=1
    fi
  done
  return "$bad"
}

tree_files() {
  if git rev-parse --is-inside-work-tree >/dev/null 2>&1; then
    git ls-files '*.cpp' '*.h'
  else
    find . -path ./build -prune -o \( -name '*.cpp' -o -name '*.h' \) -print
  fi
}

if [ "${1:-}" = "--self-test" ]; then
  # A formatted file with one line broken out of the layout, inside the tree so
  # that clang-format finds the tree's .clang-format for it.
  dir=$(mktemp -d "$PWD/build/format-self-test.XXXXXX")
  trap 'rm -rf "$dir"' EXIT
  printf 'int Twice(int value) {\n    if (value > 0) return value * 2;\n    return 0;\n}\n' > "$dir/good.cpp"
  printf 'int Twice(int value)\n{\n  if (value>0) return value*2;\n  return 0;\n}\n' > "$dir/bad.cpp"
  check "$dir/good.cpp" 2>/dev/null || { echo "self-test: a formatted file was refused" >&2; exit 1; }
  if check "$dir/bad.cpp" 2>/dev/null; then
    echo "self-test: a misformatted file passed" >&2
    exit 1
  fi
  shift
fi

if [ $# -gt 0 ]; then
  check "$@"
else
  mapfile -t files < <(tree_files)
  check "${files[@]}"
fi
