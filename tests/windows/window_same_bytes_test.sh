#!/usr/bin/env bash
# The same job typed into the Windows window under Wine and into the Linux window, on one
# virtual display, gives the same destination file byte for byte: once without the
# compressor beside the tool (the uncompressed file is kept) and once with it, each with its
# own sizes and boxes, so that every field and box the job reads is read alike on both.
# usage: window_same_bytes_test.sh BUILD_WINEPREFIX WINDOW_PROBE REFRAME_EXE VIDCRUNCH_EXE
#        LINUX_BIN
set -euo pipefail
template=$1
window_probe=$2
reframe_exe=$3
vidcrunch_exe=$4
linux_bin=$5

work=$(mktemp -d)
# shellcheck source=wine_window_session.sh
source "$(dirname "$0")/wine_window_session.sh"
# shellcheck source=reframe_window.sh
source "$(dirname "$0")/reframe_window.sh"

start_wine_session "$template"
make_source "$work/source.avi"
install_programs "$work/windows-alone" "$reframe_exe"
install_programs "$work/windows-with" "$reframe_exe" "$vidcrunch_exe"
mkdir "$work/linux-alone" "$work/linux-with" "$work/out"
cp "$linux_bin/reframe" "$work/linux-alone/"
cp "$linux_bin/reframe" "$linux_bin/vidcrunch.exe" "$work/linux-with/"

# The middle of each control the jobs use, in client coordinates (app/main_window.cpp).
declare -A middle=(
  [$WidthField]="165 99" [$HeightField]="165 129" [$AntiAliasingBox]="85 160"
  [$NoAudioStreamsBox]="310 130" [$NoOtherStreamsBox]="310 160" [$StartButton]="55 215"
)

# One job in the Windows window: FOLDER DESTINATION WIDTH HEIGHT BOX... (the boxes to tick),
# then the messages "TITLE=TEXT" it must show, in order.
windows_job() {
  local folder=$1 destination=$2 width=$3 height=$4
  shift 4
  start_reframe "$work/$folder/reframe.exe" "$(win_path "$work/source.avi")" \
    "$(win_path "$destination")"
  fill_field "$WidthField" "$width"
  fill_field "$HeightField" "$height"
  while [ $# -gt 0 ] && [[ $1 != *=* ]]; do
    click_control "$1"
    expect_main "state $1" 1
    shift
  done
  click_control "$StartButton"
  local box
  for box in "$@"; do answer_ok "${box%%=*}" "${box#*=}" 120; done
  close_reframe
}

# The same job in the Linux window, by the same clicks and keys. The Linux boxes are read by
# no probe: their titles are awaited and each is answered with Space.
linux_job() {
  local folder=$1 destination=$2 width=$3 height=$4
  shift 4
  "$work/$folder/reframe" "$work/source.avi" "$destination" >>"$work/linux.log" 2>&1 &
  local linux=$!
  pids+=("$linux")
  window=$(wait_window 'Reframe [0-9.]*' 30)
  wait_frame "$window"
  activate "$window"
  local control x y
  for control in "$WidthField" "$HeightField"; do
    read -r x y <<<"${middle[$control]}"
    click_in "$window" "$x" "$y"
    press ctrl+a
    if [ "$control" = "$WidthField" ]; then type_text "$width"; else type_text "$height"; fi
  done
  while [ $# -gt 0 ] && [[ $1 != *=* ]]; do
    read -r x y <<<"${middle[$1]}"
    click_in "$window" "$x" "$y"
    shift
  done
  read -r x y <<<"${middle[$StartButton]}"
  click_in "$window" "$x" "$y"
  local box title
  for box in "$@"; do
    title=${box%%=*}
    answer_box "$title" 120
  done
  act_until "the close box" "window_shown $window" "! kill -0 $linux" \
    "timeout 5 xdotool windowactivate --sync $window; click_close_box $window" 60
  wait_exit "$linux" 20
  [ "$exit_code" = 0 ] || fail "the Linux window's exit code is $exit_code"
}

# Without the compressor: the uncompressed file, scaled down with averaging.
missing="ERROR=Couldn't find 'vidcrunch.exe'!"
windows_job windows-alone "$work/out/windows-plain.avi" 96 72 "$AntiAliasingBox" \
  "$missing" "Information=Finished."
linux_job linux-alone "$work/out/linux-plain.avi" 96 72 "$AntiAliasingBox" \
  "$missing" "Information=Finished."
[ "$(probe "$work/out/windows-plain.avi" v:0 width)" = 96 ] || fail "the Windows job's width"
[ "$(probe "$work/out/windows-plain.avi" v:0 codec_name)" = rawvideo ] ||
  fail "the plain job was compressed"
cmp "$work/out/windows-plain.avi" "$work/out/linux-plain.avi" ||
  fail "the uncompressed destinations differ"

# With the compressor: scaled up without averaging, and without the sound (audio streams
# handled as other streams, and those dropped).
windows_job windows-with "$work/out/windows-packed.avi" 200 150 "$NoAudioStreamsBox" \
  "$NoOtherStreamsBox" "Information=Finished."
linux_job linux-with "$work/out/linux-packed.avi" 200 150 "$NoAudioStreamsBox" \
  "$NoOtherStreamsBox" "Information=Finished."
[ "$(probe "$work/out/windows-packed.avi" v:0 width)" = 200 ] || fail "the Windows job's width"
[ "$(probe "$work/out/windows-packed.avi" v:0 codec_name)" != rawvideo ] ||
  fail "the compressor left the file uncompressed"
[ -z "$(probe "$work/out/windows-packed.avi" a:0 codec_name)" ] || fail "the sound was copied"
cmp "$work/out/windows-packed.avi" "$work/out/linux-packed.avi" ||
  fail "the compressed destinations differ"
echo "PASS"
