# Sourced by the scripts: start_display makes sure DISPLAY points at an X
# server, starting a private Xvfb when there is none; stop_display stops the
# Xvfb it started, by process id. Xvfb picks a free display number itself
# and reports it (-displayfd), so two runs never share one; it gets a
# parent-death signal, so it goes with the shell that started it.
XVFB_PID=""
start_display() {
  [ -n "${DISPLAY:-}" ] && return 0
  number_file=$(mktemp) || return 1
  setpriv --pdeathsig TERM Xvfb -displayfd 1 -screen 0 1024x768x24 -nolisten tcp >"$number_file" 2>/dev/null &
  XVFB_PID=$!
  i=0
  while [ ! -s "$number_file" ] && kill -0 "$XVFB_PID" 2>/dev/null && [ $i -lt 100 ]; do sleep 0.1; i=$((i + 1)); done
  number=$(cat "$number_file")
  rm -f "$number_file"
  [ -n "$number" ] || { echo "Xvfb did not start" >&2; stop_display; return 1; }
  DISPLAY=":$number"
  export DISPLAY
}
stop_display() {
  if [ -n "$XVFB_PID" ]; then
    kill "$XVFB_PID" 2>/dev/null
    wait "$XVFB_PID" 2>/dev/null
  fi
  XVFB_PID=""
  return 0
}
