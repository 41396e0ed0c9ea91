#!/bin/sh
# Formats the C++ sources with clang-format (.clang-format), or with
# --check says which files are not formatted and fails. New files count
# before they are added.
set -e
top=$(cd "$(dirname "$0")/.." && pwd)
cd "$top"
command -v clang-format >/dev/null || { echo "format.sh: install the Debian package clang-format" >&2; exit 1; }
if [ "${1:-}" = "--check" ]; then
  bad=""
  for f in $(git ls-files --cached --others --exclude-standard '*.cpp' '*.h'); do
    [ -f "$f" ] || continue  # deleted, not yet staged
    clang-format --dry-run -Werror "$f" >/dev/null 2>&1 || bad="$bad $f"
  done
  [ -z "$bad" ] && { echo "format: every file is formatted"; exit 0; }
  echo "format: not formatted (scripts/format.sh mends them):$bad" >&2
  exit 1
fi
for f in $(git ls-files --cached --others --exclude-standard '*.cpp' '*.h'); do
  [ -f "$f" ] && clang-format -i "$f"
done
exit 0
