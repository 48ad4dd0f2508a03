#!/usr/bin/env bash
# Runs the console against the simulated unit: installs what is missing,
# builds, starts bdusim on a pseudo-terminal, maps COM1 to it and opens the
# console window.  Pick "COM1", press "COM Open" and drive the unit.
# Usage: scripts/run.sh [bdusim options...]   (e.g. --delay 500, --negative 0x03)
# The build folder is build/ unless VALDOR_BUILD_DIR says otherwise.
set -euo pipefail
cd "$(dirname "$0")/.."
build=${VALDOR_BUILD_DIR:-build}
jobs=$(nproc 2>/dev/null || echo 2)

scripts/install-deps.sh build

echo "Building valdor and bdusim in $build/ ..."
cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$build" -j "$jobs" --target valdor bdusim >/dev/null

has_display() { [ -n "${DISPLAY:-}" ] || [ -n "${WAYLAND_DISPLAY:-}" ]; }

# Without a display there is no window to open: run the same console
# headless on one of the example scripts instead, and say so.
run_without_display() {
    echo "run.sh: no display (neither DISPLAY nor WAYLAND_DISPLAY is set), so the console window"
    echo "        cannot open.  Running the console without a window instead, on the example"
    echo "        script docs/examples/status-check.vds against the simulated unit:"
    echo
    VALDOR_BUILD_DIR=$build scripts/run-example.sh status-check
    echo
    echo "run.sh: that was valdor --script.  For the window, run this on a desktop, over ssh -X,"
    echo "        or under xvfb-run; other examples: scripts/run-example.sh NAME (docs/examples)."
}

if ! has_display; then
    run_without_display
    exit $?
fi

# The simulated unit prints its pty's path as its first line.
work=$(mktemp -d)
sim_pid=
cleanup() {
    if [ -n "$sim_pid" ]; then kill "$sim_pid" 2>/dev/null || true; wait "$sim_pid" 2>/dev/null || true; fi
    rm -rf "$work"
}
trap cleanup EXIT
"$build/tools/bdusim/bdusim" "$@" >"$work/bdusim.out" 2>"$work/bdusim.err" &
sim_pid=$!
pty=
for _ in $(seq 100); do
    pty=$(head -n 1 "$work/bdusim.out" 2>/dev/null || true)
    [ -n "$pty" ] && break
    if ! kill -0 "$sim_pid" 2>/dev/null; then break; fi
    sleep 0.1
done
if [ -z "$pty" ]; then
    echo "run.sh: the simulated unit did not start:" >&2
    cat "$work/bdusim.err" >&2
    exit 1
fi

export RSLINK_COM1=$pty
echo "The simulated unit is on $pty, mapped to COM1."
echo "In the window: pick \"COM1\" under \"COM Port No.\", press \"COM Open\", then any command."
"$build/valdor/valdor"
