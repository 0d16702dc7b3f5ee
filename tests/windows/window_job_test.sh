#!/usr/bin/env bash
# A real job in the Windows window under Wine, with the compressor installed beside the tool:
# sizes typed, "Anti aliasing" ticked, Start; the status line and the bar follow the job, and
# Start and the close box pressed during it do nothing; "Finished."; the destination is the
# compressed file at the new size, with every frame and all the sound, and nothing else is
# left beside it. Screenshots of the window idle and mid-job go to SCREENSHOT_FOLDER
# (windows.png, windows-job.png).
# usage: window_job_test.sh BUILD_WINEPREFIX WINDOW_PROBE REFRAME_EXE VIDCRUNCH_EXE
#        SCREENSHOT_FOLDER
set -euo pipefail
template=$1
window_probe=$2
reframe_exe=$3
vidcrunch_exe=$4
screenshots=$5

work=$(mktemp -d)
# shellcheck source=wine_window_session.sh
source "$(dirname "$0")/wine_window_session.sh"
# shellcheck source=reframe_window.sh
source "$(dirname "$0")/reframe_window.sh"

# The job must last long enough to be watched and pressed at: some 2 ms a frame here (PNG
# pictures in, a small size out, to keep the uncompressed stage of the file small), so a few
# thousand frames. The encoding runs while Wine starts.
seconds=90
clips=$work/clips
mkdir "$clips"
ffmpeg -nostdin -v error -f lavfi -i testsrc2=size=640x480:rate=25 -f lavfi \
  -i sine=frequency=440 -t "$seconds" -c:v png -c:a pcm_s16le "$clips/holiday.avi" \
  >"$work/ffmpeg.log" 2>&1 &
encoder=$!
pids+=("$encoder")
start_wine_session "$template"
install_programs "$work/programs" "$reframe_exe" "$vidcrunch_exe"
# The clips on a drive of their own, D:, as on a machine with a second disk.
map_drive D "$clips"
wait "$encoder" || fail "ffmpeg could not make the sample"
source_frames=$(ffprobe -v error -select_streams v:0 -count_packets \
  -show_entries stream=nb_read_packets -of csv=p=0 "$clips/holiday.avi")
[ "$source_frames" = $((seconds * 25)) ] || fail "the sample has $source_frames frames"
audio_bytes() {
  ffprobe -v error -select_streams a:0 -show_entries packet=size -of csv=p=0 "$1" |
    awk '{n += $1} END {print n}'
}
source_audio_bytes=$(audio_bytes "$clips/holiday.avi")

start_reframe "$work/programs/reframe.exe" 'D:\holiday.avi' 'D:\holiday-small.avi'
expect_main "text $WidthField" 640
fill_field "$WidthField" 176
fill_field "$HeightField" 132
click_control "$AntiAliasingBox"
expect_main "state $AntiAliasingBox" 1

# The window with its frame, as it stands on the screen.
screenshot() {
  local x y width height left right top bottom
  read -r x y < <(window_origin "$window")
  read -r width height < <(xwininfo -id "$window" |
    awk '/^ *Width:/ {w = $NF} /^ *Height:/ {h = $NF} END {print w, h}')
  read -r left right top bottom < <(xprop -id "$window" _NET_FRAME_EXTENTS | sed 's/.*= //; s/,//g')
  import -window root -crop "$((width + left + right))x$((height + top + bottom))+$((x - left))+$((y - top))" \
    +repage "$1" || fail "no screenshot $1"
}
mkdir -p "$screenshots"
point_at 600 600  # the pointer off the window, so that nothing shows hover highlighting
screenshot "$screenshots/windows.png"

# --- the job: the bar and the status line follow it --------------------------------------
# A probe per look takes most of a second; the watcher looks every 20 ms.
start_watch "Reframe "
# Its first look ends with the dialogs: none.
eventually grep -q "^[0-9]* dialog -$" "$work/watch.log" || fail "the watcher sees nothing"
click_control "$StartButton"
# Mid-job: the bar on its way while the video converts.
video="Processing stream #0 (Video)"
for _ in $(seq 300); do
  [ "$(watched "text $StatusLine" | tail -n1)" = "$video" ] &&
    [ "$(watched "state $ProgressBar" | tail -n1)" -ge 5 ] && break
  [ "$(watched dialog | tail -n1)" = - ] || fail "a box appeared during the job: $(watched dialog)"
  sleep 0.1
done
at_click=$(watched "state $ProgressBar" | tail -n1)
[ "$at_click" -ge 5 ] || fail "the bar did not move: $(watched "state $ProgressBar" | tr '\n' ' ')"

# Start and the close box during the conversion are taken by the job's event pumping and do
# nothing: the program goes on and the bar keeps moving. (During compression the close box
# would end the job, as it should: the video must still be converting when it arrives.)
click_control "$StartButton"
click_close_box "$window"
point_at 600 600
screenshot "$screenshots/windows-job.png"
bar_beyond() { [ "$(watched "state $ProgressBar" | tail -n1)" -gt "$1" ]; }
eventually bar_beyond $((at_click + 5)) ||
  fail "the bar stopped after Start and the close box were pressed"
kill -0 "$app" 2>/dev/null || fail "the close box ended the program during the job"
[ "$(watched "text $StatusLine" | tail -n1)" = "$video" ] ||
  fail "the job is too quick to be pressed at during the video (the bar was at $at_click)"
echo "[$SECONDS s] bar at $at_click when pressed at"

# --- the end: the compressor's turn, then "Finished." -------------------------------------
answer_ok Information "Finished." 300
expect_main "text $StatusLine" "Finished."
expect_main enabled 1
echo "[$SECONDS s] finished"
# The status line went through the video, the compressor and the end, in that order. (The
# sound is copied too quickly to be seen for sure.)
statuses=$(watched "text $StatusLine" | grep -v '^Processing stream #1 (Audio' | tr '\n' '|')
[ "$statuses" = "|$video|Compressing...|Finished.|" ] || fail "the status line showed: $statuses"
positions=$(watched "state $ProgressBar" | tr '\n' ' ')
[ "$(wc -w <<<"$positions")" -ge 10 ] || fail "the bar hardly moved: $positions"
# A press of Start that had slipped through would run a second job after the first, with a
# second box at its end; the status line would show it starting.
for _ in $(seq 5); do
  ! run_probe dialog >/dev/null || fail "another box appeared after \"Finished.\""
  [ "$(fact "$(main_facts)" "text $StatusLine")" = "Finished." ] || fail "a second job started"
done
kill -0 "$app" 2>/dev/null || fail "the program ended with the job"

# --- the written file: compressed, at the new size, every frame, all the sound -------------
result=$clips/holiday-small.avi
video=$(ffprobe -v error -select_streams v:0 -count_packets \
  -show_entries stream=codec_name,width,height,nb_read_packets -of csv=p=0 "$result") ||
  fail "ffprobe cannot read the destination"
[[ $video != rawvideo,* ]] || fail "the destination was left uncompressed: $video"
[ "${video#*,}" = "176,132,$source_frames" ] || fail "the destination's video is $video"
[ "$(frame_count "$result")" = "$source_frames" ] || fail "frames do not decode"
[ "$(probe "$result" a:0 codec_name)" = pcm_s16le ] || fail "the sound was converted"
[ "$(audio_bytes "$result")" = "$source_audio_bytes" ] || fail "sound was lost"
warnings=$(ffprobe -v warning "$result" 2>&1) || true
[ -z "$warnings" ] || fail "ffprobe warns about the destination: $warnings"
files=$(find "$clips" -maxdepth 1 -type f -printf '%f\n' | sort | tr '\n' '|')
[ "$files" = "holiday-small.avi|holiday.avi|" ] || fail "files beside the destination: $files"

close_reframe
echo "PASS"
