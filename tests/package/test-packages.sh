#!/bin/sh
# Tests the release packages that scripts/package.sh made:
#  - the zip, unpacked into an empty folder: its Morvane.exe starts under
#    Wine and draws its dialog;
#  - the MSI: its tables and summary; then, in a Wine prefix of its own,
#    installed silently, found on the PATH by a new cmd, its Morvane.exe
#    drawing the dialog, upgraded by a second build of a higher version,
#    refused over that one, and removed without a trace;
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
fail() { printf 'FAIL: %s\n' "$*"; failures=$((failures + 1)); }
pass() { printf 'ok: %s\n' "$*"; passed=$((passed + 1)); }
work=$(mktemp -d)
app=""
# window_shows TITLE: waits (120 s at most: a loaded machine starts Wine
# slowly) for a window TITLE on the display.
window_shows() {
  i=0
  while [ $i -lt 240 ] && ! xwininfo -root -tree 2>/dev/null | grep -q "\"$1\""; do
    sleep 0.5
    i=$((i + 1))
  done
  xwininfo -root -tree 2>/dev/null | grep -q "\"$1\""
}
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
  window_shows "$title" && pass "the unpacked Morvane.exe draws \"$title\"" ||
    fail "no window \"$title\" from the unpacked Morvane.exe"
  kill "$app" 2>/dev/null
  wait "$app" 2>/dev/null
  app=""
  WINEPREFIX="$build/native/wineprefix" wineserver -k 2>/dev/null
fi

# --- the MSI ---------------------------------------------------------------
msi="$build/win/packages/Morvane-$version-x64.msi"
folder="$work/unpacked/Morvane-$version-win64"
# expect STEP: each "what|condition" line of standard input holds.
expect() {
  while IFS='|' read -r what condition; do
    eval "$condition" && pass "$1: $what" || fail "$1: $what"
  done
}
if [ ! -f "$msi" ] || [ ! -d "$folder" ]; then
  fail "no $msi, or no zip to compare it with"
else
  # The tables and the summary, as msiinfo shows them: "TABLE|line".
  tab=$(printf '\t')
  while IFS='|' read -r table line; do
    if [ "$table" = suminfo ]; then msiinfo suminfo "$msi"; else msiinfo export "$msi" "$table"; fi |
      tr -d '\r' | grep -Eqx "$line" && pass "msiinfo $table: $line" || fail "msiinfo $table lacks $line"
  done <<LINES
suminfo|Subject: Morvane $version
suminfo|Template: x64;1033
Property|ProductVersion${tab}$version
Property|UpgradeCode${tab}\{FD3AD659-727D-4BC3-ABA9-4889C396EB15}
Property|ALLUSERS${tab}1
Property|ARPPRODUCTICON${tab}Morvane.ico
Shortcut|StartMenuShortcut${tab}ProgramMenuFolder${tab}Morvane${tab}Program${tab}\[#Morvane.exe\]${tab}.*
Environment|PATH${tab}=-\*PATH${tab}\[~\];\[INSTALLDIR\]${tab}Command
InstallExecuteSequence|RemoveEnvironmentStrings${tab}${tab}3300
InstallExecuteSequence|WriteEnvironmentStrings${tab}${tab}5200
LaunchCondition|NOT WIX_DOWNGRADE_DETECTED${tab}A newer version of Morvane is already installed.*
LINES

  # A second build of the version, and one of a higher version (its README
  # says so); their ProductCode, UpgradeCode and package code.
  next=$(echo "$version" | awk -F. -v OFS=. '{ $3 = $3 + 1; print }')
  cp -R "$folder" "$work/next"
  sed "1s/Morvane $version /Morvane $next /" "$folder/README.txt" >"$work/next/README.txt"
  "$top/packaging/windows/make-msi.sh" "$version" "$folder" "$work/again.msi"
  "$top/packaging/windows/make-msi.sh" "$next" "$work/next" "$work/next.msi"
  codes() {
    msiinfo export "$1" Property | tr -d '\r' | sed -n "s/^\(ProductCode\|UpgradeCode\)$tab//p"
    msiinfo suminfo "$1" | sed -n 's/^Revision number (UUID): //p'
  }
  product=$(codes "$msi" | head -n 1) next_product=$(codes "$work/next.msi" | head -n 1)
  expect codes <<'TABLE'
the ProductCode is a name-based UUID|echo "$product" | grep -Eqx '\{[0-9A-F]{8}-[0-9A-F]{4}-5[0-9A-F]{3}-[89AB][0-9A-F]{3}-[0-9A-F]{12}\}'
a second build of the version has the same codes|[ "$(codes "$work/again.msi")" = "$(codes "$msi")" ]
a higher version has new ones but the UpgradeCode|[ "$(codes "$work/next.msi" | grep -cxF "$(codes "$msi")")" = 1 ]
TABLE

  # Under Wine, in a prefix of its own cloned from the tests' template, one
  # Wine session (its own server, ended after) a step. Wine's menu builder
  # would copy the Start menu's shortcut into this machine's menus: it is off.
  prefix="$build/native/prefixes/package-msi"
  logs="$build/native/artifacts"
  mkdir -p "$logs"
  "$top/tests/wine/clone-prefix.sh" "$build/native/wineprefix" "$prefix" || fail "no Wine prefix $prefix"
  # session COMMAND...: replaces the (sub)shell that runs it, so that its
  # process id is the session's: call it with & or in ( ).
  session() { WINEDLLOVERRIDES=winemenubuilder.exe=d exec timeout 180 "$top/tests/wine/wine-session.sh" "$prefix" "$@"; }
  winpath() { printf 'Z:%s' "$1" | tr / '\\'; }
  installed="$prefix/drive_c/Program Files/Morvane"
  cache="$prefix/drive_c/windows/Installer"
  # look STEP: what an administrator sees, in one session (the machine's PATH,
  # Programs and Features, the products' icons, what a new cmd finds), kept
  # in the artifacts as msi-STEP.txt.
  look() {
    state="$logs/msi-$1.txt"
    (cd "$work" && session sh -c '
      wine reg query "HKLM\System\CurrentControlSet\Control\Session Manager\Environment" /v PATH
      wine reg query "HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall" /s
      wine reg query "HKLM\Software\Classes\Installer\Products" /s
      echo "cmd: $(wine cmd /c morvane-cli --version 2>&1)"' 2>&1) | tr -d '\r' >"$state"
    # Now and then Wine's cmd finds the program but fails to start it,
    # saying "Application could not be started" (seen once in many runs,
    # with nothing from Wine itself): one more new cmd, and the first
    # answer shown.
    if grep -q '^cmd: Application could not be started' "$state"; then
      printf 'info: %s: the first cmd said: %s\n' "$1" "$(sed -n 's/^cmd: //p' "$state")"
      again=$( (cd "$work" && session sh -c 'echo "cmd: $(wine cmd /c morvane-cli --version 2>&1)"') 2>&1 |
        tr -d '\r' | grep '^cmd: ' | head -n 1)
      { grep -v '^cmd: ' "$state"; printf '%s\n' "${again:-cmd: (nothing)}"; } >"$state.again" && mv "$state.again" "$state"
    fi
    printf 'info: PATH %s: %s\n' "$1" "$(path_now)"
  }
  path_now() { sed -n 's/^    PATH    REG_[A-Z_]*    //p' "$state"; }
  entries() { printf '%s\n' "$1" | tr ';' '\n' | grep -v '^$'; }
  arp() {   # arp PRODUCTCODE NAME: a value of the product's entry in Programs and Features
    key="Uninstall\\$1" awk -v name="$2" '/^HKEY_/ { here = index($0, ENVIRON["key"]) > 0; next }
      here && $1 == name { sub(/^ +[^ ]+ +REG_[A-Z_]+ */, ""); print }' "$state"
  }
  products() { grep -c '^    DisplayName    REG_SZ    Morvane$' "$state"; }
  # msiexec LOG ARGS...: msiexec ARGS /qn with a verbose log; its $status, and
  # in $work/shown the windows (but Wine's hidden 1x1 ones) shown meanwhile.
  windows() { xwininfo -root -tree 2>/dev/null | sed -n 's/^ *0x[0-9a-f]* "\(.*\)": .*  \([0-9]*x[0-9]*\)+.*/\2 \1/p' | grep -v '^1x1 '; }
  msiexec() {
    log=$1
    shift
    windows >"$work/windows.before"
    session wine msiexec "$@" /qn /l*v "$(winpath "$logs/msi-$log.log")" &
    pid=$!
    while kill -0 "$pid" 2>/dev/null; do windows; sleep 0.2; done | sort -u | grep -vxF -f "$work/windows.before" >"$work/shown"
    wait "$pid"
    status=$?
  }

  look before
  path_before=$(path_now)
  msiexec install /i "$(winpath "$msi")"
  look installed
  expect "silent install" <<'TABLE'
exits 0 with no window|[ $status = 0 ] && [ ! -s "$work/shown" ]
the PATH gets the folder at its end|[ "$(path_now)" = "$path_before;C:\\Program Files\\Morvane\\" ]
a new cmd runs morvane-cli --version from the PATH|grep -qx "cmd: morvane-cli $version" "$state"
the zip's files in Program Files\Morvane|(for f in $(ls "$folder"); do cmp -s "$folder/$f" "$installed/$f" || exit 1; done)
a Start menu shortcut|find "$prefix/drive_c" -name Morvane.lnk -path '*/Start Menu/Programs/*' | grep -q .
Programs and Features: name, maker, version|[ "$(arp "$product" DisplayName)/$(arp "$product" Publisher)/$(arp "$product" DisplayVersion)" = "Morvane/Morvane/$version" ]
Programs and Features: size in KiB|[ "$(arp "$product" Size)" -gt 1000 ]
Programs and Features: the program's icon|grep -qF "ProductIcon    REG_SZ    C:\\windows\\Installer\\$product\\Morvane.ico" "$state" && cmp -s "$cache/$product/Morvane.ico" "$top/packaging/windows/Morvane.ico"
TABLE
  # The installed program draws its dialog. What Wine says of it is kept,
  # and shown with the windows there were when it draws none.
  session wine 'C:\Program Files\Morvane\Morvane.exe' >"$logs/msi-installed-run.log" 2>&1 &
  app=$!
  if window_shows "Morvane V$version"; then
    pass "the installed Morvane.exe draws \"Morvane V$version\""
  else
    fail "no window \"Morvane V$version\" from the installed Morvane.exe"
    echo "info: the windows on the display:"
    windows | sed 's/^/info:   /'
    echo "info: what Wine said:"
    tail -n 20 "$logs/msi-installed-run.log" | sed 's/^/info:   /'
  fi
  kill "$app" 2>/dev/null
  wait "$app" 2>/dev/null
  app=""

  msiexec upgrade /i "$(winpath "$work/next.msi")"
  look upgraded
  expect "upgrade to $next" <<'TABLE'
exits 0 with no window|[ $status = 0 ] && [ ! -s "$work/shown" ]
one product installed, the new one|[ "$(products)/$(arp "$next_product" DisplayVersion)" = "1/$next" ]
the new files|cmp -s "$work/next/README.txt" "$installed/README.txt" && ! cmp -s "$folder/README.txt" "$installed/README.txt"
one PATH entry|[ "$(entries "$(path_now)" | grep -c Morvane)" = 1 ]
TABLE

  # An older version refuses to go over a newer one: silently with 1603
  # (Wine's exit status keeps its low byte, 67); with the user interface,
  # with the LaunchCondition's message, which Wine's msiexec shows in a box
  # "Install Failed". Ended by the test instead of its OK button, that
  # msiexec leaves its copy of the package in the cache: it goes.
  msiexec refused /i "$(winpath "$msi")"
  ls "$cache" >"$work/cache.before"
  session wine msiexec /i "$(winpath "$msi")" >/dev/null 2>&1 &
  app=$!
  window_shows "Install Failed"
  shown=$?
  import -window root "$logs/msi-refused.png" 2>/dev/null
  kill "$app" 2>/dev/null
  wait "$app" 2>/dev/null
  app=""
  ls "$cache" | grep -vxF -f "$work/cache.before" | while read -r f; do rm -f "$cache/$f"; done
  look refused
  expect "$version over $next" <<'TABLE'
exits non-zero with no window|[ $status != 0 ] && [ ! -s "$work/shown" ]
with a user interface, says why|[ $shown = 0 ]
leaves the newer installed|[ "$(products)/$(arp "$next_product" DisplayVersion)" = "1/$next" ]
TABLE

  msiexec uninstall /x "$next_product"
  look uninstalled
  # Wine's RemoveEnvironmentStrings takes the entry but leaves the ';' before
  # it (Windows takes both): the PATH's entries are compared.
  expect "silent uninstall" <<'TABLE'
exits 0 with no window|[ $status = 0 ] && [ ! -s "$work/shown" ]
the PATH has the entries it had before|[ "$(entries "$(path_now)")" = "$(entries "$path_before")" ]
no product in Programs and Features|[ "$(products)" = 0 ] && ! grep -q ProductIcon "$state"
a new cmd no longer finds morvane-cli|! grep -q "^cmd: morvane-cli" "$state"
no file, folder, shortcut, cached package or registry entry left|[ -z "$(find "$prefix/drive_c" -iname '*morvane*'; find "$cache" -type f; grep -il morvane "$prefix"/*.reg)" ]
TABLE
fi

# --- the .deb --------------------------------------------------------------
if [ -z "$deb" ]; then
  fail "no .deb in $build/native/packages"
else
  contents=$(dpkg-deb -c "$deb")
  for f in ./usr/bin/morvane-cli ./usr/bin/virtual-printer ./usr/share/man/man1/morvane-cli.1.gz \
           ./usr/share/man/man1/virtual-printer.1.gz ./usr/share/bash-completion/completions/morvane-cli \
           ./usr/share/doc/morvane-cli/copyright ./usr/share/ansible/plugins/modules/morvane_printer.py \
           ./usr/share/doc/morvane-cli/morvane-printers.rules.example; do
    echo "$contents" | grep -q " $f\$" && pass "deb holds $f" || fail "deb lacks $f"
  done
  if echo "$contents" | grep -q "/rules\.d/"; then
    fail "deb installs a udev rule: $(echo "$contents" | grep "/rules\.d/")"
  else
    pass "deb installs no udev rule, only the example"
  fi
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
