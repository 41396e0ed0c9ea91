#!/bin/sh
# Makes the release packages from the project's one version:
#   build/win/packages/Morvane-<version>-win64.zip   the Windows folder
#   build/win/packages/Morvane-<version>-x64.msi     the same files as an installer
#   build/native/packages/morvane-cli_<version>_<arch>.deb
# Builds the tree first when it has not been built.
set -e
top=$(cd "$(dirname "$0")/.." && pwd)
build="${MORVANE_BUILD_DIR:-$top/build}"

need() {   # need COMMAND PACKAGE
  command -v "$1" >/dev/null 2>&1 && return 0
  echo "package.sh: $1 is missing: install the Debian package $2 (apt-get install $2)" >&2
  exit 1
}
need cmake cmake
need cpack cmake
need dpkg-shlibdeps dpkg-dev
need gzip gzip
need unzip unzip
need dpkg-deb dpkg
need wixl wixl
need msibuild msitools
need msiinfo msitools
version=$(sed -n 's/^project(Morvane VERSION \([0-9.]*\).*/\1/p' "$top/CMakeLists.txt")

"$top/scripts/build.sh" >/dev/null

for tree in win native; do
  rm -rf "$build/$tree/packages"
  # CPack stops, naming the file, when something to be packed is missing.
  (cd "$build/$tree" && cpack -B "$build/$tree/packages" >"$build/$tree/cpack.log" 2>&1) || {
    echo "package.sh: packing $tree failed:" >&2
    grep -iE "error|not exist|cannot find" "$build/$tree/cpack.log" >&2 || tail -n 20 "$build/$tree/cpack.log" >&2
    exit 1
  }
  rm -rf "$build/$tree/packages/_CPack_Packages"
done

# A package without one of its files is not handed out.
check() {   # check PACKAGE LISTING FILE...
  package=$1 listing=$2
  shift 2
  for f in "$@"; do
    if ! echo "$listing" | grep -q "$f\$"; then
      rm -f "$package"
      echo "package.sh: $(basename "$package") would lack $f: not made" >&2
      exit 1
    fi
  done
}
zip=$(ls "$build"/win/packages/*.zip)
check "$zip" "$(unzip -Z1 "$zip")" Morvane.exe TarnPortDll.dll SkinPlusPlusDLL.dll XPCorona.ssk \
  morvane-cli.exe README.txt
# The installer holds exactly the zip's files.
unpacked=$(mktemp -d)
trap 'rm -rf "$unpacked"' EXIT
unzip -q "$zip" -d "$unpacked"
msi="$build/win/packages/Morvane-$version-x64.msi"
"$top/packaging/windows/make-msi.sh" "$version" "$unpacked/Morvane-$version-win64" "$msi"
check "$msi" "$(msiinfo export "$msi" File | cut -f3)" Morvane.exe TarnPortDll.dll SkinPlusPlusDLL.dll \
  XPCorona.ssk morvane-cli.exe README.txt
deb=$(ls "$build"/native/packages/*.deb)
check "$deb" "$(dpkg-deb -c "$deb")" /usr/bin/morvane-cli /usr/bin/virtual-printer \
  /usr/share/man/man1/morvane-cli.1.gz /usr/share/man/man1/virtual-printer.1.gz \
  /usr/share/bash-completion/completions/morvane-cli /usr/share/doc/morvane-cli/copyright \
  /usr/share/ansible/plugins/modules/morvane_printer.py /usr/share/doc/morvane-cli/morvane-printers.rules.example
ls -l "$zip" "$msi" "$deb"
# What Intune's and SCCM's detection rules and Ansible's product_id name.
echo "$(basename "$msi"): ProductCode $(msiinfo export "$msi" Property | tr -d '\r' | sed -n 's/^ProductCode\t//p')"
