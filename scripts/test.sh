#!/bin/sh
# Installs what is missing, builds everything and runs every test:
# native unit tests, the virtual printer's tests, the Windows side under
# Wine, the end-to-end tests of the real Morvane.exe, the unit tests again
# under AddressSanitizer and UndefinedBehaviorSanitizer, and a short run of
# every fuzz target.
set -e
top=$(cd "$(dirname "$0")/.." && pwd)
build="${MORVANE_BUILD_DIR:-$top/build}"
"$top/scripts/deps.sh"
"$top/scripts/build.sh"

. "$top/scripts/xvfb.sh"
start_display
trap stop_display EXIT INT TERM

status=0
echo "== Format"
"$top/scripts/format.sh" --check || status=1

echo "== Unit, virtual printer, Wine and end-to-end tests"
# Side by side: each Wine program has a prefix and a display of its own,
# and most of their time is the dialog's own waits, in which the machine
# is idle; so more run at once than there are cores.
jobs="${MORVANE_TEST_JOBS:-$(($(nproc) * 2))}"
(cd "$build/native" && ctest --output-on-failure --timeout 600 -j "$jobs") || status=1

echo "== Unit tests under AddressSanitizer and UndefinedBehaviorSanitizer"
# Line tables (-g1) are all the sanitizers' reports need, and build a fifth
# faster than full debug information.
cmake -S "$top" -B "$build/sanitize" -DCMAKE_BUILD_TYPE=Debug -DMORVANE_SANITIZE=address,undefined \
      -DCMAKE_CXX_FLAGS_DEBUG=-g1 -DCMAKE_C_FLAGS_DEBUG=-g1 -DMORVANE_WINE_TESTS=OFF >/dev/null
cmake --build "$build/sanitize" -j "$(nproc)" >/dev/null
(cd "$build/sanitize" && ctest --output-on-failure --timeout 300 -j "$(nproc)") || status=1

if [ -x "$top/scripts/fuzz.sh" ]; then
  echo "== Fuzz smoke run"
  "$top/scripts/fuzz.sh" "${FUZZ_SECONDS:-5}" "$build/fuzz" || status=1
fi
echo "== Packages"
"$top/scripts/package.sh" && "$top/tests/package/test-packages.sh" || status=1
exit $status
