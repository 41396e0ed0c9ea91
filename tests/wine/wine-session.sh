#!/bin/sh
# The one way the scripts and tests start Wine: a display (the one in
# $DISPLAY, else a private Xvfb) and the prefix's Wine server, both ended
# when the session ends, however it ends.
#   wine-session.sh [--own-display] PREFIX COMMAND [ARGS...]
#       runs COMMAND in the session and exits with its status;
#   wine-session.sh [--own-display] PREFIX
#       prints "DISPLAY=..." once the session is up and holds it until its
#       standard input closes (a parent that dies closes it too).
#   --own-display: a private Xvfb even when there is a $DISPLAY, for tests
#       that run side by side and must not find each other's windows.
# The server runs in the foreground, as our child: a daemon server leads a
# session of its own, takes the first pseudo-terminal it opens as its
# controlling terminal, and a printer line closed later would hang it up.
# Everything started here gets a parent-death signal, so even a killed
# session leaves no process behind.
#
# The server is always ended with SIGINT (what `wineserver -k` sends): it
# ends every Wine process of the prefix, Wine's own services too, then
# itself. On SIGTERM it would leave at once, and a service asleep in a wait
# on it would sleep on for ever: the service holds both ends of its own
# wake-up pipe, so the server's going never wakes it. Hence SIGINT is also
# the server's parent-death signal, and nothing cuts the session's ending
# short. Processes it still cannot end are named on standard error.
set -u
own_display=0
[ "${1:-}" = "--own-display" ] && { own_display=1; shift; }
[ $# -ge 1 ] || { echo "usage: $0 [--own-display] PREFIX [COMMAND [ARGS...]]" >&2; exit 2; }
prefix=$1
shift
here=$(cd "$(dirname "$0")" && pwd)
. "$here/../../scripts/xvfb.sh"

server=""
child=""
finish() {
  # The parent's death comes twice, as closed input and as SIGTERM: the
  # second must not cut this short.
  trap '' TERM INT HUP
  set +e
  [ -n "$child" ] && kill "$child" 2>/dev/null && wait "$child"
  if [ -n "$server" ]; then
    kill -INT "$server" 2>/dev/null
    i=0
    while alive && [ $i -lt 150 ]; do sleep 0.1; i=$((i + 1)); done
    if alive; then
      echo "wine-session: the Wine server of $prefix did not end in 15 s; killing it" >&2
      kill -KILL "$server" 2>/dev/null
    fi
    wait "$server" 2>/dev/null
    end_leftovers
  fi
  stop_display
}
alive() { state=$(ps -o stat= -p "$server" 2>/dev/null) && [ "${state#Z}" = "$state" ]; }
# Once its server is gone, a Wine process still on the prefix is this
# session's (one server a prefix) and should not be there: say which, and
# end it, so that nothing outlives the session.
end_leftovers() {
  for f in $(grep -zlxF "WINEPREFIX=$prefix" /proc/[0-9]*/environ 2>/dev/null); do
    pid=${f#/proc/}
    pid=${pid%/environ}
    case "$(readlink "/proc/$pid/exe" 2>/dev/null)" in */wine/wine*) ;; *) continue ;; esac
    name=$({ tr '\0' ' ' <"/proc/$pid/cmdline"; } 2>/dev/null)
    printf 'wine-session: could not end process %s (%s) of %s; killing it\n' "$pid" "$name" "$prefix" >&2
    kill -KILL "$pid" 2>/dev/null
  done
}
trap finish EXIT
trap 'exit 143' TERM
trap 'exit 130' INT
trap 'exit 129' HUP

WINEPREFIX=$prefix
WINEDEBUG=${WINEDEBUG:--all}
export WINEPREFIX WINEDEBUG
"$here/ensure-prefix.sh" "$prefix" || exit 1

# A server left from an earlier run must end first: tests run under an old
# server would see its state, and a second server cannot start beside it.
if ! timeout 30 wineserver -w; then
  echo "wine-session: a Wine server of $prefix still runs after 'wineserver -w' (30 s)." >&2
  echo "wine-session: end it (WINEPREFIX='$prefix' wineserver -k) and run again." >&2
  exit 1
fi
[ $own_display = 1 ] && DISPLAY=
start_display || exit 1

setpriv --pdeathsig INT wineserver -f -p2 >"${MORVANE_WINESERVER_LOG:-/dev/null}" 2>&1 &
server=$!
# A server that cannot take the prefix (another one holds it) ends at once.
sleep 0.3
if ! alive; then
  echo "wine-session: the Wine server of $prefix did not start (another one holds the prefix?)" >&2
  server=""
  exit 1
fi

if [ $# -eq 0 ]; then
  echo "DISPLAY=$DISPLAY"
  while read -r _; do :; done
  exit 0
fi
setpriv --pdeathsig KILL "$@" <&0 &
child=$!
wait "$child"
rc=$?
child=""
exit $rc
