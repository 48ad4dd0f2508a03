#!/usr/bin/env bash
# Runs every test of the project: installs what is missing, builds, and runs
# the test suite.  This is the README's test command and what CI runs.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
jobs=$(nproc 2>/dev/null || echo 2)

scripts/install-deps.sh build

stage() { echo; echo "=== $* ==="; }

stage "build and test"
cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build -j "$jobs"
(cd build && ctest -j "$jobs" --output-on-failure)

echo
echo "All tests passed."
