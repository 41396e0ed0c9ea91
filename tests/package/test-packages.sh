#!/bin/sh
# Tests the release packages that scripts/package.sh made:
#  - the zip, unpacked into an empty folder: its Morvane.exe starts under
#    Wine and draws its dialog;
#  - the .deb: its files and declared dependencies; as root on Debian it is
#    installed, run from PATH, its manual page found, and removed again.
# Needs a display ($DISPLAY) and the test Wine prefix of build/native.
set -u
top=$(cd "$(dirname "$0")/../.." && pwd)
build="${MORVANE_BUILD_DIR:-$top/build}"
version=$(sed -n 's/^project(Morvane VERSION \([0-9.]*\).*/\1/p' "$top/CMakeLists.txt")
zip="$build/win/packages/Morvane-$version-win64.zip"
deb=$(ls "$build"/native/packages/morvane-cli_"$version"_*.deb 2>/dev/null | head -n 1)
failures=0
passed=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }
pass() { echo "ok: $*"; passed=$((passed + 1)); }
work=$(mktemp -d)
app=""
cleanup() {
  [ -n "$app" ] && kill "$app" 2>/dev/null
  [ -n "$app" ] && wait "$app" 2>/dev/null
  rm -rf "$work"
}
trap cleanup EXIT INT TERM

# --- the zip ---------------------------------------------------------------
if [ ! -f "$zip" ]; then
  fail "no $zip"
else
  unzip -q "$zip" -d "$work/unpacked"
  folder="$work/unpacked/Morvane-$version-win64"
  for f in Morvane.exe TarnPortDll.dll SkinPlusPlusDLL.dll XPCorona.ssk morvane-cli.exe README.txt; do
    [ -f "$folder/$f" ] && pass "zip holds $f" || fail "zip lacks $f"
  done
  # The folder runs as it is: the dialog shows its title on the display.
  (cd "$folder" && exec "$build/native/wine-run" Morvane.exe >/dev/null 2>&1) &
  app=$!
  title="Morvane V$version"
  i=0
  while [ $i -lt 120 ] && ! xwininfo -root -tree 2>/dev/null | grep -q "\"$title\""; do
    sleep 0.5
    i=$((i + 1))
  done
  xwininfo -root -tree 2>/dev/null | grep -q "\"$title\"" && pass "the unpacked Morvane.exe draws \"$title\"" ||
    fail "no window \"$title\" from the unpacked Morvane.exe"
  kill "$app" 2>/dev/null
  wait "$app" 2>/dev/null
  app=""
  WINEPREFIX="$build/native/wineprefix" wineserver -k 2>/dev/null
fi

# --- the .deb --------------------------------------------------------------
if [ -z "$deb" ]; then
  fail "no .deb in $build/native/packages"
else
  contents=$(dpkg-deb -c "$deb")
  for f in ./usr/bin/morvane-cli ./usr/bin/virtual-printer ./usr/share/man/man1/morvane-cli.1.gz \
           ./usr/share/man/man1/virtual-printer.1.gz ./usr/share/bash-completion/completions/morvane-cli \
           ./usr/share/doc/morvane-cli/copyright ./usr/share/ansible/plugins/modules/morvane_printer.py; do
    echo "$contents" | grep -q " $f\$" && pass "deb holds $f" || fail "deb lacks $f"
  done
  depends=$(dpkg-deb -f "$deb" Depends)
  echo "$depends" | grep -q "libserialport0" && pass "deb depends on libserialport0" ||
    fail "deb does not declare libserialport0: $depends"
  if [ "$(id -u)" = 0 ] && [ -f /etc/debian_version ] && ! dpkg -s morvane-cli >/dev/null 2>&1; then
    if DEBIAN_FRONTEND=noninteractive apt-get install -y -qq "$deb" >"$work/install.log" 2>&1; then
      v=$(PATH=/usr/bin:/bin morvane-cli --version 2>&1)
      [ "$v" = "morvane-cli $version" ] && pass "installed: morvane-cli --version says $v" ||
        fail "installed morvane-cli --version said: $v"
      man -w morvane-cli >/dev/null 2>&1 && pass "man -w morvane-cli finds $(man -w morvane-cli)" ||
        fail "man -w morvane-cli finds nothing"
      # Found where Ansible looks by default, its documentation read as ansible-doc reads it.
      if command -v ansible-doc >/dev/null 2>&1; then
        LC_ALL=C.UTF-8 ANSIBLE_HOME="$work/ansible" ansible-doc morvane_printer 2>&1 | grep -q "^> MORVANE_PRINTER" &&
          pass "ansible-doc finds morvane_printer and reads its documentation" ||
          fail "ansible-doc morvane_printer: $(LC_ALL=C.UTF-8 ANSIBLE_HOME="$work/ansible" ansible-doc morvane_printer 2>&1 | tail -n 2)"
      else
        fail "ansible-doc is missing (Debian package ansible-core)"
      fi
      dpkg -r morvane-cli >/dev/null 2>&1 && pass "removed again" || fail "dpkg -r morvane-cli failed"
    else
      fail "apt-get install of $deb failed: $(tail -n 3 "$work/install.log")"
    fi
  else
    echo "skipped: installing the .deb (needs root on Debian without morvane-cli installed)"
  fi
fi

echo "$passed passed, $failures failed"
[ "$failures" -eq 0 ]
