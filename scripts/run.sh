#!/bin/sh
# Installs what is missing, builds, and starts Morvane.exe under Wine in a
# private prefix, with a virtual printer on COM1 and another on USB1: (the
# latter reached through the port library). Without a display it runs on a
# virtual one, takes a screenshot after a few seconds and ends the program.
set -e
top=$(cd "$(dirname "$0")/.." && pwd)
build="${MORVANE_BUILD_DIR:-$top/build}"
"$top/scripts/deps.sh"
"$top/scripts/build.sh" >/dev/null

run="$build/run"
prefix="$run/wineprefix"
rm -rf "$run/Morvane"
mkdir -p "$run"
cp -r "$build/win/Morvane" "$run/Morvane"
"$top/tests/wine/ensure-prefix.sh" "$prefix"

headless=0
[ -n "${DISPLAY:-}" ] || headless=1

printer="$build/native/tools/virtual-printer/virtual-printer"
pids=""
cleanup() {
  for p in $pids; do kill "$p" 2>/dev/null || true; done
}
trap cleanup EXIT INT TERM
export WINEPREFIX="$prefix" WINEDEBUG=-all

setpriv --pdeathsig TERM "$printer" --link "$prefix/cables/com1" --log "$run/com1-printer.log" >/dev/null &
pids="$pids $!"
setpriv --pdeathsig TERM "$printer" --link "$run/usb1-cable" --log "$run/usb1-printer.log" >/dev/null &
pids="$pids $!"
i=0
while { [ ! -e "$prefix/cables/com1" ] || [ ! -e "$run/usb1-cable" ]; } && [ $i -lt 50 ]; do sleep 0.1; i=$((i + 1)); done

echo "Morvane.exe is starting; the virtual printers answer on COM1: and USB1:."
echo "Their logs: $run/com1-printer.log, $run/usb1-printer.log"
# The program runs in a Wine session (display and server) of its own.
cd "$run/Morvane"
export headless run
"$top/tests/wine/wine-session.sh" "$prefix" sh -c '
  # The port library reaches USB1: through the cable of the virtual printer,
  # named as Wine names it.
  cable=$(winepath -w "$run/usb1-cable") && [ -n "$cable" ] || { echo "winepath failed: USB1: has no cable" >&2; exit 1; }
  printf "[Ports]\r\nUSB1=%s\r\n" "$cable" > TarnPort.ini
  WINEDLLOVERRIDES="mscoree,mshtml=" wine Morvane.exe &
  app=$!
  if [ "$headless" = 1 ]; then
    sleep "${MORVANE_SHOW_SECONDS:-8}"
    import -window root "$run/screenshot.png"
    echo "No display: the dialog ran on a virtual one; screenshot in $run/screenshot.png"
    kill "$app" 2>/dev/null
  fi
  wait "$app" 2>/dev/null || true'
