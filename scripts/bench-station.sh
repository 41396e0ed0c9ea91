#!/bin/sh
# Measures the station and its journal (not a test: figures for the README
# and for reports), against the paced virtual printer at 9600 baud:
#   - from a port appearing to its job's record on disk, and the job's own
#     time (16 keys and the two reads, from its claim to its record), for
#     RUNS plugs;
#   - from a job's record (its own time) to the operator's screen hearing of
#     it (a Server-Sent Events client of watch --http, as the page is);
#   - `journal` reading back a journal of 100,000 jobs, and --csv;
#   - `journal --report`, the shift's figures, over the same journal;
#   - `doctor`, the machine check (it exits 1 when something stands in the way).
#   scripts/bench-station.sh [RUNS]      (default 10)
# Uses the build in build/native (scripts/build.sh makes it).
set -e
top=$(cd "$(dirname "$0")/.." && pwd)
build="${MORVANE_BUILD_DIR:-$top/build}"
runs="${1:-10}"
cli="$build/native/cli/morvane-cli"
printer="$build/native/tools/virtual-printer/virtual-printer"
[ -x "$cli" ] && [ -x "$printer" ] || { echo "bench-station: build first (scripts/build.sh)" >&2; exit 1; }
work=$(mktemp -d)
pids=""
cleanup() {
  for p in $pids; do kill "$p" 2>/dev/null || true; done
  for p in $pids; do wait "$p" 2>/dev/null || true; done
  rm -rf "$work"
}
trap cleanup EXIT INT TERM
now_ms() { date +%s%N | awk '{ printf "%.1f", $1 / 1000000 }'; }
jobs_in() { grep -c '"type":"job"' "$1" 2>/dev/null || true; }

"$printer" --pace --log /dev/null >"$work/pty" 2>/dev/null &
pids="$pids $!"
i=0
while [ ! -s "$work/pty" ] && [ $i -lt 100 ]; do sleep 0.05; i=$((i + 1)); done
pty=$(head -n 1 "$work/pty")
cat >"$work/profile" <<'PROFILE'
bt-name = "Line {n}"
bt-password = 1{n}
bt-visible = hidden
bt-mode = enable
darkness = 3
beeper = on
sleep = 60
chinese = simplified
mark-sensitivity = 4
gap-sensitivity = 4
position = 28
language = english
paper-sensor = gap
command-set = escpos
paper-width = 58
baud = 9600
PROFILE
mkdir "$work/plugs"
"$cli" watch --profile "$work/profile" --journal "$work/journal" -p "$work/plugs/*" --http 127.0.0.1:0 \
  >/dev/null 2>"$work/station.err" &
station=$!
pids="$pids $station"
i=0
until grep -q '^station screen: ' "$work/station.err" || [ $i -gt 100 ]; do sleep 0.05; i=$((i + 1)); done
url=$(sed -n 's/^station screen: //p' "$work/station.err")
# The screen's client: the wall-clock time each job first reaches it, set
# against the job record's own time once all have come.
python3 - "$url" "$runs" "$work/journal" >"$work/screen-samples" <<'PY' &
import datetime, json, sys, time, urllib.parse, urllib.request
url, runs, journal = sys.argv[1], int(sys.argv[2]), sys.argv[3]
parts = urllib.parse.urlsplit(url)
heard = {}
with urllib.request.urlopen(f"http://{parts.netloc}/events?{parts.query}", timeout=60) as events:
    for line in events:
        if line.startswith(b"data: "):
            now = time.time() * 1000
            for job in json.loads(line[6:])["last"]:
                heard.setdefault(job["n"], now)
            if len(heard) >= runs:
                break
for line in open(journal):
    record = json.loads(line)
    if record.get("type") == "job" and record["n"] in heard:
        made = datetime.datetime.fromisoformat(record["time"].replace("Z", "+00:00")).timestamp() * 1000
        print(f"record-to-screen {heard[record['n']] - made:.1f}")
PY
screen_client=$!
pids="$pids $screen_client"
sleep 0.5

samples="$work/samples"
: >"$samples"
k=0
while [ $k -lt "$runs" ]; do
  before=$(jobs_in "$work/journal")
  t0=$(now_ms)
  ln -s "$pty" "$work/plugs/printer"
  i=0
  until [ "$(jobs_in "$work/journal")" -gt "$before" ] || [ $i -gt 1000 ]; do sleep 0.005; i=$((i + 1)); done
  t1=$(now_ms)
  echo "appear-to-record $(echo "$t0 $t1" | awk '{ printf "%.1f", $2 - $1 }')" >>"$samples"
  rm "$work/plugs/printer"
  sleep 0.4  # the station sees it go
  k=$((k + 1))
done
wait "$screen_client" 2>/dev/null || true
cat "$work/screen-samples" >>"$samples"
kill -INT "$station"
wait "$station" 2>/dev/null || true
# The job's own time: from its claim (just before its first frame) to its
# record (after the last read), by the journal's own times.
awk '
  function ms(line,   t) {
    match(line, /"time":"[^"]*"/)
    t = substr(line, RSTART + 19, 12)  # HH:MM:SS.mmm
    return ((substr(t, 1, 2) * 60 + substr(t, 4, 2)) * 60 + substr(t, 7, 6)) * 1000
  }
  /"type":"claim"/ { claimed[$0 ~ /"n":[0-9]+/ ? substr($0, index($0, "\"n\":") + 4) + 0 : 0] = ms($0) }
  /"type":"job"/ { n = substr($0, index($0, "\"n\":") + 4) + 0; printf "job-16-keys-2-reads %.1f\n", ms($0) - claimed[n] }
' "$work/journal" >>"$samples"

# 100,000 jobs, as a station writes them: one every 0.3 s from 06:00 (a
# shift of 8.3 hours), every 20th refused at its third key.
awk 'function at(ms) { return sprintf("2026-12-09T%02d:%02d:%02d.%03dZ", int(ms / 3600000), int(ms / 60000) % 60, int(ms / 1000) % 60, ms % 1000) }
BEGIN {
  for (n = 1; n <= 100000; n++) {
    ms = 21600000 + n * 300
    printf "{\"v\":1,\"type\":\"claim\",\"n\":%d,\"time\":\"%s\",\"host\":\"bench\",\"user\":\"tech\",\"port\":\"/dev/ttyUSB0\"}\n", n, at(ms - 250)
    printf "{\"v\":1,\"type\":\"job\",\"n\":%d,\"time\":\"%s\",\"host\":\"bench\",\"user\":\"tech\",\"command\":\"watch\",\"port\":\"/dev/ttyUSB0\",\"identity\":{\"kind\":\"usb-serial\",\"vendor_id\":\"0416\",\"product_id\":\"5011\",\"serial_number\":\"PRN%d\"},\"profile\":\"/srv/shop.profile\",\"settings\":[", n, at(ms), n
    failed = n % 20 == 0
    for (k = 1; k <= 16; k++) printf "%s{\"key\":\"key-%d\",\"value\":\"%d\",\"result\":\"%s\",\"ms\":14}", (k > 1 ? "," : ""), k, n, (!failed || k < 3 ? "ok" : k == 3 ? "refused" : "not-sent")
    printf "],\"bt_address\":\"00:11:%02X:%02X:%02X:%02X\",\"bt_name\":\"Line %d\",\"result\":\"%s\"}\n", int(n / 16777216) % 256, int(n / 65536) % 256, int(n / 256) % 256, n % 256, n, (failed ? "refused" : "ok")
  } }' >"$work/big"
for k in 1 2 3; do
  for view in latest csv report; do
    t0=$(now_ms)
    case $view in
      csv) "$cli" journal "$work/big" --csv >/dev/null ;;
      report) "$cli" journal "$work/big" --report >/dev/null ;;
      *) "$cli" journal "$work/big" >/dev/null ;;
    esac
    t1=$(now_ms)
    echo "journal-100k-$view $(echo "$t0 $t1" | awk '{ printf "%.1f", $2 - $1 }')" >>"$samples"
  done
done
for k in 1 2 3 4 5; do t0=$(now_ms); "$cli" doctor --journal "$work/journal" >/dev/null || true; t1=$(now_ms); echo "doctor $(echo "$t0 $t1" | awk '{ printf "%.1f", $2 - $1 }')" >>"$samples"; done

awk '
  { v[$1] = v[$1] " " $2; n[$1]++ }
  END {
    split("appear-to-record job-16-keys-2-reads record-to-screen journal-100k-latest journal-100k-csv journal-100k-report doctor", names, " ")
    printf "| %-24s | %5s | %10s | %10s | %10s |\n", "measurement", "runs", "median ms", "min ms", "max ms"
    printf "|%s|%s|%s|%s|%s|\n", "--------------------------", "-------", "------------", "------------", "------------"
    for (k = 1; k in names; k++) {
      name = names[k]
      if (!(name in n)) continue
      m = split(substr(v[name], 2), s, " ")
      for (i = 1; i <= m; i++) for (j = i + 1; j <= m; j++) if (s[j] + 0 < s[i] + 0) { t = s[i]; s[i] = s[j]; s[j] = t }
      med[name] = (m % 2) ? s[(m + 1) / 2] : (s[m / 2] + s[m / 2 + 1]) / 2
      printf "| %-24s | %5d | %10.1f | %10.1f | %10.1f |\n", name, m, med[name], s[1], s[m]
    }
    if (("appear-to-record" in med) && ("job-16-keys-2-reads" in med))
      printf "\nfrom a port appearing to its record, beyond the job itself: %.0f ms (median)\n", med["appear-to-record"] - med["job-16-keys-2-reads"]
  }' "$samples"
