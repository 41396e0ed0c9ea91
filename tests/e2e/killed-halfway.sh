#!/bin/sh
# Kills an end-to-end test binary halfway (SIGKILL, once Morvane.exe runs)
# and checks that nothing it started is left: no Morvane.exe, driver, Wine
# server, Wine service or Xvfb. Its processes are told apart from everyone
# else's by a mark in their environment, which all of them inherit.
#   killed-halfway.sh E2E_TEST_BINARY [GTEST_FILTER]
set -u
binary=$1
filter=${2:-*}
MORVANE_KILL_MARK="killed-halfway-$$"
export MORVANE_KILL_MARK

marked() {
  for d in /proc/[0-9]*; do
    if { tr "\0" "\n" <"$d/environ"; } 2>/dev/null | grep -qx "MORVANE_KILL_MARK=$MORVANE_KILL_MARK"; then
      echo "${d#/proc/} $({ tr "\0" " " <"$d/cmdline"; } 2>/dev/null)"
    fi
  done
}

"$binary" --gtest_filter="$filter" >/dev/null 2>&1 &
pid=$!
i=0
until marked | grep -q 'Morvane\.exe'; do
  i=$((i + 1))
  if [ $i -gt 1200 ] || ! kill -0 "$pid" 2>/dev/null; then
    echo "Morvane.exe never ran under $binary" >&2
    kill -KILL "$pid" 2>/dev/null
    exit 1
  fi
  sleep 0.1
done
kill -KILL "$pid"
wait "$pid" 2>/dev/null
echo "killed $binary (pid $pid) while Morvane.exe ran"

# Allow the session's orderly end: the Wine server waits for its services.
i=0
while [ -n "$(marked)" ] && [ $i -lt 300 ]; do sleep 0.1; i=$((i + 1)); done
left=$(marked)
if [ -n "$left" ]; then
  echo "left behind:" >&2
  echo "$left" >&2
  for p in $(echo "$left" | cut -d' ' -f1); do kill -KILL "$p" 2>/dev/null; done
  exit 1
fi
echo "nothing left behind after $((i / 10)).$((i % 10)) s"
