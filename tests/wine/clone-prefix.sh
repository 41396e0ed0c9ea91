#!/bin/sh
# Makes PREFIX afresh as a Wine prefix of its own, from TEMPLATE (prepared
# once by ensure-prefix.sh), so that test programs run side by side, each
# with its own server, registry and COM links, without booting Wine again:
#   clone-prefix.sh TEMPLATE PREFIX
# Wine's modules, fonts and tables, which Wine only reads, are hard links to
# the template's (a clone costs about 2 MB and a fraction of a second);
# everything else (the registry, the ini files, the links) is a copy, since
# Wine may rewrite it in place.
set -eu
[ $# -eq 2 ] || { echo "usage: $0 TEMPLATE PREFIX" >&2; exit 2; }
template=$1 prefix=$2
"$(dirname "$0")/ensure-prefix.sh" "$template"

new="$prefix.new.$$"
trap 'rm -rf "$new"' EXIT
rm -rf "$prefix".new.*  # left by a clone that was killed
mkdir -p "$(dirname "$prefix")"
cp -a -l "$template" "$new"
find "$new" -type f ! \( -name '*.dll' -o -name '*.exe' -o -name '*.drv' -o -name '*.sys' -o -name '*.ocx' \
  -o -name '*.cpl' -o -name '*.acm' -o -name '*.ax' -o -name '*.ds' -o -name '*.com' -o -name '*.tlb' \
  -o -name '*.nls' -o -name '*.fon' -o -name '*.ttf' -o -name '*.msstyles' \) \
  -exec sh -c 'for f; do cp -p "$f" "$f.copy" && mv -f "$f.copy" "$f"; done' sh {} +

# COM1 is plugged into the prefix's own cable socket (see ensure-prefix.sh).
old_value="\"COM1\"=\"$template/cables/com1\""
new_value="\"COM1\"=\"$prefix/cables/com1\""
grep -qxF "$old_value" "$new/system.reg" || { echo "clone-prefix: $template/system.reg names no COM1 cable" >&2; exit 1; }
awk -v old="$old_value" -v new="$new_value" '$0 == old { $0 = new } { print }' "$new/system.reg" >"$new/system.reg.copy"
mv -f "$new/system.reg.copy" "$new/system.reg"
ln -sfn "$prefix/cables/com1" "$new/dosdevices/com1"

rm -rf "$prefix"
mv "$new" "$prefix"
trap - EXIT
