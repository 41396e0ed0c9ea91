#!/bin/sh
# Runs one Windows test program under Wine with the pty peer on the Linux
# side of its cables:
#   run-with-peer.sh PTY_PEER WINE_RUN TEMPLATE PREFIX WORK_DIR PROGRAM.exe [ARGS...]
# PREFIX is made afresh from TEMPLATE (clone-prefix.sh): each program has a
# prefix of its own, so that programs run side by side. The peer listens on
# 127.0.0.1 (a port the system picks); the program gets its address in
# MORVANE_PTY_PEER. Everything started here is ended by pid.
#
# The display (one of its own) and the Wine server come from
# wine-session.sh; the peer is ended on every way out of this script.
set -u
[ $# -ge 6 ] || { echo "usage: $0 PTY_PEER WINE_RUN TEMPLATE PREFIX WORK_DIR PROGRAM.exe [ARGS...]" >&2; exit 2; }
peer_bin=$1 wine_run=$2 template=$3 prefix=$4 work=$5
shift 5

[ -f "$1" ] || { echo "$1 is missing: build the Windows test programs (MORVANE_WIN_TEST_BUILD_DIR) first" >&2; exit 1; }

"$(dirname "$0")/clone-prefix.sh" "$template" "$prefix" || exit 1
rm -rf "$work"
mkdir -p "$work/links" || exit 1
addr_file="$work/peer-address"
peer_pid=
stop_peer() {
    [ -n "$peer_pid" ] && kill "$peer_pid" 2>/dev/null && wait "$peer_pid" 2>/dev/null
    peer_pid=
}
trap stop_peer EXIT
trap 'exit 143' TERM
trap 'exit 130' INT

# The peer ends on its own after this long, should this script be killed.
setpriv --pdeathsig TERM "$peer_bin" --prefix "$prefix" --dir "$work/links" --addr-file "$addr_file" --lifetime 900 >"$work/peer.log" 2>&1 &
peer_pid=$!

tries=0
while [ ! -s "$addr_file" ]; do
    tries=$((tries + 1))
    if [ $tries -gt 100 ] || ! kill -0 "$peer_pid" 2>/dev/null; then
        echo "pty_peer did not start:" >&2
        cat "$work/peer.log" >&2
        exit 1
    fi
    sleep 0.1
done
MORVANE_PTY_PEER=$(cat "$addr_file")
export MORVANE_PTY_PEER

MORVANE_WINESERVER_LOG="$work/wineserver.log" "$(dirname "$0")/wine-session.sh" --own-display "$prefix" "$wine_run" "$@"
