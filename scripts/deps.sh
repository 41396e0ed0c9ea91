#!/bin/sh
# Installs what building and testing need on a Debian 12 machine (as root).
# Does nothing when everything is there already.
set -e
packages="cmake make g++ clang libclang-rt-14-dev libgtest-dev
  g++-mingw-w64-x86-64 mingw-w64-tools wine wine64
  xvfb xauth imagemagick fonts-wine fonts-wqy-zenhei fontconfig locales-all procps"
missing=""
for p in $packages; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing="$missing $p"
done
[ -z "$missing" ] && exit 0
echo "Installing:$missing"
SUDO=""
[ "$(id -u)" = 0 ] || SUDO=sudo
export DEBIAN_FRONTEND=noninteractive
$SUDO apt-get update -qq
# shellcheck disable=SC2086
$SUDO apt-get install -y -qq --no-install-recommends $missing >/dev/null
