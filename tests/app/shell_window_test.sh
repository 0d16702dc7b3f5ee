#!/usr/bin/env bash
# Drives the real program and the probe on a virtual display with a real window manager:
# window placement and size, the filled path fields, Tab order, digits-only typing, and
# the close box ending the program with exit code 0.
# usage: shell_window_test.sh REFRAME SHELL_PROBE [SCREENSHOT.png]
set -euo pipefail
reframe=$1
probe=$2
screenshot=${3:-}

work=$(mktemp -d)
# The virtual display, window manager and clean-up shared by the window tests.
# shellcheck source=../xvfb_session.sh
source "$(dirname "$0")/../xvfb_session.sh"

fail() {
  echo "FAIL: $*" >&2
  for log in "$work"/*.log; do echo "--- $log" >&2; tail -n 30 "$log" >&2; done
  exit 1
}

start_display

mkdir "$work/a b"
source_path="$work/a b/in.avi"

# --- the program itself: placement, size, decorations, close box, exit code ---------
"$reframe" "$source_path" out.avi >"$work/reframe.log" 2>&1 &
app=$!
pids+=("$app")
window=$(timeout 15 xdotool search --sync --onlyvisible --name '^Reframe ' | head -n1) ||
  fail "the window did not appear"
[ -n "$window" ] || fail "the window did not appear"

title=$(xdotool getwindowname "$window")
[[ $title =~ ^Reframe\ [0-9]+\.[0-9]+\.[0-9]+$ ]] || fail "title is '$title'"

# Let the window manager finish placing the frame.
eventually sh -c "xprop -id $window _NET_FRAME_EXTENTS | grep -q '='" || fail "no frame extents"
wait_settled "$window"
info=$(xwininfo -id "$window")
x=$(awk '/Absolute upper-left X/ {print $NF}' <<<"$info")
y=$(awk '/Absolute upper-left Y/ {print $NF}' <<<"$info")
width=$(awk '/^ *Width:/ {print $NF}' <<<"$info")
height=$(awk '/^ *Height:/ {print $NF}' <<<"$info")
read -r left right top bottom < <(xprop -id "$window" _NET_FRAME_EXTENTS | sed 's/.*= //; s/,//g')
echo "client ${width}x${height} at $x,$y; frame extents $left $right $top $bottom"
if [ "$width" != 400 ] || [ "$height" != 250 ]; then fail "client area is ${width}x${height}, not 400x250"; fi
if [ $((x - left)) != 5 ] || [ $((y - top)) != 5 ]; then fail "outer corner at $((x - left)),$((y - top)), not 5,5"; fi

# The window carries the program's icon, at several sizes.
icons=$(xprop -id "$window" _NET_WM_ICON 2>/dev/null | grep -o 'Icon ([0-9]* x [0-9]*)' | tr '\n' ' ')
if ! grep -q "Icon (16 x 16)" <<<"$icons" || ! grep -q "Icon (128 x 128)" <<<"$icons"; then
  fail "the window's icons: $icons"
fi

actions=$(xprop -id "$window" _NET_WM_ALLOWED_ACTIONS)
grep -q MINIMIZE <<<"$actions" || fail "no minimise: $actions"
! grep -qE 'MAXIMIZE|RESIZE' <<<"$actions" || fail "the window can be resized or maximised: $actions"

if [ -n "$screenshot" ]; then
  import -window root -crop "$((width + left + right))x$((height + top + bottom))+$((x - left))+$((y - top))" \
    "$screenshot" || fail "no screenshot"
fi

close_with_keys "$window" "$app"
status=0
wait "$app" || status=$?
[ "$status" = 0 ] || fail "exit code $status after the close box"

# --- the probe: the same shell, reporting texts and focus ------------------------------
export REFRAME_PROBE_REPORT="$work/report"
"$probe" "$source_path" out.avi >"$work/probe.log" 2>&1 &
probe_pid=$!
pids+=("$probe_pid")
window=$(timeout 15 xdotool search --sync --onlyvisible --name '^Reframe ' | head -n1) ||
  fail "the probe's window did not appear"
eventually test -s "$REFRAME_PROBE_REPORT" || fail "no report from the probe"

report() { grep -m1 "^$1 " "$REFRAME_PROBE_REPORT" | cut -d' ' -f2- ; }
# Waits until the report line "$1" reads "$2".
expect_report() {
  local want=$2 got
  for _ in $(seq 50); do
    got=$(report "$1") || true
    [ "$got" = "$want" ] && return 0
    sleep 0.1
  done
  fail "$1: expected '$want', got '$got'"
}

expect_report "text 15" "15 $source_path"
expect_report "text 14" "14 out.avi"
expect_report "text 7" "7 "
expect_report "focus" "-1"

xdotool windowactivate --sync "$window"
for control in 15 14 13 12 7 6 10 5 4 3 2 1 15; do
  xdotool key --clearmodifiers Tab
  expect_report "focus" "$control"
done
for control in 1 2 3 4 5 10 6 7 12 13 14 15 1; do
  xdotool key --clearmodifiers shift+Tab
  expect_report "focus" "$control"
done

# Into the width field (Tab from the status line: 15 14 13 12 7) and type.
for _ in 1 2 3 4 5; do xdotool key --clearmodifiers Tab; done
expect_report "focus" "7"
xdotool type --delay 30 "6a4.0x"
expect_report "text 7" "7 640"
# Space ticks the focused check box: from 7, Tab to 6, 10, 5.
for _ in 1 2 3; do xdotool key --clearmodifiers Tab; done
expect_report "focus" "5"
xdotool key --clearmodifiers space
expect_report "state 5" "5 1"
# Enter in a field starts nothing and the program keeps running: the Tab typed after it still
# reaches the window and moves the focus on, so the Return was handled before it.
xdotool key --clearmodifiers shift+Tab shift+Tab shift+Tab
expect_report "focus" "7"
xdotool key --clearmodifiers Return Tab
expect_report "focus" "6"
kill -0 "$probe_pid" || fail "the probe ended on Enter"

close_with_keys "$window" "$probe_pid"
status=0
wait "$probe_pid" || status=$?
[ "$status" = 0 ] || fail "probe exit code $status"
echo "PASS"
