#!/usr/bin/env bash
# Sets up, builds and starts Reframe: scripts/run.sh [SOURCE.avi [DESTINATION.avi]]
# Without arguments it opens a sample clip (made on first use in build/sample/) with a
# destination beside it, so there is something to convert straight away.
# Without a display it says so, then shows the window under a virtual X server (Xvfb)
# and saves a screenshot instead.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh
scripts/build.sh build -DCMAKE_BUILD_TYPE=RelWithDebInfo
exe=$PWD/build/bin/reframe

have_display=0
[ -n "${DISPLAY:-}${WAYLAND_DISPLAY:-}" ] && have_display=1

if [ $# = 0 ]; then
  sample=$PWD/build/sample/sample.avi
  if [ ! -s "$sample" ]; then
    mkdir -p "$(dirname "$sample")"
    build/bin/reframe-make-sample "$sample" 4
    [ "$have_display" = 0 ] || echo "Made a sample clip: $sample (320x240, 4 s, with sound)"
  fi
  set -- "$sample" "$PWD/build/sample/sample-small.avi"
  [ "$have_display" = 0 ] ||
    echo "The width and height start at the clip's own size; type smaller ones (say 160 and 120) and press Start; the result goes to $2"
fi

if [ "$have_display" = 1 ]; then
  exec "$exe" "$@"
fi

shot=$PWD/build/screenshot.png
echo "No display found: start this from a desktop session (or 'ssh -X'); showing the window on a virtual display and saving a screenshot to $shot." >&2
tmp=$(mktemp -d)
pids=()
# The program goes first, then the window manager, then the display they both talk to.
cleanup() {
  for ((i = ${#pids[@]} - 1; i >= 0; i--)); do kill "${pids[i]}" 2>/dev/null || true; done
  wait 2>/dev/null || true
  rm -rf "$tmp"
}
trap cleanup EXIT
# Retries a command for up to about 10 seconds.
eventually() {
  for _ in $(seq 100); do "$@" >/dev/null 2>&1 && return 0; sleep 0.1; done
  return 1
}

Xvfb -displayfd 4 -screen 0 1024x768x24 -nolisten tcp 4>"$tmp/display" >/dev/null 2>&1 &
pids+=("$!")
eventually test -s "$tmp/display" || { echo "Xvfb did not start" >&2; exit 1; }
DISPLAY=:$(head -n1 "$tmp/display")
export DISPLAY
export XDG_RUNTIME_DIR=$tmp/runtime
mkdir -m 700 "$XDG_RUNTIME_DIR"
eventually xdpyinfo || { echo "the virtual display does not answer" >&2; exit 1; }
# A window manager draws the frame; on a busy machine it may lose the race for the new
# display, so it gets a few tries.
for _ in 1 2 3; do
  openbox >/dev/null 2>&1 &
  wm=$!
  if eventually sh -c "xprop -root _NET_SUPPORTING_WM_CHECK | grep -q 'window id'"; then
    pids+=("$wm")
    break
  fi
  kill "$wm" 2>/dev/null || true
done
"$exe" "$@" &
pids+=("$!")
timeout 20 xdotool search --sync --onlyvisible --name '^Reframe' >/dev/null ||
  { echo "the window did not appear" >&2; exit 1; }
sleep 1
import -window root -crop 460x330+0+0 "$shot"
echo "Saved $shot"
