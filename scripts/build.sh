#!/bin/sh
# Builds the Windows program (MinGW-w64, win32 threads) into build/win, its
# test programs (posix threads, bound to the program's libraries) into
# build/win-tests, and the native part (unit tests, virtual printer, Wine and
# end-to-end test drivers) into build/native.
set -e
top=$(cd "$(dirname "$0")/.." && pwd)
build="${MORVANE_BUILD_DIR:-$top/build}"
jobs="${JOBS:-$(nproc)}"
cmake -S "$top" -B "$build/win" -DCMAKE_TOOLCHAIN_FILE="$top/cmake/mingw-w64-x86_64.cmake" \
      -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build "$build/win" -j "$jobs"
cmake -S "$top" -B "$build/win-tests" -DCMAKE_TOOLCHAIN_FILE="$top/cmake/mingw-w64-x86_64.cmake" \
      -DMORVANE_MINGW_THREADS=posix -DMORVANE_WIN_BUILD_DIR="$build/win" -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build "$build/win-tests" -j "$jobs"
cmake -S "$top" -B "$build/native" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
      -DMORVANE_WIN_BUILD_DIR="$build/win" -DMORVANE_WIN_TEST_BUILD_DIR="$build/win-tests" >/dev/null
cmake --build "$build/native" -j "$jobs"
echo "The program: $build/win/Morvane (Morvane.exe, TarnPortDll.dll, SkinPlusPlusDLL.dll, XPCorona.ssk)"
