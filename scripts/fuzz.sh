#!/usr/bin/env bash
# Builds the libFuzzer targets (clang, KORVANE_FUZZ=ON, no window) in build-fuzz and runs
# each for a bounded time on a copy of its committed corpus. Exits nonzero when a target
# crashes, leaks, times out or fails one of its checks; the input that did it is kept in the
# work directory and its path printed.
#
# Environment:
#   FUZZ_SECONDS    seconds of fuzzing per target (default 60)
#   FUZZ_TARGETS    targets to run (default: all three)
#   FUZZ_BUILD_DIR  build directory (default: build-fuzz at the repository root)
#   FUZZ_WORK_DIR   where the corpus copies, logs and crash inputs go
#                   (default: <build dir>/fuzz-work)
#   FUZZ_JOBS       build jobs (default: the number of cores); fuzzing uses one core
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
cd "$root"
./scripts/install-deps.sh

seconds="${FUZZ_SECONDS:-60}"
targets=(${FUZZ_TARGETS:-fuzz_chargeur fuzz_enregistrement fuzz_moteur})
build="${FUZZ_BUILD_DIR:-$root/build-fuzz}"
work="${FUZZ_WORK_DIR:-$build/fuzz-work}"
jobs="${FUZZ_JOBS:-$(nproc)}"

cmake -S "$root" -B "$build" -G Ninja \
    -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ \
    -DKORVANE_FUZZ=ON -DKORVANE_BUILD_UI=OFF -DKORVANE_SANITIZE=OFF
cmake --build "$build" -j "$jobs" --target "${targets[@]}"

export ASAN_OPTIONS="halt_on_error=1:abort_on_error=1:detect_leaks=1:symbolize=1"
export UBSAN_OPTIONS="halt_on_error=1:abort_on_error=1:print_stacktrace=1"

failed=()
total_cpu=0
for t in "${targets[@]}"; do
    rm -rf "${work:?}/$t"
    mkdir -p "$work/$t/corpus" "$work/$t/artifacts"
    # The committed corpus is only read; new inputs go to the copy.
    cp "$root/tests/fuzz/corpus/$t/"* "$work/$t/corpus/"
    echo "fuzz: $t for ${seconds}s"
    status=0
    # -timeout: one input taking over 10 s is a hang; -rss_limit_mb: a run-away allocation.
    # One process on one core; `time` measures its CPU time (user + system).
    TIMEFORMAT='%U %S'
    { time "$build/tests/fuzz/$t" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 \
        -print_final_stats=1 -artifact_prefix="$work/$t/artifacts/" "$work/$t/corpus" \
        >"$work/$t/log" 2>&1; } 2>"$work/$t/cpu" || status=$?
    cpu=$(awk '{printf "%.1f", $1 + $2}' "$work/$t/cpu" 2>/dev/null || echo 0)
    total_cpu=$(awk -v a="$total_cpu" -v b="$cpu" 'BEGIN {printf "%.1f", a + b}')
    runs=$(grep -o 'stat::number_of_executed_units: *[0-9]*' "$work/$t/log" | tail -1 |
        grep -o '[0-9]*$' || echo "?")
    cov=$(grep -o 'cov: [0-9]*' "$work/$t/log" | tail -1 || true)
    echo "fuzz: $t exit $status, ${cpu}s CPU, $runs runs, $cov," \
        "corpus $(ls "$work/$t/corpus" | wc -l) inputs"
    if [ "$status" -ne 0 ] || [ -n "$(ls -A "$work/$t/artifacts")" ]; then
        failed+=("$t")
        tail -n 60 "$work/$t/log"
        echo "fuzz: $t failed; inputs kept in $work/$t/artifacts/:"
        ls -1 "$work/$t/artifacts/"
    fi
done

echo "fuzz: CPU time fuzzed in total: ${total_cpu}s"

if [ ${#failed[@]} -gt 0 ]; then
    echo "fuzz: FAILED: ${failed[*]}"
    exit 1
fi
echo "fuzz: all targets passed (${#targets[@]} targets, ${seconds}s each)"
