#!/bin/sh
# Makes the README's pictures again: the dialog in English and in Chinese,
# drawn by the real Morvane.exe under Wine (the end-to-end tests take them),
# copied to docs/.
set -e
top=$(cd "$(dirname "$0")/.." && pwd)
build="${MORVANE_BUILD_DIR:-$top/build}"
"$top/scripts/deps.sh"
"$top/scripts/build.sh" >/dev/null
. "$top/scripts/xvfb.sh"
start_display
trap stop_display EXIT INT TERM
cd "$build/native"
./tests/e2e/e2e_dialog_tests --gtest_filter='Dialog.StartsWithEveryListFilledAndEveryStartingValue' >/dev/null
./tests/e2e/e2e_locale_tests --gtest_filter='Locale.ChineseLocaleShowsTheChineseDialogAndMessages' >/dev/null
mkdir -p "$top/docs"
for name in dialog-english dialog-chinese; do
  # The screen around the dialog is black: cut it away.
  convert "artifacts/$name.png" -trim +repage "$top/docs/$name.png"
  echo "docs/$name.png"
done
