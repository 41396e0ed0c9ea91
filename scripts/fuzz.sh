#!/bin/sh
# Builds the libFuzzer targets with clang (AddressSanitizer and
# UndefinedBehaviorSanitizer on) and runs each for a bounded time, starting
# from the seed corpora in tests/fuzz/corpus. Fails on the first finding;
# the input that caused it is left in <build-dir>/fuzz-artifacts.
#
#   scripts/fuzz.sh [seconds-per-target] [build-dir]
#
# MORVANE_FUZZ_RUNS=N runs each target for N executions instead of a time.
set -eu
seconds="${1:-5}"
top=$(cd "$(dirname "$0")/.." && pwd)
build="${2:-$top/build/fuzz}"
# The one list of targets, shared with tests/fuzz/CMakeLists.txt.
targets=$(grep -E '^[a-z_]+$' "$top/tests/fuzz/targets.txt")

CC=clang CXX=clang++ cmake -S "$top" -B "$build" -G "Unix Makefiles" \
    -DCMAKE_BUILD_TYPE=RelWithDebInfo -DMORVANE_FUZZ=ON -DMORVANE_TESTS=OFF \
    -DMORVANE_WINE_TESTS=OFF -DMORVANE_SANITIZE=address,undefined >/dev/null
for name in $targets; do
    cmake --build "$build" -j "$(nproc)" --target "fuzz_$name" >/dev/null
done

mkdir -p "$build/fuzz-artifacts"
status=0
for name in $targets; do
    # New inputs go to the build tree; the committed seeds stay as they are.
    work="$build/fuzz-corpus/$name"
    mkdir -p "$work"
    if [ -n "${MORVANE_FUZZ_RUNS:-}" ]; then
        limit="-runs=$MORVANE_FUZZ_RUNS"
    else
        limit="-max_total_time=$seconds"
    fi
    log="$build/fuzz-artifacts/$name.log"
    if "$build/fuzz-bin/fuzz_$name" "$limit" -timeout=10 -print_final_stats=1 \
            -artifact_prefix="$build/fuzz-artifacts/$name-" \
            "$work" "$top/tests/fuzz/corpus/$name" >"$log" 2>&1; then
        runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log")
        echo "fuzz_$name: ${runs:-?} executions, no finding"
    else
        echo "fuzz_$name: FINDING (see $log)"
        tail -n 30 "$log"
        status=1
    fi
done
exit $status
