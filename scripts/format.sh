#!/usr/bin/env bash
# Formats the C++ sources under version control by the tree's .clang-format.
#   scripts/format.sh FILE...      those files, in place: what you wrote or changed
#   scripts/format.sh              every tracked .cpp and .h file (this undoes
#                                  hand-aligned tables: see .clang-format)
#   scripts/format.sh --check      change nothing: list the files that would
#                                  change; exit status 1 when there is one
set -euo pipefail
cd "$(dirname "$0")/.."

check=0
if [ "${1:-}" = --check ]; then
  check=1
  shift
fi
scripts/install-deps.sh format
format=clang-format-14

files=("$@")
[ ${#files[@]} -gt 0 ] || mapfile -t files < <(git ls-files -- '*.cpp' '*.h')

if [ $check -eq 0 ]; then
  "$format" -i --style=file "${files[@]}"
  exit 0
fi
differ=0
for f in "${files[@]}"; do
  if ! "$format" --style=file "$f" | cmp -s - "$f"; then
    echo "$f"
    differ=1
  fi
done
exit $differ
