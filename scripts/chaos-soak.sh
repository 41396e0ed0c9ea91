#!/bin/sh
# The chaos checker over many keys: rounds of tests/chaos/chaos_check, each
# with a fresh seed, against a copy of the command taken at the start (so
# that a rebuild meanwhile changes nothing). Prints each round's line and a
# table of the totals: keys, false ok, false refused, other violations,
# prompt answers missed, and the slowest key against its bound. Exits 1 if
# any round found a violation; its seed and replay line are in the log.
#   scripts/chaos-soak.sh [KEYS] [WORKERS]     (default 1000000 keys, 24 workers)
set -u
top=$(cd "$(dirname "$0")/.." && pwd)
build="${MORVANE_BUILD_DIR:-$top/build}"
keys="${1:-1000000}"
workers="${2:-24}"
per_round=20000
"$top/scripts/build.sh" >/dev/null || exit 1
out="$build/chaos-soak"
rm -rf "$out"
mkdir -p "$out"
cp "$build/native/cli/morvane-cli" "$build/native/tests/chaos/chaos_check" "$out/"

done_keys=0
round=1
while [ "$done_keys" -lt "$keys" ]; do
  "$out/chaos_check" --keys "$per_round" --workers "$workers" --tcp 3 --cli "$out/morvane-cli" \
    >"$out/round-$round.out" 2>"$out/round-$round.err"
  status=$?
  line=$(grep '^chaos: false ok' "$out/round-$round.out")
  counted=$(sed -n 's/^chaos: \([0-9]*\) keys in.*/\1/p' "$out/round-$round.out")
  echo "round $round (status $status): ${counted:-0} keys; ${line#chaos: }"
  done_keys=$((done_keys + ${counted:-$per_round}))
  round=$((round + 1))
done

# Totals over every round.
cat "$out"/round-*.out | awk '
  /^chaos: [0-9]+ keys in/ { keys += $2 }
  /^chaos: false ok/ {
    gsub(/[,;()%]/, " ")
    for (i = 1; i <= NF; i++) {
      if ($i == "false" && $(i+1) == "ok") fok += $(i+2)
      if ($i == "false" && $(i+1) == "refused") fref += $(i+2)
      if ($i == "other" && $(i+1) == "violations") other += $(i+2)
      if ($i == "missed") { missed += $(i+1); prompt += $(i+3) }
      if ($i == "took") { if ($(i+1) > worst) worst = $(i+1) }
    }
  }
  END {
    printf "\n| keys | false ok | false refused | other violations | prompt answers missed | slowest key |\n"
    printf "|---|---|---|---|---|---|\n"
    printf "| %d | %d | %d | %d | %d of %d (%.3f %%) | %d %% of its bound |\n", keys, fok, fref, other, missed, prompt,
           prompt ? 100 * missed / prompt : 0, worst
    exit (fok + fref + other) > 0
  }'
