#!/bin/sh
# Creates a Wine prefix once, set up for fast and honest tests:
#  - windows not managed by a window manager (otherwise Wine waits about 2 s
#    whenever a window hides, e.g. each dismissed message box);
#  - no crash dialog, so a crash ends the process instead of hanging it;
#  - COM1 plugged into a cable socket, $prefix/cables/com1: a link that a
#    virtual printer points at its pseudo-terminal. Wine re-creates the COM
#    links of the machine's own serial ports whenever it starts, so a link
#    made straight in dosdevices/com1 would be lost; a port named in
#    HKLM\Software\Wine\Ports is linked where the registry says.
# Safe to call from several processes at once.
set -e
prefix="$1"
[ -n "$prefix" ] || { echo "usage: $0 PREFIX" >&2; exit 2; }
[ -f "$prefix/.morvane-ready" ] && exit 0
mkdir -p "$(dirname "$prefix")"
exec 9>"$prefix.lock"
flock -w 600 9
[ -f "$prefix/.morvane-ready" ] && exit 0
export WINEPREFIX="$prefix" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
# wineboot must not pop up anything or wait for a display.
DISPLAY= wineboot -i >/dev/null 2>&1 || true
DISPLAY= wine reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /t REG_SZ /d N /f >/dev/null 2>&1
DISPLAY= wine reg add 'HKCU\Software\Wine\WineDbg' /v ShowCrashDialog /t REG_DWORD /d 0 /f >/dev/null 2>&1
mkdir -p "$prefix/cables"
DISPLAY= wine reg add 'HKLM\Software\Wine\Ports' /v COM1 /t REG_SZ /d "$prefix/cables/com1" /f >/dev/null 2>&1
wineserver -w
[ -d "$prefix/dosdevices" ] || { echo "wine prefix $prefix was not created" >&2; exit 1; }
touch "$prefix/.morvane-ready"
