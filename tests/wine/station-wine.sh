#!/bin/sh
# The station in morvane-cli.exe under Wine, on a named port the prefix
# links to a virtual printer (COM5), with its screen: the port is taken when
# it appears after the station started, and again after it has gone and
# come back; each job gets the next number; the screen answers with its
# token only and shows the slot's tile; Ctrl-C ends it all with 130.
#   station-wine.sh WINE_RUN TEMPLATE PREFIX WORK_DIR CLI_EXE PRINTER
set -u

# --- inside the Wine session ---------------------------------------------
failed=0
check() {  # check WHAT COMMAND...
  what=$1
  shift
  if "$@"; then echo "ok: $what"; else echo "FAILED: $what"; failed=1; fi
}
within() {  # within SECONDS COMMAND...: tries a tenth of a second apart
  tenths=$(($1 * 10))
  shift
  i=0
  until "$@" || [ $i -ge $tenths ]; do sleep 0.1; i=$((i + 1)); done
  "$@"
}
jobs_at_least() { [ "$(grep -c '"type":"job"' journal.jsonl 2>/dev/null)" -ge "$1" ]; }
screen_printed() { grep -q '^station screen: http://127.0.0.1:' station.err; }
plug() { "$printer" --link "$link" --no-log >/dev/null 2>&1 & plugged=$!; }
unplug() { kill "$plugged"; wait "$plugged" 2>/dev/null; }
http() {  # http PATH: "STATUS BODY", as a browser would get it
  python3 - "$base$1" <<'PY'
import sys, urllib.error, urllib.request
try:
    with urllib.request.urlopen(sys.argv[1], timeout=10) as r:
        print(r.status, r.read().decode())
except urllib.error.HTTPError as e:
    print(e.code)
PY
}
answers() { http "$1" | grep -q "$2"; }  # answers PATH PATTERN
gone() { ! kill -0 "$1" 2>/dev/null; }
inside() {
  wine_run=$1 cli=$2
  cd "$WORK" || exit 1
  "$wine_run" "$cli" watch --profile line.profile --journal journal.jsonl -p COM5 --http 127.0.0.1:0 \
    --timeout 1000 >station.out 2>station.err &
  station=$!
  check "the station prints its screen's address" within 60 screen_printed
  screen=$(sed -n 's/^station screen: //p' station.err | tr -d '\r')
  base=${screen%%/\?*}
  token=${screen##*\?}
  plug
  check "COM5, linked after the station started, is taken: job 1" within 60 jobs_at_least 1
  check "the screen with its token: 200" answers "/?$token" '^200 '
  check "the screen without it: 401" answers /state '^401$'
  check "the screen: COM5 passed as number 1" within 5 answers "/state?$token" '"n":1,"port":"COM5","slot":"COM5","state":"pass"'
  unplug
  sleep 1.5  # the station sees it gone
  plug
  check "COM5, gone and back, is taken again: job 2" within 60 jobs_at_least 2
  check "the screen: COM5 passed as number 2" within 5 answers "/state?$token" '"n":2,"port":"COM5","slot":"COM5","state":"pass"'
  unplug
  # Ctrl-C, as Wine gives it to a console program: the station, its screen
  # and the screen's thread end, and it says how.
  kill -INT "$station" 2>/dev/null
  check "Ctrl-C ends the station within 10 s" within 10 gone "$station"
  kill -KILL "$station" 2>/dev/null
  wait "$station"
  status=$?
  check "... with status 130" test "$status" = 130
  check "two jobs, numbered 1 and 2, both ok" python3 -c '
import json, sys
jobs = [r for r in map(json.loads, open("journal.jsonl")) if r["type"] == "job"]
sys.exit([(j["n"], j["result"], j["port"]) for j in jobs] != [(1, "ok", "COM5"), (2, "ok", "COM5")])'
  if [ $failed != 0 ]; then
    echo "--- the station's output"
    cat station.out station.err
  fi
  exit $failed
}
if [ "${1:-}" = --inside ]; then
  shift
  inside "$@"
fi

# --- the test ------------------------------------------------------------
[ $# -eq 6 ] || { echo "usage: $0 WINE_RUN TEMPLATE PREFIX WORK_DIR CLI_EXE PRINTER" >&2; exit 2; }
wine_run=$1 template=$2 prefix=$3 work=$4 cli=$5
here=$(cd "$(dirname "$0")" && pwd)
"$here/clone-prefix.sh" "$template" "$prefix" || exit 1
rm -rf "$work"
mkdir -p "$work" || exit 1
printf 'darkness = 4\nbt-name = "Line {n}"\n' >"$work/line.profile"
export WORK="$work" printer="$6" link="$prefix/dosdevices/com5"
rm -f "$link"
WINEDEBUG=-all exec "$here/wine-session.sh" --own-display "$prefix" "$0" --inside "$wine_run" "$cli"
