#!/bin/sh
# Builds the Windows program (MinGW-w64, win32 threads) into build/win, its
# test programs (posix threads, bound to the program's libraries) into
# build/win-tests, and the native part (unit tests, virtual printer, Wine and
# end-to-end test drivers) into build/native.
set -e
top=$(cd "$(dirname "$0")/.." && pwd)
build="${MORVANE_BUILD_DIR:-$top/build}"
jobs="${JOBS:-$(nproc)}"
mkdir -p "$build"

# The native tree needs nothing of the Windows trees until its tests run, so
# it builds beside them: each tree's steps of one process (configuring,
# linking) leave cores idle that the other takes. Its output follows theirs.
# Line tables (-g1) are all a backtrace needs, and build a third faster than
# full debug information.
native_log="$build/native-build.log"
setsid sh -c '
  cmake -S "$1" -B "$2/native" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
        -DCMAKE_CXX_FLAGS_RELWITHDEBINFO="-O2 -g1 -DNDEBUG" -DCMAKE_C_FLAGS_RELWITHDEBINFO="-O2 -g1 -DNDEBUG" \
        -DMORVANE_WIN_BUILD_DIR="$2/win" -DMORVANE_WIN_TEST_BUILD_DIR="$2/win-tests" >/dev/null &&
  cmake --build "$2/native" -j "$3"' sh "$top" "$build" "$jobs" >"$native_log" 2>&1 &
native=$!
# A session of its own, so that the exit trap ends the whole build.
trap 'kill -- -$native 2>/dev/null || true' EXIT
trap 'exit 130' INT
trap 'exit 143' TERM

cmake -S "$top" -B "$build/win" -DCMAKE_TOOLCHAIN_FILE="$top/cmake/mingw-w64-x86_64.cmake" \
      -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build "$build/win" -j "$jobs"
cmake -S "$top" -B "$build/win-tests" -DCMAKE_TOOLCHAIN_FILE="$top/cmake/mingw-w64-x86_64.cmake" \
      -DMORVANE_MINGW_THREADS=posix -DMORVANE_WIN_BUILD_DIR="$build/win" -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build "$build/win-tests" -j "$jobs"

native_status=0
wait "$native" || native_status=$?
trap - EXIT INT TERM
if [ "$native_status" -ne 0 ]; then
  cat "$native_log" >&2
  echo "build.sh: the native build failed ($native_log)" >&2
  exit 1
fi
cat "$native_log"
echo "The program: $build/win/Morvane (Morvane.exe, TarnPortDll.dll, SkinPlusPlusDLL.dll, XPCorona.ssk)"
