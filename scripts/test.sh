#!/bin/sh
# Installs what is missing, builds everything and runs every test:
# native unit tests, the virtual printer's tests, the Windows side under
# Wine, the end-to-end tests of the real Morvane.exe, the unit tests again
# under AddressSanitizer and UndefinedBehaviorSanitizer, and a short run of
# every fuzz target.
set -e
top=$(cd "$(dirname "$0")/.." && pwd)
build="${MORVANE_BUILD_DIR:-$top/build}"
# Where the time goes: each step's seconds, printed as a table at the end.
times=$(mktemp)
fuzz_build=""
cleanup() {
  # The fuzz targets' build, if it still runs: its session, by its leader's id.
  [ -z "$fuzz_build" ] || kill -- -"$fuzz_build" 2>/dev/null || true
  stop_display 2>/dev/null || true
  rm -f "$times"
}
trap cleanup EXIT
trap 'exit 130' INT
trap 'exit 143' TERM
began=$(date +%s)
mark=$began
took() {
  now=$(date +%s)
  printf '| %-54s | %5s |\n' "$1" "$((now - mark))" >>"$times"
  mark=$now
}
"$top/scripts/deps.sh"
took "packages (apt)"
"$top/scripts/build.sh"
took "build: Windows program, its test programs, native"

. "$top/scripts/xvfb.sh"
start_display

status=0
echo "== Format"
"$top/scripts/format.sh" --check || status=1
took "format check"

echo "== Unit, virtual printer, Wine and end-to-end tests"
# Side by side: each Wine program has a prefix and a display of its own,
# and much of their time is the dialog's own waits, so more run at once
# than there are cores.
jobs="${MORVANE_TEST_JOBS:-$(($(nproc) * 2))}"
(cd "$build/native" && ctest --output-on-failure --timeout 600 -j "$jobs") || status=1
took "native tests (unit, printer, Wine, end-to-end, chaos)"

echo "== Unit tests under AddressSanitizer and UndefinedBehaviorSanitizer"
# Line tables (-g1) are all the sanitizers' reports need, and build a fifth
# faster than full debug information.
cmake -S "$top" -B "$build/sanitize" -DCMAKE_BUILD_TYPE=Debug -DMORVANE_SANITIZE=address,undefined \
      -DCMAKE_CXX_FLAGS_DEBUG=-g1 -DCMAKE_C_FLAGS_DEBUG=-g1 -DMORVANE_WINE_TESTS=OFF >/dev/null
cmake --build "$build/sanitize" -j "$(nproc)" >/dev/null
took "sanitized build"
# Meanwhile the fuzz targets build, only on a core that nothing else wants
# (SCHED_IDLE): the longest of these tests runs alone. A session of its own,
# so that the exit trap ends the whole build.
if [ -x "$top/scripts/fuzz.sh" ]; then
  setsid chrt --idle 0 "$top/scripts/fuzz.sh" --build-only "$build/fuzz" >"$build/fuzz-build.log" 2>&1 &
  fuzz_build=$!
fi
(cd "$build/sanitize" && ctest --output-on-failure --timeout 300 -j "$(nproc)") || status=1
took "sanitized tests"

if [ -n "$fuzz_build" ]; then
  echo "== Fuzz smoke run"
  fuzz_built=0
  wait "$fuzz_build" || fuzz_built=$?
  fuzz_build=""  # reaped: its id may soon be another's
  if [ "$fuzz_built" -eq 0 ]; then
    "$top/scripts/fuzz.sh" "${FUZZ_SECONDS:-5}" "$build/fuzz" || status=1
  else
    tail -n 60 "$build/fuzz-build.log" >&2
    echo "the fuzz targets' build failed: $build/fuzz-build.log" >&2
    status=1
  fi
  took "fuzz: what was left of the build, and the smoke run"
fi
echo "== Packages"
"$top/scripts/package.sh" && "$top/tests/package/test-packages.sh" || status=1
took "packages: build and test"
echo "== Where the time went (s)"
cat "$times"
printf '| %-54s | %5s |\n' "all" "$(($(date +%s) - began))"
rm -f "$times"
exit $status
