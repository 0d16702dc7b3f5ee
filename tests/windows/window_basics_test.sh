#!/usr/bin/env bash
# The Windows window under Wine, as a person meets it: its title, place and size, every
# control where the layout puts it with its class and text, Tab and Shift+Tab through the
# controls, Enter pressing nothing (no button, wherever the focus is), typing into the
# fields (only digits in the sizes, nothing in the status line), ticking the boxes by mouse
# and by Space, and the close box ending the program with exit code 0.
# usage: window_basics_test.sh BUILD_WINEPREFIX WINDOW_PROBE REFRAME_EXE
set -euo pipefail
template=$1
window_probe=$2
reframe_exe=$3

work=$(mktemp -d)
# shellcheck source=wine_window_session.sh
source "$(dirname "$0")/wine_window_session.sh"
# shellcheck source=reframe_window.sh
source "$(dirname "$0")/reframe_window.sh"

start_wine_session "$template"
install_programs "$work/programs" "$reframe_exe"
start_reframe "$work/programs/reframe.exe"

# --- title, place, size ----------------------------------------------------------------
title=$(fact "$layout" title)
[[ $title =~ ^Reframe\ [0-9]+\.[0-9]+\.[0-9]+$ ]] || fail "the title is '$title'"
[ "$(xdotool getwindowname "$window")" = "$title" ] || fail "the X window is not named '$title'"
[ "$(fact "$layout" "frame" | cut -d' ' -f1-2)" = "5 5" ] ||
  fail "the window's corner is at $(fact "$layout" frame), not 5,5"
read -r client_width client_height _ client_x client_y <<<"$(fact "$layout" client)"
[ "$client_width x $client_height" = "400 x 250" ] ||
  fail "the client area is ${client_width}x$client_height, not 400x250"
# The X window is the client area: its size and place are the ones Windows reports.
info=$(xwininfo -id "$window")
[ "$(awk '/^ *Width:/ {w = $NF} /^ *Height:/ {h = $NF} END {print w "x" h}' <<<"$info")" = 400x250 ] ||
  fail "the X window is not 400x250: $info"
[ "$(window_origin "$window")" = "$client_x $client_y" ] ||
  fail "the X window lies at $(window_origin "$window"), the client area at $client_x $client_y"
[ "$(fact "$layout" enabled)" = 1 ] || fail "the window starts disabled"
# A fixed layout: the window can be minimised, but neither resized nor maximised.
actions=$(xprop -id "$window" _NET_WM_ALLOWED_ACTIONS)
grep -q MINIMIZE <<<"$actions" || fail "no minimise: $actions"
! grep -qE 'MAXIMIZE|RESIZE' <<<"$actions" || fail "the window can be resized or maximised: $actions"

# --- the controls: number, class, place in client coordinates, text --------------------
expected_controls="17 Static 10 10 70 20|Source:
16 Static 10 40 70 18|Destination:
15 Edit 90 10 250 18|
14 Edit 90 40 250 20|
13 Button 350 10 40 18|...
12 Button 350 40 40 18|...
11 Button 10 70 380 110|Options
9 Static 20 90 70 18|Width:
8 Static 20 120 70 18|Height:
7 Edit 100 90 130 18|
6 Edit 100 120 130 18|
10 Button 20 150 130 20|Anti aliasing
5 Button 245 90 130 20|Don't copy video streams
4 Button 245 120 130 20|Don't copy audio streams
3 Button 245 150 130 20|Don't copy other streams
2 Button 10 190 90 50|Start
1 Edit 110 190 280 20|
0 msctls_progress32 110 220 280 20|"
controls=""
while read -r number _; do
  controls+="$number $(fact "$layout" "control $number")|$(fact "$layout" "text $number")"$'\n'
done < <(sed -n 's/^control //p' <<<"$layout")
sorted() { sort -t' ' -k1,1n <<<"$1" | sed '/^$/d'; }
[ "$(sorted "$controls")" = "$(sorted "$expected_controls")" ] ||
  fail "the controls differ from the layout:$(diff <(sorted "$expected_controls") <(sorted "$controls"))"
for box in "$AntiAliasingBox" "$NoVideoStreamsBox" "$NoAudioStreamsBox" "$NoOtherStreamsBox"; do
  [ "$(fact "$layout" "state $box")" = 0 ] || fail "box $box starts ticked"
done
[ "$(fact "$layout" "state $ProgressBar")" = 0 ] || fail "the progress bar does not start at 0"

# --- Tab and Shift+Tab walk the controls in their order, round and round ----------------
click_control "$SourceField"
expect_main focus "$SourceField"
for control in 14 13 12 7 6 10 5 4 3 2 1 15; do
  press Tab
  expect_main focus "$control"
done
for control in 1 2 3 4 5 10 6 7 12 13 14 15; do
  press shift+Tab
  expect_main focus "$control"
done

# --- Enter presses nothing, wherever the focus is --------------------------------------
# The paths are empty, so Start would answer with an ERROR box and a browse button with its
# dialog. Each Enter is followed by a Tab: keys are handled in order, so once the Tab has
# moved the focus on in the main window, anything Enter had opened would be showing (and
# would have taken the Tab).
click_control "$SourceField"
expect_main focus "$SourceField"
for control in 14 13 12 7 6 10 5 4 3 2 1 15; do
  press Return Tab
  expect_main focus "$control"
  ! run_probe dialog >/dev/null || fail "Enter opened a window (the focus came to $control)"
done
kill -0 "$app" 2>/dev/null || fail "the program ended on Enter"
facts=$(main_facts)
for box in "$AntiAliasingBox" "$NoVideoStreamsBox" "$NoAudioStreamsBox" "$NoOtherStreamsBox"; do
  [ "$(fact "$facts" "state $box")" = 0 ] || fail "Enter ticked box $box"
done
[ "$(fact "$facts" "text $StatusLine")" = "" ] || fail "Enter started something"

# --- typing: digits only in the sizes, nothing in the status line -----------------------
fill_field "$WidthField" "6a4.0x" 640
fill_field "$HeightField" "-48 0" 480
fill_field "$SourceField" 'C:\some folder\clip 1.avi'
fill_field "$DestinationField" 'D:\out.avi'
click_control "$StatusLine"
type_text "x1"
expect_main focus "$StatusLine"
click_control "$WidthField"
press End
type_text 5
expect_main "text $WidthField" 6405
[ "$(fact "$(main_facts)" "text $StatusLine")" = "" ] || fail "the status line took typing"

# --- the boxes: a click ticks and unticks, Space ticks the focused one -------------------
for box in "$AntiAliasingBox" "$NoVideoStreamsBox" "$NoAudioStreamsBox" "$NoOtherStreamsBox"; do
  click_control "$box"
  expect_main "state $box" 1
done
click_control "$NoAudioStreamsBox"
expect_main "state $NoAudioStreamsBox" 0
press space
expect_main "state $NoAudioStreamsBox" 1
facts=$(main_facts)
for box in "$AntiAliasingBox" "$NoVideoStreamsBox" "$NoOtherStreamsBox"; do
  [ "$(fact "$facts" "state $box")" = 1 ] || fail "box $box lost its tick"
done
[ "$(fact "$facts" "text $SourceField")" = 'C:\some folder\clip 1.avi' ] ||
  fail "the source field lost its text"

# --- the close box ends the program with code 0 -----------------------------------------
close_reframe
echo "PASS"
