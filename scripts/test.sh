#!/usr/bin/env bash
# Installs what is missing, builds and runs the whole test suite.
set -euo pipefail
cd "$(dirname "$0")/.."
./scripts/install-deps.sh

build=${KORVANE_BUILD_DIR:-build}
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo
cmake --build "$build"
export QT_QPA_PLATFORM=offscreen
ctest --test-dir "$build" --output-on-failure -j "$(nproc)" --timeout 600
