#!/bin/sh
# Builds the libFuzzer targets with clang (AddressSanitizer and
# UndefinedBehaviorSanitizer on) and runs each for a bounded time, starting
# from the seed corpora in tests/fuzz/corpus. Fails on the first finding;
# the input that caused it is left in <build-dir>/fuzz-artifacts.
#
#   scripts/fuzz.sh [seconds-per-target] [build-dir]
#   scripts/fuzz.sh --build-only [build-dir]
#
# MORVANE_FUZZ_RUNS=N runs each target for N executions instead of a time.
set -eu
build_only=false
if [ "${1:-}" = "--build-only" ]; then
    build_only=true
    shift
    set -- 0 "$@"
fi
seconds="${1:-5}"
top=$(cd "$(dirname "$0")/.." && pwd)
build="${2:-$top/build/fuzz}"
# The one list of targets, shared with tests/fuzz/CMakeLists.txt.
targets=$(grep -E '^[a-z_]+$' "$top/tests/fuzz/targets.txt")

CC=clang CXX=clang++ cmake -S "$top" -B "$build" -G "Unix Makefiles" \
    -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_CXX_FLAGS_RELWITHDEBINFO="-O2 -g1 -DNDEBUG" \
    -DCMAKE_C_FLAGS_RELWITHDEBINFO="-O2 -g1 -DNDEBUG" -DMORVANE_FUZZ=ON -DMORVANE_TESTS=OFF \
    -DMORVANE_WINE_TESTS=OFF -DMORVANE_SANITIZE=address,undefined >/dev/null
# shellcheck disable=SC2046 # one word a target
cmake --build "$build" -j "$(nproc)" --target $(printf 'fuzz_%s ' $targets) >/dev/null
$build_only && exit 0

mkdir -p "$build/fuzz-artifacts"
# fuzz NAME: one target's run; its verdict in fuzz-artifacts/NAME.verdict.
fuzz() {
    name=$1
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
        echo ok >"$build/fuzz-artifacts/$name.verdict"
    else
        echo finding >"$build/fuzz-artifacts/$name.verdict"
    fi
}
# Each target is one process on one core: as many at a time as there are cores.
at_once=$(nproc)
running=0
for name in $targets; do
    rm -f "$build/fuzz-artifacts/$name.verdict"
    fuzz "$name" &
    running=$((running + 1))
    if [ "$running" -ge "$at_once" ]; then
        wait
        running=0
    fi
done
wait
status=0
for name in $targets; do
    log="$build/fuzz-artifacts/$name.log"
    if [ "$(cat "$build/fuzz-artifacts/$name.verdict" 2>/dev/null)" = ok ]; then
        runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log")
        echo "fuzz_$name: ${runs:-?} executions, no finding"
    else
        echo "fuzz_$name: FINDING (see $log)"
        tail -n 30 "$log"
        status=1
    fi
done
exit $status
