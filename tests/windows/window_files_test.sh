#!/usr/bin/env bash
# How files reach the Windows window under Wine: the command line (a source fills the
# sizes), the "..." buttons with the platform's own Open and Save dialogs (a typed name and
# Return fill the field, Cancel leaves it), and files dragged from a Linux program, which
# Wine hands over as WM_DROPFILES (on the source field: source, sizes and a free destination
# name; on the destination field: only the destination; of several files the first).
# usage: window_files_test.sh BUILD_WINEPREFIX WINDOW_PROBE REFRAME_EXE DRAG_SOURCE
set -euo pipefail
template=$1
window_probe=$2
reframe_exe=$3
drag_source=$4

work=$(mktemp -d)
# shellcheck source=wine_window_session.sh
source "$(dirname "$0")/wine_window_session.sh"
# shellcheck source=reframe_window.sh
source "$(dirname "$0")/reframe_window.sh"

start_wine_session "$template"
clips=$work/clips
mkdir "$clips"
make_source "$clips/clip one.avi"
ffmpeg -v error -f lavfi -i testsrc2=size=96x64:rate=25 -t 1 -c:v rawvideo -pix_fmt bgr24 \
  "$clips/second.avi"
clip=$(win_path "$clips/clip one.avi")
second=$(win_path "$clips/second.avi")
install_programs "$work/programs" "$reframe_exe"

# --- the command line: a source fills the sizes -------------------------------------------
start_reframe "$work/programs/reframe.exe" "$clip" 'D:\out.avi'
expect_main "text $SourceField" "$clip"
expect_main "text $DestinationField" 'D:\out.avi'
expect_main "text $WidthField" 160
expect_main "text $HeightField" 120
close_reframe

start_reframe "$work/programs/reframe.exe"

# Opens the dialog of browse button $1, requires its title $2 and a name field with the
# focus, and leaves the dialog's X window in "dialog".
open_dialog() {
  click_control "$1"
  dialog=$(wait_window "$2" 30)
  wait_frame "$dialog"
  expect_probe title "$2" dialog
  expect_probe focus 1148 dialog
  expect_main enabled 0
  activate "$dialog"
}
# Types name $1 into the open dialog's name field and presses Return.
answer_dialog() {
  press End shift+Home
  type_text "$1"
  press Return
  wait_gone "$2"
  expect_main enabled 1
}

# --- the browse buttons ---------------------------------------------------------------------
open_dialog "$SourceBrowseButton" Source
answer_dialog "$clip" Source
expect_main "text $SourceField" "$clip"
expect_main "text $WidthField" 160
expect_main "text $HeightField" 120

# Cancel, by its button, leaves the field as it was.
open_dialog "$SourceBrowseButton" Source
output=$(run_probe dialog)
read -r _ x y width height < <(fact "$output" "control 2")
[ "$(fact "$output" "text 2")" = Cancel ] || fail "no Cancel button: $output"
click_in "$dialog" $((x + width / 2)) $((y + height / 2))
wait_gone Source
expect_main enabled 1
[ "$(fact "$(main_facts)" "text $SourceField")" = "$clip" ] || fail "Cancel changed the source"

# The Save dialog opens in the folder of the destination named so far, where a bare name
# is taken; Escape cancels it.
fill_field "$DestinationField" "$(win_path "$clips/first.avi")"
open_dialog "$DestinationBrowseButton" Destination
answer_dialog "new name.avi" Destination
expect_main "text $DestinationField" "$(win_path "$clips/new name.avi")"
open_dialog "$DestinationBrowseButton" Destination
press Escape
wait_gone Destination
expect_main "text $DestinationField" "$(win_path "$clips/new name.avi")"
[ ! -e "$clips/new name.avi" ] || fail "the Save dialog created the file"

# --- drops from another program -------------------------------------------------------------
fill_field "$SourceField" ""
fill_field "$DestinationField" ""
fill_field "$WidthField" ""
fill_field "$HeightField" ""
# The source field lies at (90,10) 250x18 in the client area, the destination at (90,40).
drag_files_onto "$window" 200 19 "$clips/clip one.avi"
expect_main "text $SourceField" "$clip"
expect_main "text $WidthField" 160
expect_main "text $HeightField" 120
expect_main "text $DestinationField" "$(win_path "$clips/clip one-resized.avi")"

drag_files_onto "$window" 200 50 "$clips/elsewhere.avi" "$clips/second.avi"
expect_main "text $DestinationField" "$(win_path "$clips/elsewhere.avi")"
expect_main "text $SourceField" "$clip"

# On the window's empty area below the options: the first of two files is the source; the
# destination named before stays.
drag_files_onto "$window" 300 185 "$clips/second.avi" "$clips/clip one.avi"
expect_main "text $SourceField" "$second"
expect_main "text $WidthField" 96
expect_main "text $HeightField" 64
expect_main "text $DestinationField" "$(win_path "$clips/elsewhere.avi")"

close_reframe
echo "PASS"
