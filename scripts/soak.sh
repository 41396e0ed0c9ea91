#!/bin/sh
# Runs the Wine and end-to-end CTest programs N times over (default 10),
# side by side as the test command runs them, and prints how often each one
# passed, with the output of its first failure. Stops nothing early. Not
# part of the test command: it tells a flaky test from a broken one.
#   scripts/soak.sh [N] [CTEST_REGEX]    (the regex narrows the programs)
# Each round's CTest output and log stay in build/soak/.
set -u
top=$(cd "$(dirname "$0")/.." && pwd)
build="${MORVANE_BUILD_DIR:-$top/build}"
runs="${1:-10}"
pattern="${2:-}"
jobs="${MORVANE_TEST_JOBS:-$(($(nproc) * 2))}"
"$top/scripts/build.sh" >/dev/null || exit 1

native="$build/native"
out="$build/soak"
rm -rf "$out"
mkdir -p "$out"
results="$out/results"  # one "program result round" a line
: >"$results"

k=1
while [ "$k" -le "$runs" ]; do
  if [ -n "$pattern" ]; then
    (cd "$native" && ctest -L 'wine|e2e' -R "$pattern" -j "$jobs" --timeout 900 >"$out/round-$k.txt" 2>&1)
  else
    (cd "$native" && ctest -L 'wine|e2e' -j "$jobs" --timeout 900 >"$out/round-$k.txt" 2>&1)
  fi
  cp "$native/Testing/Temporary/LastTest.log" "$out/round-$k.log" 2>/dev/null
  # "3/9 Test #150: e2e_fault ......   Passed  164.41 sec", or "***Failed", "***Timeout", ...
  sed -n 's/^ *[0-9]*\/[0-9]* Test *#[0-9]*: \([^ ]*\) [. ]*[*]*\([A-Za-z]*\).*/\1 \2/p' "$out/round-$k.txt" |
    while read -r name result; do echo "$name $result $k" >>"$results"; done
  echo "round $k of $runs: $(awk -v k="$k" '$3 == k && $2 == "Passed"' "$results" | wc -l) passed," \
    "$(awk -v k="$k" '$3 == k && $2 != "Passed"' "$results" | wc -l) failed"
  k=$((k + 1))
done

echo
printf '| %-24s | %6s |\n' "program" "passed"
printf '|%s|%s|\n' "--------------------------" "--------"
status=0
for name in $(cut -d' ' -f1 "$results" | sort -u); do
  passed=$(awk -v n="$name" '$1 == n && $2 == "Passed"' "$results" | wc -l)
  printf '| %-24s | %6s |\n' "$name" "$passed/$runs"
  [ "$passed" -eq "$runs" ] || status=1
done
for name in $(cut -d' ' -f1 "$results" | sort -u); do
  first=$(awk -v n="$name" '$1 == n && $2 != "Passed" { print $3; exit }' "$results")
  [ -n "$first" ] || continue
  echo
  echo "== $name: first failure, round $first ($out/round-$first.log)"
  awk -v n="$name" '
    $0 ~ "^[0-9]+/[0-9]+ Testing: " n "$" { show = 1 }
    show { print }
    show && index($0, "\"" n "\" time elapsed") == 1 { exit }' "$out/round-$first.log"
done
exit $status
