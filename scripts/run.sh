#!/usr/bin/env bash
# Installs what is missing, builds, and updates a simulated Korvane: korvane-sim plays a
# device at version 16.2 on a pseudo-terminal; the wizard opens with COM1 mapped to it when
# a display is available, otherwise the headless updater runs against it. Exits with the
# updater's status (0: updated). The simulator is stopped whatever happens.
set -euo pipefail
cd "$(dirname "$0")/.."
./scripts/install-deps.sh

build=${KORVANE_BUILD_DIR:-build}
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$build" --target korvane-sim korvane-cli korvane-wizard

work=$(mktemp -d)
line="$work/korvane-line"
sim_pid=""
cleanup() {
    if [ -n "$sim_pid" ] && kill -0 "$sim_pid" 2>/dev/null; then
        kill -TERM "$sim_pid" 2>/dev/null || true
        wait "$sim_pid" 2>/dev/null || true
    fi
    rm -rf "$work"
}
trap cleanup EXIT
trap 'exit 130' INT TERM

"$build/sim/korvane-sim" --link "$line" --version 16.2 --dump "$work/memory.txt" \
    >"$work/sim.log" 2>&1 &
sim_pid=$!
for _ in $(seq 1 100); do
    [ -e "$line" ] && break
    kill -0 "$sim_pid" 2>/dev/null || { cat "$work/sim.log" >&2; exit 1; }
    sleep 0.05
done
[ -e "$line" ] || { echo "run: the simulator did not open its line" >&2; exit 1; }
echo "run: simulated Korvane (version 16.2) on $line"

status=0
if [ -n "${DISPLAY:-}${WAYLAND_DISPLAY:-}" ]; then
    echo "run: opening the wizard with COM1 on the simulated device"
    KORVANE_COM1="$line" "$build/ui/korvane-wizard" || status=$?
else
    echo "run: no display; running the headless updater"
    "$build/cli/korvane-cli" --port "$line" || status=$?
fi
echo "run: finished with status $status"
exit "$status"
