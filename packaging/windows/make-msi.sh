#!/bin/sh
# Builds the Windows installer from a folder holding the files it installs:
#   make-msi.sh VERSION FOLDER OUTPUT.msi
# FOLDER holds Morvane.exe, TarnPortDll.dll, SkinPlusPlusDLL.dll,
# XPCorona.ssk, morvane-cli.exe, README.txt and LICENSE (the zip's folder).
# wixl (Debian's package wixl, built from msitools' source) builds it from
# Morvane.wxs; msibuild (msitools) then adds what wixl cannot express: the
# PATH entry (the Environment table and the two actions that write and
# remove it) and the package code.
set -eu
[ $# -eq 3 ] || { echo "usage: $0 VERSION FOLDER OUTPUT.msi" >&2; exit 2; }
version=$1 folder=$2 output=$3
here=$(cd "$(dirname "$0")" && pwd)
for tool in wixl:wixl msibuild:msitools msiinfo:msitools sha1sum:coreutils; do
  command -v "${tool%%:*}" >/dev/null 2>&1 ||
    { echo "make-msi: ${tool%%:*} is missing: install the Debian package ${tool#*:}" >&2; exit 1; }
done
# Windows Installer versions are at most major.minor.build[.revision], each
# field a number; major < 256, minor < 256, build < 65536.
echo "$version" | grep -Eq '^[0-9]{1,3}\.[0-9]{1,3}\.[0-9]{1,5}(\.[0-9]{1,5})?$' ||
  { echo "make-msi: $version is no Windows Installer version" >&2; exit 1; }

# name_uuid NAME: the name-based UUID (SHA-1, version 5, RFC 4122) of NAME in
# Morvane's own namespace. The ProductCode and the package code are drawn
# from the version this way, so that rebuilding a version gives the same
# codes (Intune's and SCCM's detection rules and Ansible's product_id stay
# true) while every new version gets new ones, as a major upgrade needs.
# Windows Installer takes two packages with one package code for the same
# package: a released version that changes gets a new version number.
namespace=B3106CC54AD44B839E41BB8E44009234
name_uuid() {
  octal="" rest=$namespace
  while [ -n "$rest" ]; do
    octal="$octal\\$(printf '%03o' "0x${rest%"${rest#??}"}")"
    rest=${rest#??}
  done
  # shellcheck disable=SC2059
  hash=$({ printf "$octal"; printf '%s' "$1"; } | sha1sum | cut -c1-32 | tr a-f A-F)
  variant=$(printf '%X' $(((0x$(echo "$hash" | cut -c17) & 3) | 8)))
  echo "$hash" | sed "s/^\(.\{8\}\)\(.\{4\}\).\(.\{3\}\).\(.\{3\}\)\(.*\)$/\1-\2-5\3-$variant\4-\5/"
}
product_code=$(name_uuid "Morvane product $version")
package_code=$(name_uuid "Morvane package $version")

folder=$(cd "$folder" && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
# wixl finds the files from the folder it runs in.
ln -s "$folder" "$work/files"
cp "$here/Morvane.ico" "$work/"
files="Morvane.exe TarnPortDll.dll SkinPlusPlusDLL.dll XPCorona.ssk morvane-cli.exe README.txt LICENSE"
# shellcheck disable=SC2086
bytes=$(cd "$folder" && cat $files | wc -c)
(cd "$work" && wixl -a x64 -D Version="$version" -D ProductCode="$product_code" \
  -D SizeKB=$(((bytes + 1023) / 1024)) -o package.msi "$here/Morvane.wxs")

# The system PATH gets the installed folder at its end while the component
# "Command" (morvane-cli.exe) is installed: '=' sets it on install, '-'
# takes it away on removal, '*' makes it the machine's; "[~];" keeps what
# PATH held and appends to it, and removal takes away exactly that entry.
tab=$(printf '\t')
cat >"$work/Environment.idt" <<EOF
Environment${tab}Name${tab}Value${tab}Component_
s72${tab}l255${tab}L255${tab}s72
Environment${tab}Environment
PATH${tab}=-*PATH${tab}[~];[INSTALLDIR]${tab}Command
EOF
# An import replaces a whole table: the sequence goes out, gets the two
# actions at their standard places (RemoveEnvironmentStrings after
# RemoveShortcuts, WriteEnvironmentStrings before RegisterUser) and comes
# back whole.
(cd "$work" && msiinfo export package.msi InstallExecuteSequence >InstallExecuteSequence.idt)
printf 'RemoveEnvironmentStrings\t\t3300\r\nWriteEnvironmentStrings\t\t5200\r\n' >>"$work/InstallExecuteSequence.idt"
(cd "$work" && msibuild package.msi -i Environment.idt -i InstallExecuteSequence.idt)
msibuild "$work/package.msi" -s "Morvane $version" Morvane "x64;1033" "{$package_code}"

msiinfo export "$work/package.msi" Environment | grep -q "=-\*PATH" &&
  msiinfo export "$work/package.msi" InstallExecuteSequence | grep -q "^WriteEnvironmentStrings" ||
  { echo "make-msi: the PATH entry did not make it into the package" >&2; exit 1; }
mv -f "$work/package.msi" "$output"
