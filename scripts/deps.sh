#!/bin/sh
# Installs what building and testing need on a Debian machine (as root).
# Does nothing when everything is there already.
set -e
packages="cmake make g++ clang libgtest-dev
  g++-mingw-w64-x86-64 mingw-w64-tools wine wine64
  xvfb xauth imagemagick fonts-wine fonts-wqy-zenhei fontconfig locales-all procps
  pkg-config libserialport-dev libudev-dev libcli11-dev nlohmann-json3-dev
  dpkg-dev man-db x11-utils unzip clang-format ansible-core time msitools wixl
  libc-ares-dev libboost-dev chromium chromium-driver python3-selenium"
SUDO=""
[ "$(id -u)" = 0 ] || SUDO=sudo
export DEBIAN_FRONTEND=noninteractive
updated=0
install_missing() {
  missing=""
  for p in "$@"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing="$missing $p"
  done
  [ -z "$missing" ] && return 0
  echo "Installing:$missing"
  [ $updated = 1 ] || $SUDO apt-get update -qq
  updated=1
  # shellcheck disable=SC2086
  $SUDO apt-get install -y -qq --no-install-recommends $missing >/dev/null
}
# shellcheck disable=SC2086
install_missing $packages
# libFuzzer comes with the runtime of the clang that is installed: its
# major version names the package.
clang_major=$(clang --version | sed -n 's/.*clang version \([0-9]*\).*/\1/p' | head -n 1)
[ -n "$clang_major" ] || { echo "cannot tell the version of clang" >&2; exit 1; }
install_missing "libclang-rt-$clang_major-dev"
