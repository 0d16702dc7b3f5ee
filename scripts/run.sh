#!/usr/bin/env bash
# Sets up, builds and starts Reframe: scripts/run.sh [SOURCE.avi [DESTINATION.avi]]
# Without a display it says so, then shows the window under a virtual X server (Xvfb)
# and saves a screenshot instead.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh
scripts/build.sh build -DCMAKE_BUILD_TYPE=RelWithDebInfo
exe=$PWD/build/bin/reframe

if [ -n "${DISPLAY:-}${WAYLAND_DISPLAY:-}" ]; then
  exec "$exe" "$@"
fi

shot=$PWD/build/screenshot.png
echo "No display found: start this from a desktop session (or 'ssh -X'); showing the window on a virtual display and saving a screenshot to $shot." >&2
exec 3>&1
tmp=$(mktemp -d)
Xvfb -displayfd 4 -screen 0 1024x768x24 -nolisten tcp 4>"$tmp/display" >/dev/null 2>&1 &
xvfb=$!
trap 'kill "$app" "$wm" "$xvfb" 2>/dev/null || true; rm -rf "$tmp"' EXIT
for _ in $(seq 50); do [ -s "$tmp/display" ] && break; sleep 0.1; done
export DISPLAY=:$(cat "$tmp/display")
openbox >/dev/null 2>&1 & wm=$!
sleep 0.5
"$exe" "$@" & app=$!
xdotool search --sync --name '^Reframe' >/dev/null
sleep 1
import -window root -crop 460x330+0+0 "$shot"
echo "Saved $shot"
