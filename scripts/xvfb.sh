# Sourced by the scripts: start_display makes sure DISPLAY points at an X
# server, starting Xvfb on a free display number when there is none;
# stop_display stops the Xvfb it started, by process id.
XVFB_PID=""
start_display() {
  [ -n "${DISPLAY:-}" ] && return 0
  n=90
  while [ -e "/tmp/.X11-unix/X$n" ] || [ -e "/tmp/.X$n-lock" ]; do n=$((n + 1)); done
  Xvfb ":$n" -screen 0 1024x768x24 -nolisten tcp >/dev/null 2>&1 &
  XVFB_PID=$!
  i=0
  while [ ! -e "/tmp/.X11-unix/X$n" ] && [ $i -lt 100 ]; do sleep 0.1; i=$((i + 1)); done
  [ -e "/tmp/.X11-unix/X$n" ] || { echo "Xvfb did not start" >&2; return 1; }
  DISPLAY=":$n"
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
