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
trap 'rm -f "$times"' EXIT INT TERM
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
trap 'stop_display; rm -f "$times"' EXIT INT TERM

status=0
echo "== Format"
"$top/scripts/format.sh" --check || status=1
took "format check"

echo "== Unit, virtual printer, Wine and end-to-end tests"
# Side by side: each Wine program has a prefix and a display of its own,
# and most of their time is the dialog's own waits, in which the machine
# is idle; so more run at once than there are cores.
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
(cd "$build/sanitize" && ctest --output-on-failure --timeout 300 -j "$(nproc)") || status=1
took "sanitized tests"

if [ -x "$top/scripts/fuzz.sh" ]; then
  echo "== Fuzz smoke run"
  "$top/scripts/fuzz.sh" "${FUZZ_SECONDS:-5}" "$build/fuzz" || status=1
  took "fuzz: build and smoke run"
fi
echo "== Packages"
"$top/scripts/package.sh" && "$top/tests/package/test-packages.sh" || status=1
took "packages: build and test"
echo "== Where the time went (s)"
cat "$times"
printf '| %-54s | %5s |\n' "all" "$(($(date +%s) - began))"
rm -f "$times"
exit $status
