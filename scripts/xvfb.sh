# Sourced: makes sure a display exists, starting a private Xvfb when there is
# none, and stops it when the sourcing script exits.
if [ -z "${DISPLAY:-}" ]; then
  for n in $(seq 90 130); do
    if [ -e "/tmp/.X$n-lock" ] || [ -e "/tmp/.X11-unix/X$n" ]; then continue; fi
    Xvfb ":$n" -screen 0 1280x1024x24 -nolisten tcp </dev/null >/dev/null 2>&1 &
    vc_xvfb_pid=$!
    for _ in $(seq 50); do [ -e "/tmp/.X11-unix/X$n" ] && break; sleep 0.1; done
    export DISPLAY=":$n"
    trap 'kill $vc_xvfb_pid 2>/dev/null' EXIT
    break
  done
fi
