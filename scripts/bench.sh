#!/usr/bin/env bash
# Builds and runs the update benchmark: a whole update through the offscreen wizard against
# korvane-sim --pace (the real line rate), about 80 seconds. Prints the figures; the last
# line is "update-time-ratio: X". Exits non-zero when the update failed.
set -euo pipefail
cd "$(dirname "$0")/.."

build=${KORVANE_BUILD_DIR:-build}
[ -f "$build/build.ninja" ] || cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$build" --target korvane-bench korvane-sim tst_e2e_temps_reel
export QT_QPA_PLATFORM=offscreen
# The paced update of the test suite, with its bound: programming within 1.05 x 751 x 100 ms.
ctest --test-dir "$build" -V -L timing || status=$?
"$build/bench/korvane-bench" --sim "$build/sim/korvane-sim"
exit "${status:-0}"
