#!/bin/sh
# Runs one Windows test program under Wine with the pty peer on the Linux
# side of its cables:
#   run-with-peer.sh PTY_PEER WINE_RUN WINEPREFIX WORK_DIR PROGRAM.exe [ARGS...]
# The peer listens on 127.0.0.1 (a port the system picks); the program gets
# its address in MORVANE_PTY_PEER. Everything started here is ended by pid.
#
# The wine server runs in the foreground of this script's session: a daemon
# server is a session leader, and the first pty it opens becomes its
# controlling terminal, so every pty the peer closes would hang it up
# (SIGHUP) and make it dump its object table into the test's output.
set -u
[ $# -ge 5 ] || { echo "usage: $0 PTY_PEER WINE_RUN WINEPREFIX WORK_DIR PROGRAM.exe [ARGS...]" >&2; exit 2; }
peer_bin=$1 wine_run=$2 prefix=$3 work=$4
shift 4

[ -f "$1" ] || { echo "$1 is missing: build the Windows tree (MORVANE_WIN_BUILD_DIR) first" >&2; exit 1; }

WINEPREFIX=$prefix
WINEDEBUG=${WINEDEBUG:--all}
export WINEPREFIX WINEDEBUG
"$(dirname "$0")/ensure-prefix.sh" "$prefix" || exit 1

rm -rf "$work"
mkdir -p "$work/links" || exit 1
addr_file="$work/peer-address"
server_pid=
peer_pid=

# The server ends by itself shortly after the last Windows program, taking
# Wine's own service processes with it; only if it does not is it killed.
stop_server() {
    [ -n "$server_pid" ] || return 0
    tries=0
    while kill -0 "$server_pid" 2>/dev/null && [ $tries -lt 150 ]; do
        sleep 0.1
        tries=$((tries + 1))
    done
    kill "$server_pid" 2>/dev/null
    wait "$server_pid" 2>/dev/null
    server_pid=
}
stop_all() {
    [ -n "$peer_pid" ] && kill "$peer_pid" 2>/dev/null && wait "$peer_pid" 2>/dev/null
    peer_pid=
    stop_server
}
trap 'stop_all; exit 130' INT TERM

# A server left over from an earlier run goes away by itself within seconds.
timeout 30 wineserver -w 2>/dev/null
wineserver -f -p2 >"$work/wineserver.log" 2>&1 &
server_pid=$!

# The peer ends on its own after this long, should this script be killed.
"$peer_bin" --prefix "$prefix" --dir "$work/links" --addr-file "$addr_file" --lifetime 900 >"$work/peer.log" 2>&1 &
peer_pid=$!

tries=0
while [ ! -s "$addr_file" ]; do
    tries=$((tries + 1))
    if [ $tries -gt 100 ] || ! kill -0 "$peer_pid" 2>/dev/null; then
        echo "pty_peer did not start:" >&2
        cat "$work/peer.log" >&2
        stop_all
        exit 1
    fi
    sleep 0.1
done
MORVANE_PTY_PEER=$(cat "$addr_file")
export MORVANE_PTY_PEER

"$wine_run" "$@"
rc=$?
stop_all
exit $rc
