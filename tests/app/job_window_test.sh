#!/usr/bin/env bash
# Converts a file through the real program on a virtual display, as a person would: clicks
# into the size fields and types, ticks "Anti aliasing", presses Start, watches the status
# line and the bar move, presses Start and the close box while the job runs (neither may do
# anything), answers the "Finished." message, checks the written file with ffprobe and
# closes the window.
# usage: job_window_test.sh REFRAME MAKE_SAMPLE [SCREENSHOT.png]
set -euo pipefail
reframe=$1
make_sample=$2
screenshot=${3:-}

work=$(mktemp -d)
# The virtual display, window manager and clean-up shared by the window tests.
# shellcheck source=../xvfb_session.sh
source "$(dirname "$0")/../xvfb_session.sh"

fail() {
  echo "FAIL: $*" >&2
  for log in "$work"/*.log; do echo "--- $log" >&2; tail -n 30 "$log" >&2; done
  if [ -n "${DISPLAY:-}" ] && [ -n "$screenshot" ]; then
    import -window root "${screenshot%.png}-failure.png" 2>/dev/null &&
      echo "screen at the failure: ${screenshot%.png}-failure.png" >&2
  fi
  exit 1
}

# --- the files ---------------------------------------------------------------------------
# The job must last long enough to be watched and pressed at. Uncompressed frames convert
# far too quickly for that, so the sample is re-encoded as lossless JPEG 2000, which takes
# libavcodec some 20 ms a frame to decode; lossless keeps the bars' colours exact. The
# encoding runs while the display starts; the program only needs the file at Start.
seconds=${REFRAME_JOB_TEST_SECONDS:-12}
"$make_sample" "$work/sample.avi" "$seconds" 640x480 || fail "no sample file"
source_path="$work/in put.avi"
destination_path="$work/out put.avi"
ffmpeg -nostdin -v error -i "$work/sample.avi" -c:v jpeg2000 -pred 1 -c:a copy "$source_path" \
  >"$work/ffmpeg.log" 2>&1 &
encoder=$!
pids+=("$encoder")
# With the compressor beside the program the destination ends up compressed; without it
# the program says so and keeps the uncompressed file.
compressor_present=0
[ -x "$(dirname "$reframe")/vidcrunch.exe" ] && compressor_present=1

# --- the display and a window manager (frame, close box) --------------------------------
start_display

"$reframe" "$source_path" "$destination_path" >"$work/reframe.log" 2>&1 &
app=$!
pids+=("$app")
window=$(timeout 15 xdotool search --sync --onlyvisible --name '^Reframe ' | head -n1) ||
  fail "the window did not appear"
[ -n "$window" ] || fail "the window did not appear"
eventually sh -c "xprop -id $window _NET_FRAME_EXTENTS | grep -q '='" || fail "no frame extents"
wait_settled "$window"
info=$(xwininfo -id "$window")
wx=$(awk '/Absolute upper-left X/ {print $NF}' <<<"$info")
wy=$(awk '/Absolute upper-left Y/ {print $NF}' <<<"$info")
ww=$(awk '/^ *Width:/ {print $NF}' <<<"$info")
wh=$(awk '/^ *Height:/ {print $NF}' <<<"$info")
read -r left right top bottom < <(xprop -id "$window" _NET_FRAME_EXTENTS | sed 's/.*= //; s/,//g')
xdotool windowactivate --sync "$window"

# Moves the pointer to a screen point and waits until it is there. (xdotool's own --sync
# waits for a movement, which never comes when the pointer is already in place.)
point_at() {
  xdotool mousemove "$1" "$2"
  eventually sh -c "xdotool getmouselocation | grep -q '^x:$1 y:$2 '" || fail "the pointer did not move"
}
# Clicks at a point given in the window's client coordinates. The click reaches the program
# before any key or click made after it.
click_at() {
  point_at $((wx + $1)) $((wy + $2))
  xdotool click 1
}
# The close box sits at the right end of the title bar, above the client area.
click_close_box() {
  point_at $((wx + ww + right - top / 2 - 2)) $((wy - top / 2))
  xdotool click 1
}
# Saves the part of the screen at client rectangle (x y w h) to a file.
grab() {
  import -window root -crop "$3x$4+$((wx + $1))+$((wy + $2))" +repage "$5"
}
# Number of pixels in which two images differ.
differing_pixels() {
  compare -metric AE "$1" "$2" null: 2>&1 || true
}
# Whether an image holds more than one colour.
has_content() {
  [ "$(convert "$1" -format '%k' info:)" -gt 1 ]
}

# Whether the square at client point 20,150 (the box's tick mark) differs from box-before.png
# by more than a few pixels of hover highlighting.
box_ticked() {
  grab 20 150 20 20 "$work/box-now.png"
  [ "$(differing_pixels "$work/box-before.png" "$work/box-now.png")" -gt 5 ]
}
# Whether the square has been the same in two looks 0.1 s apart: the window has painted.
box_steady() {
  grab 20 150 20 20 "$work/box-a.png"
  sleep 0.1
  grab 20 150 20 20 "$work/box-b.png"
  [ "$(differing_pixels "$work/box-a.png" "$work/box-b.png")" = 0 ]
}

# --- the inputs, by mouse and keyboard --------------------------------------------------
click_at 165 99  # WidthField
xdotool key --clearmodifiers ctrl+a
xdotool type --delay 40 "352"
click_at 165 129  # HeightField
xdotool key --clearmodifiers ctrl+a
xdotool type --delay 40 "264"
# The tick mark shows in the box's square at its left end; the mouse goes elsewhere before
# each look so that hover highlighting doesn't count.
point_at $((wx + 300)) $((wy + 20))
eventually box_steady || fail "the window does not settle"
grab 20 150 20 20 "$work/box-before.png"
# A second click would take the tick away again: it comes only when the first has shown
# nothing for ten seconds.
act_until "the click on Anti aliasing" "! box_ticked" box_ticked \
  "point_at $((wx + 60)) $((wy + 160)) && xdotool click 1 && point_at $((wx + 300)) $((wy + 20))" 40 10

# --- the job ----------------------------------------------------------------------------
wait "$encoder" || fail "ffmpeg could not re-encode the sample"
echo "[$SECONDS s] sample re-encoded"
source_frames=$(ffprobe -v error -select_streams v:0 -count_packets \
  -show_entries stream=nb_read_packets -of csv=p=0 "$source_path")
[ "$source_frames" = $((seconds * 25)) ] || fail "the sample has $source_frames frames"
source_audio_bytes=$(ffprobe -v error -select_streams a:0 -show_entries packet=size -of csv=p=0 \
  "$source_path" | awk '{n += $1} END {print n}')

grab 110 190 280 20 "$work/status-idle.png"
click_at 55 215  # StartButton
# The status line gets its text as the first stream starts.
started=0
for _ in $(seq 150); do
  grab 110 190 280 20 "$work/status-now.png"
  if [ "$(differing_pixels "$work/status-idle.png" "$work/status-now.png")" -gt 0 ]; then
    started=1
    break
  fi
  kill -0 "$app" 2>/dev/null || fail "the program ended after Start"
  sleep 0.1
done
[ "$started" = 1 ] || fail "the status line did not change after Start"
echo "[$SECONDS s] job started"
has_content "$work/status-now.png" || fail "the status line shows nothing"

# Whether the bar differs from the look in file $1, keeping the new look in file $2.
bar_moved() {
  grab 110 220 280 20 "$2"
  [ "$(differing_pixels "$1" "$2")" -gt 0 ]
}
# The bar moves while the video stream converts: a later look differs from the first.
grab 110 220 280 20 "$work/bar-1.png"
eventually bar_moved "$work/bar-1.png" "$work/bar-2.png" || fail "the progress bar did not move"
has_content "$work/bar-2.png" || fail "the progress bar shows nothing"
if [ -n "$screenshot" ]; then
  import -window root \
    -crop "$((ww + left + right))x$((wh + top + bottom))+$((wx - left))+$((wy - top))" +repage \
    "$screenshot" || fail "no screenshot"
fi

# Start and the close box during the job: both are taken by the job's event pumping and do
# nothing. The job must still be running well after them for this to mean anything.
# The job pumps one event per frame, so once the bar has moved twice more the clicks have
# been taken in.
click_at 55 215
click_close_box
eventually bar_moved "$work/bar-2.png" "$work/bar-3.png" ||
  fail "the progress bar stopped after Start and the close box were pressed"
eventually bar_moved "$work/bar-3.png" "$work/bar-4.png" ||
  fail "the progress bar stopped after Start and the close box were pressed"
kill -0 "$app" 2>/dev/null || fail "the close box ended the program during the job"
xdotool search --name '^Information$' >/dev/null 2>&1 &&
  fail "the job ended too soon to press anything during it; make the sample longer"

if [ "$compressor_present" = 0 ]; then answer_box ERROR 90; fi
wait_window Information 90 >/dev/null
echo "[$SECONDS s] job finished"
! xdotool search --onlyvisible --name '^ERROR$' >/dev/null 2>&1 || fail "an ERROR message appeared"
answer_box Information 10
# A press of Start that had slipped through would have run a second job inside the first:
# its end would have shown the messages above while the outer job still moves the bar and
# has its own messages to come.
grab 110 220 280 20 "$work/bar-end-1.png"
for _ in $(seq 15); do
  ! xdotool search --onlyvisible --name '^(Information|ERROR)$' >/dev/null 2>&1 ||
    fail "another message appeared after \"Finished.\""
  sleep 0.1
done
grab 110 220 280 20 "$work/bar-end-2.png"
[ "$(differing_pixels "$work/bar-end-1.png" "$work/bar-end-2.png")" = 0 ] ||
  fail "the progress bar still moves after \"Finished.\": a second job ran"
kill -0 "$app" 2>/dev/null || fail "the program ended with the job"
echo "[$SECONDS s] messages answered"

# --- the written file -------------------------------------------------------------------
video=$(ffprobe -v error -select_streams v:0 -count_packets \
  -show_entries stream=codec_name,width,height,nb_read_packets -of csv=p=0 \
  "$destination_path") || fail "ffprobe cannot read the destination"
echo "destination video: $video"
if [ "$compressor_present" = 0 ]; then
  expected="rawvideo,352,264,$source_frames"
  pixels=$(ffprobe -v error -select_streams v:0 -show_entries stream=pix_fmt -of csv=p=0 \
    "$destination_path")
  [ "$pixels" = bgr24 ] || fail "destination pixels are $pixels, not bgr24"
else
  expected="$(cut -d, -f1 <<<"$video"),352,264,$source_frames"
  [[ $video != rawvideo,* ]] || fail "the compressor left the destination uncompressed"
  files=$(find "$work" -maxdepth 1 -iname '*.avi*' -printf '%f\n' | sort | tr '\n' '|')
  [ "$files" = "in put.avi|out put.avi|sample.avi|" ] ||
    fail "the compressor's files are not as expected: $files"
fi
[ "$video" = "$expected" ] || fail "destination video is '$video', expected $expected"
audio=$(ffprobe -v error -select_streams a:0 -show_entries stream=codec_name,sample_rate,channels \
  -of csv=p=0 "$destination_path")
[ "$audio" = "pcm_s16le,44100,2" ] || fail "destination audio is '$audio'"
audio_bytes=$(ffprobe -v error -select_streams a:0 -show_entries packet=size -of csv=p=0 \
  "$destination_path" | awk '{n += $1} END {print n}')
[ "$audio_bytes" = "$source_audio_bytes" ] ||
  fail "destination holds $audio_bytes bytes of sound, the source $source_audio_bytes"
if [ "$compressor_present" = 0 ]; then
  # Averaging blends the bars' edges into colours of their own; taking the nearest pixel
  # would leave only the bars' colours in the top rows, above the moving box.
  if ! ffmpeg -v error -i "$source_path" -frames:v 1 -vf crop=640:50:0:0 "$work/source-top.png" ||
    ! ffmpeg -v error -i "$destination_path" -frames:v 1 -vf crop=352:30:0:0 "$work/top.png"; then
    fail "ffmpeg cannot decode the first frames"
  fi
  source_colours=$(convert "$work/source-top.png" -format '%k' info:)
  colours=$(convert "$work/top.png" -format '%k' info:)
  [ "$colours" -gt "$source_colours" ] ||
    fail "$colours colours in the bars, $source_colours in the source's: the frames were not averaged"
fi
echo "[$SECONDS s] destination checked"
warnings=$(ffprobe -v warning "$destination_path" 2>&1) || true
[ -z "$warnings" ] || fail "ffprobe warns about the destination: $warnings"

# --- closing: the close box now ends the program with code 0 ----------------------------
act_until "the close box" "window_shown $window" "! kill -0 $app" \
  "xdotool windowactivate --sync $window && click_close_box" 60
status=0
wait "$app" || status=$?
[ "$status" = 0 ] || fail "exit code $status after the close box"
echo "[$SECONDS s] closed"
echo "PASS"
