#!/bin/sh
# Where Morvane.exe's two bound libraries load from, as the README says:
# with them missing from the program's folder, the loader's usual search
# still finds them in the current folder; with them nowhere, the program
# does not start. Morvane.exe alone in a folder, started under Wine:
#   dll-search.sh WINE_RUN TEMPLATE PREFIX WORK_DIR PROGRAM_FOLDER
set -u
[ $# -eq 5 ] || { echo "usage: $0 WINE_RUN TEMPLATE PREFIX WORK_DIR PROGRAM_FOLDER" >&2; exit 2; }
wine_run=$1 template=$2 prefix=$3 work=$4 program=$5
here=$(cd "$(dirname "$0")" && pwd)

"$here/clone-prefix.sh" "$template" "$prefix" || exit 1
rm -rf "$work"
mkdir -p "$work/app" "$work/libraries" "$work/empty" || exit 1
cp "$program/Morvane.exe" "$work/app/" || exit 1
cp "$program/TarnPortDll.dll" "$program/SkinPlusPlusDLL.dll" "$work/libraries/" || exit 1

# started FOLDER: 0 when Morvane.exe, run from FOLDER, is still running
# after 8 s (its libraries were found), 1 when it ended before.
started() {
  (
    cd "$1" || exit 1
    WINEDEBUG=err+module "$here/wine-session.sh" --own-display "$prefix" sh -c '
      "$1" "$2" >"$3" 2>&1 &
      pid=$!
      i=0
      while kill -0 "$pid" 2>/dev/null && [ $i -lt 80 ]; do sleep 0.1; i=$((i + 1)); done
      if kill -0 "$pid" 2>/dev/null; then
        kill "$pid" 2>/dev/null
        exit 0
      fi
      exit 1' sh "$wine_run" "$work/app/Morvane.exe" "$work/$(basename "$1").log"
  )
}

failed=0
if started "$work/libraries"; then
  echo "ok: the libraries in the current folder only: the program starts"
else
  echo "FAILED: the libraries in the current folder only: the program did not start"
  cat "$work/libraries.log"
  failed=1
fi
if started "$work/empty"; then
  echo "FAILED: no library anywhere: the program started"
  failed=1
elif grep -q "TarnPortDll.dll\|SkinPlusPlusDLL.dll" "$work/empty.log"; then
  echo "ok: no library anywhere: the loader refuses the program, naming the library"
else
  echo "FAILED: no library anywhere: the loader named no library"
  cat "$work/empty.log"
  failed=1
fi
exit $failed
