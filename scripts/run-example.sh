#!/usr/bin/env bash
# Runs one of the example scripts of docs/examples against the simulated
# unit, without a window: valdor --script with COM1 mapped to bdusim's pty
# (a recipe, which has steps, as valdor --run on that one unit).
# Usage: scripts/run-example.sh [NAME]   (default: status-check; see docs/examples/*.vds)
# Assumes valdor and bdusim are built in ${VALDOR_BUILD_DIR:-build}/.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
build=${VALDOR_BUILD_DIR:-build}
name=${1:-status-check}
script="$root/docs/examples/$name.vds"
[ -f "$script" ] || { echo "run-example.sh: no example $script" >&2; exit 2; }

work=$(mktemp -d)
sim_pid=
cleanup() {
    if [ -n "$sim_pid" ]; then kill "$sim_pid" 2>/dev/null || true; wait "$sim_pid" 2>/dev/null || true; fi
    rm -rf "$work"
}
trap cleanup EXIT

"$root/$build/tools/bdusim/bdusim" >"$work/bdusim.out" 2>"$work/bdusim.err" &
sim_pid=$!
pty=
for _ in $(seq 100); do
    pty=$(head -n 1 "$work/bdusim.out" 2>/dev/null || true)
    [ -n "$pty" ] && break
    kill -0 "$sim_pid" 2>/dev/null || break
    sleep 0.1
done
[ -n "$pty" ] || { echo "run-example.sh: the simulated unit did not start:" >&2; cat "$work/bdusim.err" >&2; exit 1; }

# The examples name their files relative to the folder they run in.
cp "$root/docs/examples/sample.prg" "$work/"
cd "$work"
if grep -q '^step ' "$script"; then
    # A recipe: a production run on the one simulated unit, then its summary.
    "$root/$build/valdor/valdor" --run "$script" --unit "unit1=$pty" --out "$work/run" || status=$?
    cat "$work/run/summary.csv"
    exit "${status:-0}"
fi
RSLINK_COM1=$pty "$root/$build/valdor/valdor" --script "$script"
