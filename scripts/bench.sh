#!/bin/sh
# Measures, side by side in one run, one Set from the dialog and from
# morvane-cli against the paced virtual printer (its answers take their time
# on the wire), and prints a table of medians, minimum and maximum, with the
# ratios. Not a test: figures for the README and for reports.
#   scripts/bench.sh [RUNS]      (default 20 native runs; 3 dialog and 5 Wine runs)
#   BENCH_NATIVE_ONLY=1          leaves out the dialog and Wine
set -e
top=$(cd "$(dirname "$0")/.." && pwd)
build="${MORVANE_BUILD_DIR:-$top/build}"
runs="${1:-20}"
"$top/scripts/deps.sh"
"$top/scripts/build.sh" >/dev/null

native="$build/native"
cli="$native/cli/morvane-cli"
printer="$native/tools/virtual-printer/virtual-printer"
floor="$native/tools/net-floor/net-floor"
work=$(mktemp -d)
samples="$work/samples"
: >"$samples"
pids=""
cleanup() {
  for p in $pids; do kill "$p" 2>/dev/null || true; done
  for p in $pids; do wait "$p" 2>/dev/null || true; done
  rm -rf "$work"
}
trap cleanup EXIT INT TERM


# start_printer NAME [OPTION...]: a paced printer; its pty path in $NAME.
# (Not in a command substitution: its process id must reach cleanup.)
start_printer() {
  name=$1
  shift
  "$printer" --pace --no-log "$@" >"$work/$name.path" 2>/dev/null &
  pids="$pids $!"
  i=0
  while [ ! -s "$work/$name.path" ] && [ $i -lt 100 ]; do sleep 0.05; i=$((i + 1)); done
  eval "$name=\$(head -n 1 \"\$work/$name.path\")"
}

# time_runs NAME N COMMAND...: N whole-process timings of COMMAND, taken
# by one small timer process (a shell's date and awk for each run would
# cost more than the command itself).
time_runs() {
  name=$1 n=$2
  shift 2
  python3 - "$name" "$n" "$@" >>"$samples" <<'TIMER' || { echo "bench: $name failed: $*" >&2; exit 1; }
import subprocess, sys, time
name, runs, command = sys.argv[1], int(sys.argv[2]), sys.argv[3:]
for _ in range(runs):
    start = time.perf_counter()
    if subprocess.run(command, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL).returncode != 0:
        sys.exit(1)
    print("%s %.1f" % (name, (time.perf_counter() - start) * 1000))
TIMER
}

start_printer p9600
start_printer p115200 --baud 115200
time_runs cli-native-9600 "$runs" "$cli" set darkness=4 -p "$p9600"
time_runs cli-native-115200 "$runs" "$cli" set darkness=4 -p "$p115200" -b 115200

cat >"$work/profile" <<'PROFILE'
bt-name = "Bench {n}"
bt-password = 1234
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
# Each setting inside a profile, from the command's own figures.
"$cli" apply "$work/profile" -p "$p9600" --json 2>/dev/null |
  sed -n 's/.*"ms":\([0-9]*\).*/profile-setting-9600 \1/p' >>"$samples"
time_runs profile-16-keys-9600 "$runs" "$cli" apply "$work/profile" -p "$p9600"
ports=""
for k in 1 2 3 4 5 6 7 8; do
  start_printer batch$k
  eval "ports=\"\$ports\${ports:+,}\$batch$k\""
done
time_runs profile-8-printers-9600 "$runs" "$cli" apply "$work/profile" -p "$ports"

# Network printers: paced as a network module's 115200-baud link to the
# printer (virtual-printer --help). start_tcp NAME N [OPTION...]: N printers
# in one process, their tcp:// addresses joined by commas in $NAME.
start_tcp() {
  name=$1 n=$2
  shift 2
  : >"$work/$name.ports"  # there before the printer's shell opens it
  "$printer" --pace --no-log --count "$n" "$@" >>"$work/$name.ports" 2>/dev/null &
  pids="$pids $!"
  i=0
  while [ "$(wc -l <"$work/$name.ports")" -lt "$n" ] && [ $i -lt 200 ]; do sleep 0.05; i=$((i + 1)); done
  eval "$name=\$(paste -sd, \"\$work/$name.ports\")"
}
# peak_rss NAME COMMAND...: the command's peak resident memory, in MiB.
peak_rss() {
  name=$1
  shift
  /usr/bin/time -f %M -o "$work/rss" "$@" >/dev/null 2>&1 || { echo "bench: $name failed: $*" >&2; exit 1; }
  echo "$name $(awk '{ printf "%.1f", $1 / 1024 }' "$work/rss")" >>"$work/rss-samples"
}
: >"$work/rss-samples"
start_tcp net1 1 --tcp 127.0.0.1:0
time_runs net-set "$runs" "$cli" set darkness=4 -p "$net1"
time_runs net-profile-1 "$runs" "$cli" apply "$work/profile" -p "$net1"
# The floor: a bare client sending the same frames (tools/net-floor), its
# runs taken turn about with the command's, so that both see the same machine.
# (--dry-run masks the password's bytes: the floor sends as many zeros.)
"$cli" apply "$work/profile" -p "$net1" --dry-run 2>/dev/null | sed 's/\*\*/30/g' |
  sed -n 's/.*\(1D 46\( [0-9A-F][0-9A-F]\)*\) *$/\1/p' >"$work/frames"
[ "$(wc -l <"$work/frames")" -eq 16 ] || { echo "bench: the profile's 16 frames were not found" >&2; exit 1; }
start_tcp net256 256 --tcp 127.0.0.1:0
for _ in 1 2 3 4 5; do
  time_runs net-profile-256 1 "$cli" apply "$work/profile" -p "$net256" --jobs 256
  time_runs net-floor-256 1 "$floor" "$work/frames" "$net256"
done
peak_rss net-profile-256 "$cli" apply "$work/profile" -p "$net256" --jobs 256
peak_rss net-floor-256 "$floor" "$work/frames" "$net256"
start_tcp net1000 1000 --tcp 127.0.0.1:0
for _ in 1 2 3; do
  time_runs net-profile-1000-jobs-1000 1 "$cli" apply "$work/profile" -p "$net1000" --jobs 1000
  time_runs net-floor-1000 1 "$floor" "$work/frames" "$net1000"
done
peak_rss net-profile-1000-jobs-1000 "$cli" apply "$work/profile" -p "$net1000" --jobs 1000
peak_rss net-floor-1000 "$floor" "$work/frames" "$net1000"
time_runs net-profile-1000-jobs-64 3 "$cli" apply "$work/profile" -p "$net1000"
peak_rss net-profile-1000-jobs-64 "$cli" apply "$work/profile" -p "$net1000"
# A /24 with four printers on addresses of their own and nobody elsewhere.
scan_port=$(python3 -c 'import socket; s = socket.socket(); s.bind(("0.0.0.0", 0)); print(s.getsockname()[1])')
for a in 10 11 12 13; do start_tcp scan$a 1 --tcp "127.0.0.$a:$scan_port"; done
time_runs net-probe-24 5 "$cli" probe --net "127.0.0.0/24:$scan_port" --connect-timeout 250 --timeout 250

if [ -z "${BENCH_NATIVE_ONLY:-}" ]; then
  echo "== Dialog and command under Wine (takes a minute)" >&2
  . "$top/scripts/xvfb.sh"
  start_display
  (cd "$native" && ./tests/e2e/e2e_bench) | sed -n 's/^bench //p' >>"$samples"
  stop_display
fi

awk '
  { v[$1] = v[$1] " " $2; n[$1]++ }
  END {
    order = "dialog-com-9600 dialog-library cli-native-9600 cli-native-115200 cli-wine-9600 cli-wine-115200 " \
            "profile-setting-9600 profile-16-keys-9600 profile-8-printers-9600 net-set net-profile-1 " \
            "net-profile-256 net-floor-256 net-profile-1000-jobs-1000 net-floor-1000 net-profile-1000-jobs-64 " \
            "net-probe-24"
    split(order, names, " ")
    printf "| %-26s | %5s | %10s | %10s | %10s |\n", "measurement", "runs", "median ms", "min ms", "max ms"
    printf "|%s|%s|%s|%s|%s|\n", "----------------------------", "-------", "------------", "------------", "------------"
    for (k = 1; k in names; k++) {
      name = names[k]
      if (!(name in n)) continue
      m = split(substr(v[name], 2), s, " ")
      for (i = 1; i <= m; i++) for (j = i + 1; j <= m; j++) if (s[j] + 0 < s[i] + 0) { t = s[i]; s[i] = s[j]; s[j] = t }
      med[name] = (m % 2) ? s[(m + 1) / 2] : (s[m / 2] + s[m / 2 + 1]) / 2
      printf "| %-26s | %5d | %10.1f | %10.1f | %10.1f |\n", name, m, med[name], s[1], s[m]
    }
    print ""
    if (("dialog-com-9600" in med) && med["cli-native-9600"] > 0)
      printf "dialog over COM / morvane-cli at 9600: %.0f times\n", med["dialog-com-9600"] / med["cli-native-9600"]
    if (("dialog-library" in med) && med["cli-native-9600"] > 0)
      printf "dialog through the library / morvane-cli at 9600: %.0f times\n", med["dialog-library"] / med["cli-native-9600"]
    if (med["cli-native-115200"] > 0)
      printf "morvane-cli 9600 / 115200: %.2f\n", med["cli-native-9600"] / med["cli-native-115200"]
    if (med["profile-16-keys-9600"] > 0)
      printf "8 printers at once / one printer: %.2f\n", med["profile-8-printers-9600"] / med["profile-16-keys-9600"]
    if (med["net-profile-1"] > 0)
      printf "256 network printers at once / one: %.2f\n", med["net-profile-256"] / med["net-profile-1"]
    if (med["net-floor-256"] > 0)
      printf "the command / the floor, 256 printers: %.2f\n", med["net-profile-256"] / med["net-floor-256"]
    if (med["net-floor-1000"] > 0)
      printf "the command / the floor, 1,000 printers: %.2f\n", med["net-profile-1000-jobs-1000"] / med["net-floor-1000"]
  }' "$samples"
while read -r name mib; do echo "peak resident memory, $name: $mib MiB"; done <"$work/rss-samples"
