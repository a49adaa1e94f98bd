#!/usr/bin/env bash
# The real program on a virtual X display: the window appears, a click on Close ends the program
# with status 0, and the settings file has been written.
set -euo pipefail
program=$1
if [ -z "${VELORIN_SMOKE_DISPLAY:-}" ]; then
  export VELORIN_SMOKE_DISPLAY=1
  exec xvfb-run -a -s "-screen 0 1024x768x24" "$0" "$@"
fi
home=$(mktemp -d)
trap 'rm -rf "$home"' EXIT
export HOME=$home XDG_CONFIG_HOME=$home/config QT_QPA_PLATFORM=xcb
unset WAYLAND_DISPLAY

"$program" &
pid=$!
window=""
for _ in $(seq 200); do
  window=$(xdotool search --onlyvisible --name '^Velorin$' 2>/dev/null | head -n 1) || true
  [ -n "$window" ] && break
  sleep 0.05
done
if [ -z "$window" ]; then
  echo "the window did not appear" >&2
  kill "$pid"
  exit 1
fi
eval "$(xdotool getwindowgeometry --shell "$window")"
# The Close button: main panel at x 180, button at 408 x 505, 68 x 24.
xdotool mousemove --sync $((X + 180 + 408 + 34)) $((Y + 505 + 12)) click 1
status=0
wait "$pid" || status=$?
[ "$status" -eq 0 ] || { echo "velorin ended with status $status" >&2; exit 1; }
settings=$XDG_CONFIG_HOME/Velorin/Velorin.ini
[ -s "$settings" ] || { echo "no settings file at $settings" >&2; exit 1; }
echo "window closed, settings written"
