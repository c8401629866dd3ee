# Sourced by the Windows scripts: start_xvfb starts Xvfb on the first free
# display number and sets DISPLAY and XVFB_PID; the caller stops it.
start_xvfb() {
  local n
  for n in $(seq 90 140); do
    # A display is taken when its lock file or socket exists.
    [ -e "/tmp/.X$n-lock" ] || [ -e "/tmp/.X11-unix/X$n" ] && continue
    Xvfb ":$n" -screen 0 1024x768x24 -nolisten tcp >/dev/null 2>&1 &
    XVFB_PID=$!
    local i
    for i in $(seq 1 50); do
      if [ -e "/tmp/.X11-unix/X$n" ]; then
        export DISPLAY=":$n"
        return 0
      fi
      kill -0 "$XVFB_PID" 2>/dev/null || break
      sleep 0.1
    done
    kill "$XVFB_PID" 2>/dev/null || true
    wait "$XVFB_PID" 2>/dev/null || true
  done
  echo "xvfb: no free display" >&2
  return 1
}
