#!/bin/sh
# Formats the C++ sources with clang-format (.clang-format), or with
# --check says which files are not formatted and fails. New files count
# before they are added.
set -e
top=$(cd "$(dirname "$0")/.." && pwd)
cd "$top"
command -v clang-format >/dev/null || { echo "format.sh: install the Debian package clang-format" >&2; exit 1; }
files() {
  for f in $(git ls-files --cached --others --exclude-standard '*.cpp' '*.h'); do
    [ -f "$f" ] && echo "$f"  # else deleted, not yet staged
  done
}
if [ "${1:-}" = "--check" ]; then
  # Many files to a process and one process a core: a process each took
  # half a minute.
  out=$(files | xargs -r -P "$(nproc)" -n 40 clang-format --dry-run -Werror 2>&1) && status=0 || status=$?
  bad=$(printf '%s\n' "$out" | sed -n 's/^\([^:]*\):[0-9]*:[0-9]*: error: code should be clang-formatted.*/\1/p' | sort -u)
  if [ "$status" -eq 0 ]; then echo "format: every file is formatted"; exit 0; fi
  if [ -n "$bad" ]; then
    echo "format: not formatted (scripts/format.sh mends them):" $bad >&2
  else  # clang-format failed for another reason: show its own words
    printf '%s\n' "$out" >&2
  fi
  exit 1
fi
files | xargs -r -P "$(nproc)" -n 40 clang-format -i
exit 0
