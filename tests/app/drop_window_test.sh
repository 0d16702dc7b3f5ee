#!/usr/bin/env bash
# Drags files from another program into the real window on a virtual display, with the
# mouse held down across the two windows as a person would: a drop on the source field
# fills the source, the sizes and a suggested destination; a drop on the destination field
# sets only the destination; of several files the first is taken. Also: a source named on
# the command line fills the sizes.
# usage: drop_window_test.sh SHELL_PROBE DRAG_SOURCE MAKE_SAMPLE
set -euo pipefail
probe=$1
drag_source=$2
make_sample=$3

work=$(mktemp -d)
# shellcheck source=../xvfb_session.sh
source "$(dirname "$0")/../xvfb_session.sh"

fail() {
  echo "FAIL: $*" >&2
  for log in "$work"/*.log; do echo "--- $log" >&2; tail -n 30 "$log" >&2; done
  exit 1
}

start_display
mkdir "$work/clips"
"$make_sample" "$work/clips/clip one.avi" 1 >/dev/null || fail "no sample"
"$make_sample" "$work/clips/second.avi" 1 >/dev/null || fail "no second sample"
read -r sample_width sample_height < <(ffprobe -v error -select_streams v:0 \
  -show_entries stream=width,height -of csv=p=0 "$work/clips/clip one.avi" | tr ',' ' ')

export REFRAME_PROBE_REPORT="$work/report"
report() { grep -m1 "^$1 " "$REFRAME_PROBE_REPORT" | cut -d' ' -f2-; }
expect_report() {
  local want=$2 got=
  for _ in $(seq 100); do
    got=$(report "$1" 2>/dev/null) || true
    [ "$got" = "$want" ] && return 0
    sleep 0.1
  done
  cat "$REFRAME_PROBE_REPORT" >&2; fail "$1: expected '$want', got '$got'"
}

# Drags FILE... from a fresh drag source onto client point X,Y of window $1.
drag_onto() {
  local target=$1 x=$2 y=$3
  shift 3
  "$drag_source" 600 400 "$@" >"$work/drag.log" 2>&1 &
  local drag=$!
  pids+=("$drag")
  local from
  from=$(wait_window "drag source" 20)
  sleep 0.3
  xdotool mousemove --window "$from" 60 40
  sleep 0.2
  xdotool mousedown 1
  # Qt starts a drag only after the pointer has moved a few pixels with the button down,
  # and the target learns of it through the pointer's path.
  for step in 5 10 20 30; do xdotool mousemove --window "$from" $((60 + step)) $((40 + step)); sleep 0.1; done
  for _ in 1 2 3; do xdotool mousemove --window "$target" "$x" "$y"; sleep 0.2; done
  xdotool mousemove --window "$target" $((x + 2)) "$y"
  sleep 0.3
  xdotool mouseup 1
  timeout 10 tail --pid="$drag" -f /dev/null || fail "the drag did not end"
  grep -q "drag ended: 1" "$work/drag.log" || fail "the drop was not taken as a copy: $(cat "$work/drag.log")"
}

"$probe" >"$work/probe.log" 2>&1 &
app=$!
pids+=("$app")
window=$(wait_window 'Reframe [0-9.]*' 20)
eventually test -s "$REFRAME_PROBE_REPORT" || fail "no report from the probe"
sleep 0.3

# The source field lies at (90,10) 250x18 in the client area, the destination at (90,40).
drag_onto "$window" 200 19 "$work/clips/clip one.avi"
expect_report "text 15" "15 $work/clips/clip one.avi"
expect_report "text 7" "7 $sample_width"
expect_report "text 6" "6 $sample_height"
expect_report "text 14" "14 $work/clips/clip one-resized.avi"

drag_onto "$window" 200 50 "$work/clips/elsewhere.avi" "$work/clips/second.avi"
expect_report "text 14" "14 $work/clips/elsewhere.avi"
expect_report "text 15" "15 $work/clips/clip one.avi"

# On the window's empty area below the path fields: the first of two files is the source.
drag_onto "$window" 300 185 "$work/clips/second.avi" "$work/clips/clip one.avi"
expect_report "text 15" "15 $work/clips/second.avi"
expect_report "text 14" "14 $work/clips/elsewhere.avi"

close_with_keys "$window" "$app"

# A source on the command line fills the sizes; the destination comes from the command line.
rm -f "$REFRAME_PROBE_REPORT"
"$probe" "$work/clips/clip one.avi" "$work/out.avi" >"$work/probe2.log" 2>&1 &
app=$!
pids+=("$app")
wait_window 'Reframe [0-9.]*' 20 >/dev/null
expect_report "text 7" "7 $sample_width"
expect_report "text 6" "6 $sample_height"
expect_report "text 14" "14 $work/out.avi"
kill "$app"
echo "PASS"
