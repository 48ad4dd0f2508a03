#!/usr/bin/env bash
# Takes the README's pictures of both windows: runs the console under a
# virtual X server (xvfb-run) against the simulated unit, makes a few real
# exchanges and saves docs/console.png and docs/device-information.png; then
# the console again on a 1366 x 768 laptop screen at 125 % scaling
# (docs/console-125.png), where it fits in a scroll area.
# The build folder is build/ unless VALDOR_BUILD_DIR says otherwise.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
build=${VALDOR_BUILD_DIR:-build}
jobs=$(nproc 2>/dev/null || echo 2)

scripts/install-deps.sh all

cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$build" -j "$jobs" --target valdor_screenshots bdusim >/dev/null

shots=$build/tools/screenshots/valdor_screenshots
unit=$build/tools/bdusim/bdusim
xvfb-run -a -s "-screen 0 1600x1000x24" \
    env QT_QPA_PLATFORM=xcb "$shots" "$unit" "$root/docs"
xvfb-run -a -s "-screen 0 1366x768x24" \
    env QT_QPA_PLATFORM=xcb QT_SCALE_FACTOR=1.25 "$shots" "$unit" "$root/docs" -125
echo "Saved docs/console.png, docs/device-information.png and docs/console-125.png"
