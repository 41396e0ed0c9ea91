#!/bin/sh
# The one way the scripts and tests start Wine: a display (the one in
# $DISPLAY, else a private Xvfb) and the prefix's Wine server, both ended
# when the session ends, however it ends.
#   wine-session.sh PREFIX COMMAND [ARGS...]
#       runs COMMAND in the session and exits with its status;
#   wine-session.sh PREFIX
#       prints "DISPLAY=..." once the session is up and holds it until its
#       standard input closes (a parent that dies closes it too).
# The server runs in the foreground, as our child: a daemon server leads a
# session of its own, takes the first pseudo-terminal it opens as its
# controlling terminal, and a printer line closed later would hang it up.
# Everything started here gets a parent-death signal, so even a killed
# session leaves no process behind.
set -u
[ $# -ge 1 ] || { echo "usage: $0 PREFIX [COMMAND [ARGS...]]" >&2; exit 2; }
prefix=$1
shift
here=$(cd "$(dirname "$0")" && pwd)
. "$here/../../scripts/xvfb.sh"

server=""
child=""
finish() {
  set +e
  [ -n "$child" ] && kill "$child" 2>/dev/null && wait "$child"
  # Without clients the server ends by itself, taking Wine's own services
  # with it; only if it does not is it killed. Then the display goes.
  if [ -n "$server" ]; then
    i=0
    while kill -0 "$server" 2>/dev/null && [ $i -lt 150 ]; do sleep 0.1; i=$((i + 1)); done
    kill "$server" 2>/dev/null
    wait "$server" 2>/dev/null
    end_orphans
  fi
  stop_display
}
# Now and then Wine's services are still running after the server of a
# killed session has ended. Only this session's server ran on the prefix, so
# every Wine process still on it is ours to end.
end_orphans() {
  for d in /proc/[0-9]*; do
    case "$(readlink "$d/exe" 2>/dev/null)" in */wine/wine*) ;; *) continue ;; esac
    { tr '\0' '\n' <"$d/environ"; } 2>/dev/null | grep -qxF "WINEPREFIX=$prefix" || continue
    echo "wine-session: ending ${d#/proc/}, left running after the Wine server of $prefix" >&2
    kill -KILL "${d#/proc/}" 2>/dev/null
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
start_display || exit 1

setpriv --pdeathsig TERM wineserver -f -p2 >"${MORVANE_WINESERVER_LOG:-/dev/null}" 2>&1 &
server=$!
# A server that cannot take the prefix (another one holds it) ends at once.
alive() { state=$(ps -o stat= -p "$server" 2>/dev/null) && [ "${state#Z}" = "$state" ]; }
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
