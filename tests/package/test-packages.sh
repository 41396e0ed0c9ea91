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
# window_shows TITLE: waits (60 s at most) for a window TITLE on the display.
window_shows() {
  i=0
  while [ $i -lt 120 ] && ! xwininfo -root -tree 2>/dev/null | grep -q "\"$1\""; do
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
if [ ! -f "$msi" ] || [ ! -d "$folder" ]; then
  fail "no $msi, or no zip to compare it with"
else
  tab=$(printf '\t')
  upgrade_code='{FD3AD659-727D-4BC3-ABA9-4889C396EB15}'
  # What msiinfo must show: a table (or "tables", "suminfo") and a line of it.
  while IFS='|' read -r table line; do
    case $table in
      tables) listing=$(msiinfo tables "$msi") ;;
      suminfo) listing=$(msiinfo suminfo "$msi") ;;
      *) listing=$(msiinfo export "$msi" "$table" | tr -d '\r') ;;
    esac
    printf '%s\n' "$listing" | grep -Eq "^$line\$" && pass "msiinfo: $table: $line" || fail "msiinfo: $table lacks $line"
  done <<LINES
tables|Environment
tables|Shortcut
tables|Icon
tables|Upgrade
suminfo|Subject: Morvane $version
suminfo|Author: Morvane
suminfo|Template: x64;1033
suminfo|Source: 2 \(2\)
Property|ProductName${tab}Morvane
Property|Manufacturer${tab}Morvane
Property|ProductVersion${tab}$version
Property|UpgradeCode${tab}\\$upgrade_code
Property|ALLUSERS${tab}1
Property|ARPPRODUCTICON${tab}Morvane.ico
Property|ARPSIZE${tab}[0-9]+
Directory|INSTALLDIR${tab}ProgramFiles64Folder${tab}Morvane
File|Morvane.exe${tab}Program${tab}Morvane.exe${tab}.*
File|TarnPortDll.dll${tab}PortLibrary${tab}TarnPortDll.dll${tab}.*
File|SkinPlusPlusDLL.dll${tab}SkinLibrary${tab}SkinPlusPlusDLL.dll${tab}.*
File|XPCorona.ssk${tab}SkinFile${tab}XPCorona.ssk${tab}.*
File|morvane_cli.exe${tab}Command${tab}morvane-cli.exe${tab}.*
File|README.txt${tab}Readme${tab}README.txt${tab}.*
Shortcut|StartMenuShortcut${tab}ProgramMenuFolder${tab}Morvane${tab}Program${tab}\[#Morvane.exe\]${tab}.*
Environment|PATH${tab}=-\*PATH${tab}\[~\];\[INSTALLDIR\]${tab}Command
InstallExecuteSequence|RemoveExistingProducts${tab}${tab}1401
InstallExecuteSequence|RemoveEnvironmentStrings${tab}${tab}3300
InstallExecuteSequence|WriteEnvironmentStrings${tab}${tab}5200
LaunchCondition|NOT WIX_DOWNGRADE_DETECTED${tab}A newer version of Morvane is already installed.*
LINES

  # A second build of the same version has the same codes; one of a higher
  # version (its README says so) has new ones and the same UpgradeCode.
  next=$(echo "$version" | awk -F. -v OFS=. '{ $3 = $3 + 1; print }')
  cp -R "$folder" "$work/next"
  sed "1s/Morvane $version /Morvane $next /" "$folder/README.txt" >"$work/next/README.txt"
  "$top/packaging/windows/make-msi.sh" "$version" "$folder" "$work/again.msi"
  "$top/packaging/windows/make-msi.sh" "$next" "$work/next" "$work/next.msi"
  code() { msiinfo export "$1" Property | tr -d '\r' | sed -n "s/^$2$tab//p"; }
  package_code() { msiinfo suminfo "$1" | sed -n 's/^Revision number (UUID): //p'; }
  product=$(code "$msi" ProductCode) next_product=$(code "$work/next.msi" ProductCode)
  while IFS='|' read -r what a b; do
    [ "$a" = "$b" ] && pass "$what ($a)" || fail "$what: $a and $b"
  done <<CODES
the ProductCode is a name-based UUID|$(echo "$product" | grep -Ex '\{[0-9A-F]{8}-[0-9A-F]{4}-5[0-9A-F]{3}-[89AB][0-9A-F]{3}-[0-9A-F]{12}\}')|$product
the same version, the same ProductCode|$(code "$work/again.msi" ProductCode)|$product
the same version, the same package code|$(package_code "$work/again.msi")|$(package_code "$msi")
a higher version, the same UpgradeCode|$(code "$work/next.msi" UpgradeCode)|$upgrade_code
a higher version, a new ProductCode|$(echo "$next_product" | grep -vxF "$product")|$next_product
a higher version, a new package code|$(package_code "$work/next.msi" | grep -vxF "$(package_code "$msi")")|$(package_code "$work/next.msi")
CODES

  # Wine: a prefix of its own, cloned from the test template; a Wine session
  # (its own server, ended after) for each step. Wine's menu builder would
  # copy the Start menu's shortcut into this machine's own menus: it is off.
  prefix="$build/native/prefixes/package-msi"
  logs="$build/native/artifacts"
  mkdir -p "$logs"
  "$top/tests/wine/clone-prefix.sh" "$build/native/wineprefix" "$prefix" || fail "no Wine prefix $prefix"
  session() { WINEDLLOVERRIDES=winemenubuilder.exe=d timeout 180 "$top/tests/wine/wine-session.sh" "$prefix" "$@"; }
  winpath() { printf 'Z:%s' "$1" | tr / '\\'; }
  installed="$prefix/drive_c/Program Files/Morvane"
  # What an administrator looks at, in one session: the machine's PATH,
  # Programs and Features, the products' icons, and what a new cmd finds.
  look() {
    (cd "$work" && session sh -c '
      wine reg query "HKLM\System\CurrentControlSet\Control\Session Manager\Environment" /v PATH
      wine reg query "HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall" /s
      wine reg query "HKLM\Software\Classes\Installer\Products" /s
      echo "cmd: $(wine cmd /c morvane-cli --version 2>&1)"' 2>&1) | tr -d '\r' >"$work/state"
  }
  path_now() { sed -n 's/^    PATH    REG_[A-Z_]*    //p' "$work/state"; }
  entries() { printf '%s\n' "$1" | tr ';' '\n' | grep -v '^$'; }
  arp() {   # arp PRODUCTCODE NAME: a value of the product's entry in Programs and Features
    key="Uninstall\\$1" awk -v name="$2" '
      /^HKEY_/ { here = substr($0, length($0) - length(ENVIRON["key"]) + 1) == ENVIRON["key"]; next }
      here && $1 == name { sub(/^ +[^ ]+ +REG_[A-Z_]+ */, ""); print }' "$work/state"
  }
  products() { grep -c '^    DisplayName    REG_SZ    Morvane$' "$work/state"; }
  # msiexec LOG ARGS...: runs msiexec silently with a verbose log; fails when
  # a window (bigger than Wine's hidden 1x1 ones) shows while it runs.
  windows() { xwininfo -root -tree 2>/dev/null | sed -n 's/^ *0x[0-9a-f]* "\([^"]*\)": .*  \([0-9]*x[0-9]*\)+.*/\2 \1/p' | grep -v '^1x1 '; }
  msiexec() {
    log=$1
    shift
    windows >"$work/windows.before"
    : >"$work/windows.during"
    session wine msiexec "$@" /qn /l*v "$(winpath "$logs/$log")" &
    pid=$!
    while kill -0 "$pid" 2>/dev/null; do windows >>"$work/windows.during"; sleep 0.2; done
    wait "$pid"
    status=$?
    shown=$(sort -u "$work/windows.during" | grep -vxF -f "$work/windows.before")
    [ -z "$shown" ] && pass "msiexec $1 /qn ($log): no window" || fail "msiexec $1 /qn ($log) showed: $shown"
    return $status
  }

  look
  path_before=$(path_now)
  grep -q "^cmd: morvane-cli" "$work/state" && fail "morvane-cli is found before the install"
  printf 'info: PATH before: %s\n' "$path_before"

  msiexec install.log /i "$(winpath "$msi")" && pass "msiexec /i /qn exits 0" || fail "msiexec /i /qn exits $?"
  look
  printf 'info: PATH during: %s\n' "$(path_now)"
  [ "$(path_now)" = "$path_before;C:\\Program Files\\Morvane\\" ] && pass "the folder is appended to the system PATH" ||
    fail "PATH after the install: $(path_now)"
  grep -qx "cmd: morvane-cli $version" "$work/state" && pass "a new cmd runs morvane-cli --version from the PATH" ||
    fail "a new cmd: $(grep '^cmd:' "$work/state")"
  for f in Morvane.exe TarnPortDll.dll SkinPlusPlusDLL.dll XPCorona.ssk morvane-cli.exe README.txt LICENSE; do
    cmp -s "$folder/$f" "$installed/$f" && pass "installed: $f, as in the zip" || fail "not installed as in the zip: $f"
  done
  shortcut=$(find "$prefix/drive_c" -name Morvane.lnk -path '*/Start Menu/Programs/*')
  [ -n "$shortcut" ] && pass "a Start menu shortcut" || fail "no Morvane.lnk in a Start menu"
  while IFS='|' read -r name want; do
    [ "$(arp "$product" "$name")" = "$want" ] && pass "Programs and Features: $name = $want" ||
      fail "Programs and Features: $name = $(arp "$product" "$name"), not $want"
  done <<ARP
DisplayName|Morvane
Publisher|Morvane
DisplayVersion|$version
Size|$(code "$msi" ARPSIZE)
InstallLocation|C:\\Program Files\\Morvane\\
ARP
  grep -qF "ProductIcon    REG_SZ    C:\\windows\\Installer\\$product\\Morvane.ico" "$work/state" &&
    cmp -s "$prefix/drive_c/windows/Installer/$product/Morvane.ico" "$top/packaging/windows/Morvane.ico" &&
    pass "Programs and Features shows the program's icon" || fail "no product icon: $(grep ProductIcon "$work/state")"

  # The installed program draws its dialog.
  WINEDLLOVERRIDES=winemenubuilder.exe=d timeout 90 "$top/tests/wine/wine-session.sh" "$prefix" \
    wine 'C:\Program Files\Morvane\Morvane.exe' >/dev/null 2>&1 &
  app=$!
  window_shows "Morvane V$version" && pass "the installed Morvane.exe draws \"Morvane V$version\"" ||
    fail "no window \"Morvane V$version\" from the installed Morvane.exe"
  kill "$app" 2>/dev/null
  wait "$app" 2>/dev/null
  app=""

  # A major upgrade: one product, the new files, one PATH entry.
  msiexec upgrade.log /i "$(winpath "$work/next.msi")" && pass "msiexec /i of $next over $version exits 0" ||
    fail "msiexec /i of $next over $version exits $?"
  look
  [ "$(products)" = 1 ] && [ "$(arp "$next_product" DisplayVersion)" = "$next" ] &&
    pass "one product installed after the upgrade: $next" || fail "after the upgrade: $(grep DisplayVersion "$work/state")"
  cmp -s "$work/next/README.txt" "$installed/README.txt" && ! cmp -s "$folder/README.txt" "$installed/README.txt" &&
    pass "the upgrade installed the new files" || fail "the upgrade left the old README.txt"
  [ "$(entries "$(path_now)" | grep -c 'Morvane')" = 1 ] && pass "one PATH entry after the upgrade" ||
    fail "PATH after the upgrade: $(path_now)"

  # An older version refuses to go over a newer one: silently with exit
  # 1603 (Wine's exit status keeps its low byte, 67); with the user
  # interface, with the LaunchCondition's message (Wine's msiexec shows it in
  # a box "Install Failed", and logs it only then).
  msiexec downgrade.log /i "$(winpath "$msi")"
  status=$?
  [ $status -ne 0 ] && pass "$version over $next exits non-zero ($status)" || fail "$version installed over $next"
  cache="$prefix/drive_c/windows/Installer"
  ls "$cache" >"$work/cache.before"
  WINEDLLOVERRIDES=winemenubuilder.exe=d timeout 90 "$top/tests/wine/wine-session.sh" "$prefix" \
    wine msiexec /i "$(winpath "$msi")" >/dev/null 2>&1 &
  app=$!
  window_shows "Install Failed" && pass "$version over $next with a user interface: a message" ||
    fail "$version over $next with a user interface: no message"
  import -window root "$logs/msi-older-over-newer.png" 2>/dev/null
  kill "$app" 2>/dev/null
  wait "$app" 2>/dev/null
  app=""
  # Ended here rather than by its OK button, that msiexec leaves its copy of
  # the package in the installer's cache: it goes, so that the uninstall
  # below is judged on its own.
  ls "$cache" | grep -vxF -f "$work/cache.before" | while read -r f; do rm -f "$cache/$f"; done
  look
  [ "$(products)" = 1 ] && [ "$(arp "$next_product" DisplayVersion)" = "$next" ] && pass "$next stays installed" ||
    fail "after the refusal: $(grep DisplayVersion "$work/state")"

  # Uninstall leaves nothing behind.
  msiexec uninstall.log /x "$next_product" && pass "msiexec /x /qn exits 0" || fail "msiexec /x /qn exits $?"
  look
  printf 'info: PATH after: %s\n' "$(path_now)"
  # Wine's RemoveEnvironmentStrings takes the entry away but leaves the ';'
  # before it (Windows takes both), so the PATH's entries are compared.
  [ "$(entries "$(path_now)")" = "$(entries "$path_before")" ] && pass "the PATH has its entries of before" ||
    fail "PATH after the uninstall: $(path_now)"
  [ "$(products)" = 0 ] && ! grep -q "ProductIcon" "$work/state" && pass "no product in Programs and Features" ||
    fail "a product is left in Programs and Features"
  grep -q "^cmd: morvane-cli" "$work/state" && fail "morvane-cli is still found on the PATH" ||
    pass "morvane-cli is gone from the PATH"
  left=$(find "$prefix/drive_c" -iname '*morvane*'; find "$cache" -type f; grep -il morvane "$prefix"/*.reg)
  [ -z "$left" ] && pass "no file, folder, shortcut, cached package or registry entry left" ||
    fail "left behind: $left"
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
