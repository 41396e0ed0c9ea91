#!/bin/sh
# Builds the Windows program (MinGW-w64) into build/win and the native part
# (unit tests, virtual printer, Wine and end-to-end test drivers) into
# build/native. Extra arguments are build targets for both, e.g. "all".
set -e
top=$(cd "$(dirname "$0")/.." && pwd)
build="${MORVANE_BUILD_DIR:-$top/build}"
jobs="${JOBS:-$(nproc)}"
cmake -S "$top" -B "$build/win" -DCMAKE_TOOLCHAIN_FILE="$top/cmake/mingw-w64-x86_64.cmake" \
      -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build "$build/win" -j "$jobs"
cmake -S "$top" -B "$build/native" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
      -DMORVANE_WIN_BUILD_DIR="$build/win" >/dev/null
cmake --build "$build/native" -j "$jobs"
echo "The program: $build/win/Morvane (Morvane.exe, TarnPortDll.dll, SkinPlusPlusDLL.dll, XPCorona.ssk)"
