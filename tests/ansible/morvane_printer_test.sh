#!/bin/sh
# The Ansible module under ansible-playbook -i localhost, -c local, with the
# module from the source tree and the build's morvane-cli on PATH, against
# virtual printers on 127.0.0.1. Checks the playbook's own assertions, then
# the printers' log: what each printer received, and nothing at all in
# check mode; and that the password never shows in Ansible's output.
#   morvane_printer_test.sh VIRTUAL_PRINTER CLI_DIR MODULE_DIR
set -u
printer=$1 cli_dir=$2 module_dir=$3
here=$(cd "$(dirname "$0")" && pwd)
work=$(mktemp -d)
pids=""
cleanup() {
  for p in $pids; do kill "$p" 2>/dev/null; done
  for p in $pids; do wait "$p" 2>/dev/null; done
  [ -n "${KEEP:-}" ] || rm -rf "$work"
}
trap cleanup EXIT INT TERM
failures=0
passed=0
check() {   # check WHAT CONDITION...
  what=$1
  shift
  if "$@"; then passed=$((passed + 1)); echo "ok: $what"; else failures=$((failures + 1)); echo "FAIL: $what"; fi
}

command -v ansible-playbook >/dev/null || { echo "FAIL: ansible-playbook is missing (Debian package ansible-core)"; exit 1; }
"$printer" --tcp 127.0.0.1:0 --count 3 --log "$work/printers.log" >"$work/ports" 2>/dev/null &
pids="$pids $!"
"$printer" --tcp 127.0.0.1:0 --fault answer-ff --log "$work/refusing.log" >"$work/refusing" 2>/dev/null &
pids="$pids $!"
i=0
while { [ "$(wc -l <"$work/ports")" -lt 3 ] || [ ! -s "$work/refusing" ]; } && [ $i -lt 100 ]; do
  sleep 0.05
  i=$((i + 1))
done
p1=$(sed -n 1p "$work/ports") p2=$(sed -n 2p "$work/ports") p3=$(sed -n 3p "$work/ports")
p4=$(head -n 1 "$work/refusing")
[ -n "$p3" ] && [ -n "$p4" ] || { echo "FAIL: the virtual printers did not start"; exit 1; }

PATH="$cli_dir:$PATH" LC_ALL=C.UTF-8 ANSIBLE_HOME="$work/ansible-home" ANSIBLE_LOCAL_TEMP="$work/ansible-tmp" \
  ANSIBLE_REMOTE_TEMP="$work/ansible-remote" \
  ANSIBLE_LIBRARY="$module_dir" ANSIBLE_NOCOLOR=1 ANSIBLE_PYTHON_INTERPRETER=/usr/bin/python3 \
  timeout 300 ansible-playbook -v -i localhost, -c local "$here/playbook.yml" \
  -e "work=$work p1=$p1 p2=$p2 p3=$p3 p4=$p4" >"$work/play.out" 2>&1
status=$?
check "the playbook passes its assertions (exit $status)" [ $status -eq 0 ]
[ $status -eq 0 ] || tail -n 40 "$work/play.out"

# Stopped, so that the logs are complete.
for p in $pids; do kill "$p" 2>/dev/null; done
for p in $pids; do wait "$p" 2>/dev/null; done
pids=""
received() { grep -c "${1#tcp://} rx ${2:-}" "$work/printers.log"; }
# First run: each text read, then set; the two others set. Second run: the
# texts only read. With the journal: the name read, then the address and the
# name read for the journal. The bad value: nothing.
check "printer 1 received 13 frames, the name set once" \
  [ "$(received "$p1")" -eq 13 ] && [ "$(received "$p1" '1D 46 72 06')" -eq 1 ]
check "printer 2 received its name Shop 2" grep -q "${p2#tcp://} rx 1D 46 72 06 53 68 6F 70 20 32" "$work/printers.log"
check "in check mode the printer received nothing" [ "$(received "$p3")" -eq 0 ]
check "the refusing printer was sent darkness once" [ "$(grep -c ' rx 1D 46 7C 04' "$work/refusing.log")" -eq 1 ]
check "no password in Ansible's output" sh -c "! grep -qE '4321|8642' '$work/play.out'"
check "passwords are shown as hidden" grep -qF '"value": "VALUE_SPECIFIED_IN_NO_LOG_PARAMETER"' "$work/play.out"

echo "$passed passed, $failures failed"
[ "$failures" -eq 0 ]
