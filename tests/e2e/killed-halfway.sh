#!/bin/sh
# Kills an end-to-end test binary halfway (SIGKILL, once Morvane.exe runs)
# and checks that nothing it started is left: no Morvane.exe, driver, Wine
# server, Wine service or Xvfb, and that its Wine session ended all of them
# itself (it names on standard error any it could not). Its processes are
# told apart from everyone else's by a mark in their environment, which all
# of them inherit. Then the harness is started once more, without tests: it
# must remove the killed run's folder.
#   killed-halfway.sh E2E_TEST_BINARY RUNS_DIR [GTEST_FILTER]
set -u
binary=$1
runs=$2
filter=${3:-*}
mark="MORVANE_KILL_MARK=killed-halfway-$$"  # the binary's only, not this script's helpers
output=$(mktemp)
trap 'rm -f "$output"' EXIT

# "pid command line" of every live process with the mark.
marked() {
  for f in $(grep -zlxF "$mark" /proc/[0-9]*/environ 2>/dev/null); do
    p=${f#/proc/}
    p=${p%/environ}
    printf '%s %s\n' "$p" "$({ tr '\0' ' ' <"/proc/$p/cmdline"; } 2>/dev/null)"
  done
}
show_output() {
  echo "--- output of $binary:"
  cat "$output"
  echo "---"
}

env "$mark" "$binary" --gtest_filter="$filter" >"$output" 2>&1 &
pid=$!
i=0
until marked | grep -q 'Morvane\.exe'; do
  i=$((i + 1))
  if [ $i -gt 1200 ] || ! kill -0 "$pid" 2>/dev/null; then
    echo "Morvane.exe never ran under $binary" >&2
    kill -KILL "$pid" 2>/dev/null
    show_output
    exit 1
  fi
  sleep 0.1
done
kill -KILL "$pid"
wait "$pid" 2>/dev/null
echo "killed $binary (pid $pid) while Morvane.exe ran"
status=0
ls -d "$runs/run-$pid-"* >/dev/null 2>&1 || { echo "no run folder run-$pid-* in $runs while Morvane.exe ran" >&2; status=1; }

# Allow the session's orderly end: the Wine server ends its services first.
i=0
while [ -n "$(marked)" ] && [ $i -lt 300 ]; do sleep 0.1; i=$((i + 1)); done
left=$(marked)
if [ -n "$left" ]; then
  echo "left behind:" >&2
  printf '%s\n' "$left" >&2
  for p in $(printf '%s\n' "$left" | cut -d' ' -f1); do kill -KILL "$p" 2>/dev/null; done
  status=1
else
  echo "nothing left behind after $((i / 10)).$((i % 10)) s"
fi
if grep -q '^wine-session: ' "$output"; then
  echo "the Wine session did not end cleanly:" >&2
  grep '^wine-session: ' "$output" >&2
  status=1
fi

"$binary" --gtest_filter=-* >/dev/null 2>&1
if ls -d "$runs/run-$pid-"* >/dev/null 2>&1; then
  echo "the killed run's folder is still there when the harness starts again:" >&2
  ls -d "$runs/run-$pid-"* >&2
  status=1
fi
[ $status = 0 ] || show_output
exit $status
