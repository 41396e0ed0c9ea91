#!/bin/sh
# Creates a Wine prefix once, set up for fast and honest tests:
#  - windows not managed by a window manager (otherwise Wine waits about 2 s
#    whenever a window hides, e.g. each dismissed message box);
#  - no crash dialog, so a crash ends the process instead of hanging it;
#  - COM1 plugged into a cable socket, $prefix/cables/com1: a link that a
#    virtual printer points at its pseudo-terminal. Wine re-creates the COM
#    links of the machine's own serial ports whenever it starts, so a link
#    made straight in dosdevices/com1 would be lost; a port named in
#    HKLM\Software\Wine\Ports is linked where the registry says;
#  - the fonts a Windows machine has: Wine's own (the "System" bitmap font
#    the dialog asks for, Marlett for the title bar's buttons), which this
#    Wine does not find in its data folder by itself, copied into the
#    prefix's Fonts folder; and a CJK font standing in for "SimSun", which
#    Wine links behind "System" and "MS Shell Dlg" for Chinese text.
# A prefix made by an older version of this set-up is brought up to date.
# Safe to call from several processes at once.
set -e
prefix="$1"
[ -n "$prefix" ] || { echo "usage: $0 PREFIX" >&2; exit 2; }
# Bump when the set-up below changes, so existing prefixes get it too. A
# new Wine sets the prefix up again as well: Wine updates a prefix's own
# files in place, which must happen here and never in a clone sharing them
# (clone-prefix.sh).
setup_version="2 $(wine --version 2>/dev/null)"
ready() { [ "$(cat "$prefix/.morvane-ready" 2>/dev/null)" = "$setup_version" ]; }
ready && exit 0
mkdir -p "$(dirname "$prefix")"
exec 9>"$prefix.lock"
flock -w 600 9
ready && exit 0
export WINEPREFIX="$prefix" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
# wineboot must not pop up anything or wait for a display.
[ -d "$prefix/dosdevices" ] || DISPLAY= wineboot -i >/dev/null 2>&1 || true
DISPLAY= wine reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /t REG_SZ /d N /f >/dev/null 2>&1
DISPLAY= wine reg add 'HKCU\Software\Wine\WineDbg' /v ShowCrashDialog /t REG_DWORD /d 0 /f >/dev/null 2>&1
mkdir -p "$prefix/cables"
DISPLAY= wine reg add 'HKLM\Software\Wine\Ports' /v COM1 /t REG_SZ /d "$prefix/cables/com1" /f >/dev/null 2>&1

wine_fonts=/usr/share/wine/fonts
[ -f "$wine_fonts/marlett.ttf" ] || { echo "Wine's fonts are missing ($wine_fonts): install fonts-wine (scripts/deps.sh)" >&2; exit 1; }
cjk_font=$(fc-list -f '%{file}\n' 'WenQuanYi Zen Hei' | head -n 1)
[ -n "$cjk_font" ] || { echo "no CJK font: install fonts-wqy-zenhei (scripts/deps.sh)" >&2; exit 1; }
mkdir -p "$prefix/drive_c/windows/Fonts"
cp "$wine_fonts"/* "$prefix/drive_c/windows/Fonts/"
DISPLAY= wine reg add 'HKCU\Software\Wine\Fonts\Replacements' /v SimSun /t REG_SZ /d 'WenQuanYi Zen Hei' /f >/dev/null 2>&1
wineserver -w
[ -d "$prefix/dosdevices" ] || { echo "wine prefix $prefix was not created" >&2; exit 1; }
echo "$setup_version" > "$prefix/.morvane-ready"
