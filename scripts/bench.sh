#!/usr/bin/env bash
# Builds and runs the update benchmark: a whole update through the offscreen wizard against
# korvane-sim --pace (the real line rate), about 80 seconds. Prints the figures; the last
# line is "update-time-ratio: X". Exits non-zero when the update failed.
set -euo pipefail
cd "$(dirname "$0")/.."

build=${KORVANE_BUILD_DIR:-build}
[ -f "$build/build.ninja" ] || cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$build" --target korvane-bench korvane-sim
QT_QPA_PLATFORM=offscreen exec "$build/bench/korvane-bench" --sim "$build/sim/korvane-sim"
