#!/usr/bin/env bash
# Every message box the Windows window shows for input it cannot convert, with its exact
# text, under Wine: no paths, the source named twice (also by another spelling of the same
# file, which Windows' case-blind names make easy), a missing source, a file that is not
# AVI, missing and zero frame sizes, a destination that cannot be created, a source whose
# video no decoder knows; then a job without the compressor beside the tool and one with a
# compressor that fails. While a box is open the window is disabled; after OK it takes the
# next input. Refused jobs leave the source as it was and create no destination.
# usage: window_errors_test.sh BUILD_WINEPREFIX WINDOW_PROBE REFRAME_EXE FAKE_COMPRESSOR
set -euo pipefail
template=$1
window_probe=$2
reframe_exe=$3
fake_compressor=$4

work=$(mktemp -d)
# shellcheck source=wine_window_session.sh
source "$(dirname "$0")/wine_window_session.sh"
# shellcheck source=reframe_window.sh
source "$(dirname "$0")/reframe_window.sh"

start_wine_session "$template"
clips=$work/clips
mkdir "$clips" "$work/out" "$work/out/a folder"
make_source "$clips/good.avi"
cp "$clips/good.avi" "$work/good-copy.avi"
echo "just text" >"$clips/notes.avi"
ffmpeg -v error -f lavfi -i testsrc2=size=32x16:rate=5 -t 1 -c:v mjpeg "$clips/unknown.avi"
perl -0777 -pi -e 's/MJPG/ZZZZ/g' "$clips/unknown.avi"
ffmpeg -v error -f lavfi -i sine=frequency=440 -t 1 -c:a pcm_s16le "$clips/sound only.avi"
good=$(win_path "$clips/good.avi")
out=$(win_path "$work/out")

install_programs "$work/programs" "$reframe_exe"
start_reframe "$work/programs/reframe.exe"

# Presses Start and answers the box that must follow: TITLE MESSAGE. The window is disabled
# while the box is open and enabled again after it.
start_expecting() {
  click_control "$StartButton"
  wait_window "$1" 60 >/dev/null
  expect_main enabled 0
  answer_ok "$1" "$2"
  expect_main enabled 1
}
no_paths="Enter a valid filename for the source and destination files."
not_avi="Not a valid avi file!"
no_sizes="Enter the width and height of the new frames."
no_destination="Couldn't create the destination file!"

# --- the paths ---------------------------------------------------------------------------
start_expecting ERROR "$no_paths"
fill_field "$SourceField" "$good"
start_expecting ERROR "$no_paths"
fill_field "$SourceField" ""
fill_field "$DestinationField" "$out\\new.avi"
start_expecting ERROR "$no_paths"
fill_field "$SourceField" "$good"
for same in "$good" "$(win_path "$clips/../clips/good.avi")" "$(win_path "$clips/GOOD.Avi")"; do
  fill_field "$DestinationField" "$same"
  start_expecting ERROR "$no_paths"
done
cmp -s "$clips/good.avi" "$work/good-copy.avi" || fail "the source was changed"

fill_field "$DestinationField" "$out\\new.avi"
fill_field "$SourceField" "$(win_path "$clips/missing.avi")"
start_expecting ERROR "$not_avi"
fill_field "$SourceField" "$(win_path "$clips/notes.avi")"
start_expecting ERROR "$not_avi"

# --- the frame sizes: needed whenever video is converted ----------------------------------
fill_field "$SourceField" "$good"
start_expecting ERROR "$no_sizes"
fill_field "$WidthField" 0
fill_field "$HeightField" 60
start_expecting ERROR "$no_sizes"
fill_field "$WidthField" 80
fill_field "$HeightField" 0
start_expecting ERROR "$no_sizes"
fill_field "$HeightField" ""
start_expecting ERROR "$no_sizes"
[ ! -e "$work/out/new.avi" ] || fail "a refused job created the destination"

# --- destinations that cannot be created ------------------------------------------------
fill_field "$HeightField" 60
fill_field "$DestinationField" "$out\\no such folder\\new.avi"
start_expecting ERROR "$no_destination"
fill_field "$DestinationField" "$out\\a folder"
start_expecting ERROR "$no_destination"
[ -d "$work/out/a folder" ] || fail "the folder named as destination is gone"

# --- video that nothing decodes: nothing is passed off as converted ---------------------
fill_field "$DestinationField" "$out\\new.avi"
fill_field "$SourceField" "$(win_path "$clips/unknown.avi")"
start_expecting ERROR "Couldn't decode the video of the source file!"
[ ! -e "$work/out/new.avi" ] || fail "the undecodable source left a destination"
! find "$work/out" -mindepth 1 -maxdepth 1 -type f | grep -q . ||
  fail "files were left in the destination's folder: $(ls "$work/out")"

# --- a source without video needs no sizes; the missing compressor is reported ----------
fill_field "$SourceField" "$(win_path "$clips/sound only.avi")"
fill_field "$WidthField" ""
fill_field "$HeightField" ""
click_control "$StartButton"
answer_ok ERROR "Couldn't find 'vidcrunch.exe'!"
answer_ok Information "Finished."
expect_main enabled 1
[ "$(ffprobe -v error -show_entries stream=codec_type -of csv=p=0 "$work/out/new.avi")" = audio ] ||
  fail "the sound-only job wrote $(ffprobe -v error -show_entries stream=codec_type -of csv=p=0 \
    "$work/out/new.avi" | tr '\n' ' ')"
close_reframe

# --- a compressor that fails: the uncompressed file is kept -----------------------------
install_programs "$work/failing" "$reframe_exe" "$fake_compressor"
export REFRAME_FAKE_COMPRESSOR=fail
start_reframe "$work/failing/reframe.exe" "$good" "$out\\kept.avi"
expect_main "text $WidthField" 160
expect_main "text $HeightField" 120
click_control "$StartButton"
answer_ok ERROR "Compressing failed; the uncompressed file was kept."
answer_ok Information "Finished."
[ "$(probe "$work/out/kept.avi" v:0 codec_name)" = rawvideo ] ||
  fail "the uncompressed file was not kept"
files=$(find "$work/out" -maxdepth 1 -type f -printf '%f\n' | sort | tr '\n' ' ')
[ "$files" = "kept.avi new.avi " ] || fail "files in the destination's folder: $files"
close_reframe
echo "PASS"
