#!/usr/bin/env bash
# What a crash or a power cut leaves behind. Two halves:
#
# Kills: each kind of job is killed with SIGKILL at a random moment of its run, spread over the
# whole job (conversion and compression both):
#   window     the real window under a virtual display, its compressor beside it, the
#              destination there before the job every other time
#   plain      reframe-convert SOURCE DESTINATION
#   overwrite  reframe-convert --overwrite onto an older file
#   compress   reframe-convert --compress
# After each kill: the source is unchanged; the destination is absent, the older file as it
# was, or a whole result (every frame and sample decodes, the frame count and the sound are the
# source's); none of our processes lives on (the compressor must die with its parent); a
# compressed copy NAME2.avi left by the window is whole and sits beside a whole destination.
# Then the next job of that kind runs to its end in the same folder, and afterwards no
# temporary file (.reframe-*) is left there.
#
# Power cuts: a job runs into a small ext4 image on a loop device, mounted once with the
# default options and once with noauto_da_alloc. The moment the job has told its user it is
# done (exit code 0, or the window's "Finished." box), the file system is shut down without
# flushing its journal, as a power cut would leave it. Mounted again (the journal replays),
# the destination must be the whole result and the source unchanged.
#
# It never stops at the first fault: every check is counted, and the counts for each kind are
# printed at the end. Exit code 0 when all held, 1 when any failed, 77 (skipped) when not root
# or without loop devices or mount.
#
# usage: crash_safety_test.sh REFRAME REFRAME_CONVERT VIDCRUNCH FS_SHUTDOWN
# Settings, all optional:
#   CRASH_SAFETY_MODE=quick|full   quick: 8 kills of each kind and 2 power cuts of each job for
#                                  each mount; full: 200 kills and 10 power cuts
#   CRASH_SAFETY_KILLS=N           kills of each kind instead
#   CRASH_SAFETY_POWER_CUTS=N      power cuts of each job on each mount instead (0: none)
#   CRASH_SAFETY_KINDS="plain ..." the kinds of kills to run (default: all four)
#   CRASH_SAFETY_SEED=N            the random moments (printed at the start, to repeat a run)
set -euo pipefail
# Decimal points in times (EPOCHREALTIME, awk) are dots whatever the user's locale.
export LC_ALL=C

if [ $# != 4 ]; then
  echo "usage: crash_safety_test.sh REFRAME REFRAME_CONVERT VIDCRUNCH FS_SHUTDOWN" >&2
  exit 2
fi
skip() {
  echo "SKIP: $*"
  exit 77
}
[ "$(id -u)" = 0 ] || skip "needs root for loop devices, mount and the file system shutdown"
for tool in Xvfb openbox xdotool xprop xdpyinfo ffmpeg ffprobe mkfs.ext4 losetup mount umount \
  mountpoint timeout; do
  command -v "$tool" >/dev/null || skip "$tool is not installed"
done
for program in "$@"; do
  [ -x "$program" ] || { echo "FAIL: $program is not an executable program" >&2; exit 1; }
done

mode=${CRASH_SAFETY_MODE:-quick}
case $mode in
  quick) kills=8 power_cuts=2 ;;
  full) kills=200 power_cuts=10 ;;
  *) echo "FAIL: CRASH_SAFETY_MODE is '$mode', not quick or full" >&2; exit 2 ;;
esac
kills=${CRASH_SAFETY_KILLS:-$kills}
power_cuts=${CRASH_SAFETY_POWER_CUTS:-$power_cuts}
read -r -a kinds <<<"${CRASH_SAFETY_KINDS:-window plain overwrite compress}"
seed=${CRASH_SAFETY_SEED:-$(((RANDOM << 15) | RANDOM))}
for number in "$kills" "$power_cuts" "$seed"; do
  [[ $number =~ ^[0-9]+$ ]] || { echo "FAIL: '$number' is not a whole number" >&2; exit 2; }
done
for kind in "${kinds[@]}"; do
  case $kind in
    window | plain | overwrite | compress) ;;
    *) echo "FAIL: CRASH_SAFETY_KINDS names '$kind'; known: window plain overwrite compress" >&2
       exit 2 ;;
  esac
done
RANDOM=$seed

work=$(mktemp -d)
logs="$work/logs"
mkdir "$logs"
fail() {
  echo "FAIL: $* (CRASH_SAFETY_SEED=$seed)" >&2
  for log in "$logs"/*.log; do
    [ -s "$log" ] && { echo "--- $log" >&2; tail -n 20 "$log" >&2; }
  done
  exit 1
}
# The display, the window manager and the window helpers shared by the window tests.
# shellcheck source=../xvfb_session.sh
source "$(dirname "$0")/../xvfb_session.sh"

# Our own copies of the programs, one folder for each of the two lanes that run side by side
# (the window; the converter's kinds), and one for the power cuts: every process whose
# executable lies in a lane's folder is that lane's, and no other program's process on the
# machine can be taken for one.
for lane in window convert power; do
  mkdir "$work/bin-$lane"
  cp "$1" "$work/bin-$lane/reframe"
  cp "$2" "$work/bin-$lane/reframe-convert"
  cp "$3" "$work/bin-$lane/vidcrunch.exe"
done
bin="$work/bin-window"
fs_shutdown=$4

image="$work/disk.img" mnt="$work/mnt" loop_device="" app="" lane=""

# --- clean-up, whatever happened ----------------------------------------------------------
# The processes of the lane that are still running: all of them, those of one program (its
# name given), or with "all" those of the whole test. Zombies have no executable any more.
our_processes() {
  local pattern="$bin/${1:-*}"
  [ "${1:-}" = all ] && pattern="$work/bin-*/*"
  # find complains (and fails) about processes that end while it walks /proc.
  { find /proc -mindepth 2 -maxdepth 2 -name exe -lname "$pattern" 2>/dev/null || true; } |
    sed 's|^/proc/||; s|/exe$||'
}
kill_ours() { # [all]
  local pid
  for pid in $(our_processes "$@"); do kill -KILL "$pid" 2>/dev/null || true; done
  for _ in $(seq 200); do
    [ -z "$(our_processes "$@")" ] && return 0
    sleep 0.05
  done
  return 1
}
detach() {
  if mountpoint -q "$mnt" 2>/dev/null; then
    umount "$mnt" 2>/dev/null || umount -l "$mnt" || true
  fi
  if [ -n "$loop_device" ]; then
    losetup -d "$loop_device" 2>/dev/null || true
    loop_device=""
  fi
}
crash_cleanup() {
  # A child forked for a background command holds the traps until it runs its program; a
  # signal in that moment must not make it clean up the test's folder.
  [ "$BASHPID" = "$$" ] || exit 1
  set +e
  [ -n "$app" ] && kill -KILL "$app" 2>/dev/null
  [ -n "$lane" ] && kill -KILL "$lane" 2>/dev/null
  kill_ours all
  detach
  # The temporary folder goes only when nothing is mounted in it any more: a removal
  # through a mount would reach into the file system rather than fail.
  if grep -qF " $work/" /proc/mounts; then
    echo "crash_safety_test: $work is left behind: something is still mounted in it" >&2
    work=$(mktemp -d)
  fi
  cleanup # the shared one: the display and window manager go, then the folder
}
trap crash_cleanup EXIT
trap 'exit 130' INT
trap 'exit 143' TERM
trap 'exit 129' HUP

# --- the loop device: there, or a clean skip --------------------------------------------------
# A 256 MiB image holds the source, an older destination and two results with room to spare.
truncate -s 256M "$image" || skip "can't make a 256 MiB image in $work"
mkfs.ext4 -q -F "$image" >"$logs/mkfs.log" 2>&1 || skip "mkfs.ext4 can't format an image"
mkdir "$mnt"
attach() { # MOUNT-OPTIONS
  loop_device=$(losetup --find --show "$image" 2>>"$logs/mount.log") || {
    loop_device=""
    return 1
  }
  mount -t ext4 -o "$1" "$loop_device" "$mnt" 2>>"$logs/mount.log"
}
# Unmounts, waiting for a process that still has a file open there to end.
release() {
  local _
  for _ in $(seq 100); do
    umount "$mnt" 2>>"$logs/mount.log" && break
    sleep 0.1
  done
  mountpoint -q "$mnt" && fail "can't unmount $mnt"
  losetup -d "$loop_device"
  loop_device=""
}
if [ "$power_cuts" -gt 0 ]; then
  attach defaults || { detach; skip "no loop device or no mount here ($(tail -n1 "$logs/mount.log"))"; }
  "$fs_shutdown" "$mnt" 2>>"$logs/mount.log" ||
    { detach; skip "ext4 can't be shut down here ($(tail -n1 "$logs/mount.log"))"; }
  release
fi

# --- the files --------------------------------------------------------------------------
# Six seconds of 640 x 480 MJPEG with stereo sound: about a second for the converter to
# decode and scale to 320 x 240, and as long again to compress. The older destination is
# another, smaller valid AVI file.
source_avi="$work/source.avi" old_avi="$work/old.avi"
ffmpeg -nostdin -v error -f lavfi -i testsrc2=size=640x480:rate=25 \
  -f lavfi -i sine=frequency=440:sample_rate=44100 -t 6 -ac 2 -c:v mjpeg -q:v 3 \
  -pix_fmt yuvj420p -c:a pcm_s16le "$source_avi" || fail "ffmpeg could not make the source"
ffmpeg -nostdin -v error -f lavfi -i testsrc=size=96x72:rate=10 -f lavfi -i sine=frequency=200 \
  -t 1 -c:v rawvideo -pix_fmt bgr24 -c:a pcm_s16le "$old_avi" ||
  fail "ffmpeg could not make the older file"
width=320 height=240
source_frames=$(ffprobe -v error -count_frames -select_streams v:0 \
  -show_entries stream=nb_read_frames -of csv=p=0 "$source_avi")
[ "$source_frames" = 150 ] || fail "the source has $source_frames frames, not 150"
ffmpeg -nostdin -v error -i "$source_avi" -map 0:a:0 -f s16le "$work/source.pcm" ||
  fail "ffmpeg could not decode the source's sound"
source_sound=$(md5sum <"$work/source.pcm")
source_samples=$(($(stat -c %s "$work/source.pcm") / 4))
source_sum=$(md5sum <"$source_avi")
old_sum=$(md5sum <"$old_avi")

# --- judging a destination ------------------------------------------------------------------
# Whether $1 is a whole result with video in one of the codecs $2 ("rawvideo|h264"): every
# frame and every sample decodes without a complaint, the video has the source's frame count
# at the job's size, and the sound is the source's, sample for sample (and so its length).
# Otherwise prints what is wrong. One decoding pass does it all: ffprobe -count_frames would
# decode the video a second time, and on a busy machine that doubles the test's time.
whole_result() {
  local file=$1 codecs=$2 video frames errors
  local scratch="$work/judged-${bin##*-}" # the lanes judge at the same time
  video=$(ffprobe -v error -select_streams v:0 -show_entries stream=codec_name,width,height \
    -of csv=p=0 "$file" 2>&1 | head -n3 | tr '\n' ' ')
  video=${video% }
  if ! [[ $video =~ ^($codecs),$width,$height$ ]]; then
    echo "video is '$video', not ($codecs),$width,$height"
    return 1
  fi
  rm -f "$scratch.pcm" "$scratch.frames"
  if ! ffmpeg -nostdin -v error -i "$file" -map 0:v:0 -f framecrc "$scratch.frames" \
    -map 0:a:0 -f s16le "$scratch.pcm" 2>"$scratch.err" || [ -s "$scratch.err" ]; then
    errors=$(head -c 300 "$scratch.err" | tr '\n' ' ')
    echo "does not decode cleanly: $errors"
    return 1
  fi
  frames=$(grep -c -v '^#' "$scratch.frames") || true
  if [ "$frames" != "$source_frames" ]; then
    echo "$frames frames decode, the source has $source_frames"
    return 1
  fi
  if [ "$(md5sum <"$scratch.pcm")" != "$source_sound" ]; then
    echo "its sound is $(($(stat -c %s "$scratch.pcm") / 4)) samples, not the source's" \
      "$source_samples"
    return 1
  fi
}

# The state of destination $1 after a crash, as "outcome" (absent, old, whole, partial) and,
# when that is not allowed, "problem" with what is wrong in "why". $2: the codecs a whole
# result may have; $3: whether the older file stood there before the job.
judge_destination() {
  local file=$1 codecs=$2 had_old=$3
  outcome="" problem="" why=""
  if [ ! -e "$file" ]; then
    outcome=absent
    if [ "$had_old" = 1 ]; then problem="the older destination is gone, nothing in its place"; fi
  elif [ "$had_old" = 1 ] && [ "$(md5sum <"$file")" = "$old_sum" ]; then
    outcome=old
  elif why=$(whole_result "$file" "$codecs"); then
    outcome=whole
  elif [ "$had_old" = 1 ]; then
    outcome=partial problem="the older destination was replaced by a broken file"
  else
    outcome=partial problem="a broken destination is left"
  fi
}

# --- counting -----------------------------------------------------------------------------
# One line for each event, appended by both lanes: "F|KIND|PROBLEM|DETAIL" for a failed check,
# "T|KIND|WHAT" for an outcome or other count.
counts="$work/counts"
: >"$counts"
record() { # KIND PROBLEM [DETAIL]
  local detail=${3:-}
  detail=${detail//$'\n'/ }
  detail=${detail%% }
  printf 'F|%s|%s|%s\n' "$1" "$2" "$detail" >>"$counts"
  echo "  FAILED ($1): $2${3:+: $3}"
}
tally() { # KIND WHAT
  printf 'T|%s|%s\n' "$1" "$2" >>"$counts"
}

# --- waiting on our processes -------------------------------------------------------------
# A pause without starting a process: a read with a time limit on a pipe nobody writes to.
mkfifo "$work/nap"
exec {nap_fd}<>"$work/nap"
nap() { read -r -t "$1" -u "$nap_fd" _ || true; }
microseconds() { # SECONDS (with up to six decimals)
  local whole=${1%.*} fraction=000000
  [[ $1 == *.* ]] && fraction=${1#*.}000000
  echo $((10#$whole * 1000000 + 10#${fraction:0:6}))
}
# Waits up to $2 seconds for our child $1 to end: true when it has ended (its exit status in
# "status"), false when the time ran out first. The shell collects an ended child at once,
# so the moment it is gone is seen within the next look; looks are 10 ms apart for the first
# second, then 100 ms. (bash's "wait -n" with a time-out process is no help: a child already
# collected is "no such job" to it.)
wait_child() {
  local pid=$1 start deadline
  start=${EPOCHREALTIME/./}
  deadline=$((start + $(microseconds "$2")))
  while kill -0 "$pid" 2>/dev/null; do
    [ "${EPOCHREALTIME/./}" -lt "$deadline" ] || return 1
    if [ $((${EPOCHREALTIME/./} - start)) -lt 1000000 ]; then nap 0.01; else nap 0.1; fi
  done
  status=0
  wait "$pid" 2>/dev/null || status=$?
}
# Kills our child $1 and collects it.
kill_child() {
  kill -KILL "$1" 2>/dev/null || true
  wait "$1" 2>/dev/null || true
}
# Whether process $1 is on its way out or has been told to go: a zombie, exiting, or with
# SIGKILL, SIGTERM, SIGHUP or SIGINT pending.
dying() {
  local line state flags fields
  read -r line 2>/dev/null <"/proc/$1/stat" || return 0
  read -r -a fields <<<"${line##*) }"
  state=${fields[0]} flags=${fields[6]}
  [[ $state == [ZX] ]] && return 0
  (((flags & 0x4) != 0)) && return 0 # PF_EXITING
  while read -r line; do
    if [[ $line == SigPnd:* || $line == ShdPnd:* ]] &&
      (((16#${line##*[[:space:]]} & 0x4103) != 0)); then
      return 0
    fi
  done 2>/dev/null <"/proc/$1/status"
  return 1
}
# Once the job's own process has ended, nothing of ours may go on. The kernel sends a child
# its death signal before it reports the parent's end, so one look tells: a process neither
# ending nor with a signal to end pending outlived its parent. The compressor was stopped
# (SIGSTOP) just before the kill, so a survivor can't finish its work before the look and
# pass for one that died; a stopped process still takes SIGKILL, and a pending SIGTERM shows.
# Then everything is let go on again: those told to end get up to 30 seconds for it (a
# signal handler tidying up, a disk wait). KIND names the job for the record.
check_no_survivors() {
  local kind=$1 pid exe survivors=""
  for pid in $(our_processes); do
    if ! dying "$pid"; then
      exe=$(readlink "/proc/$pid/exe" 2>/dev/null) || continue
      survivors+=" ${exe##*/}"
      kill -KILL "$pid" 2>/dev/null || true
    fi
  done
  [ -z "$survivors" ] || record "$kind" "a process outlived the killed job" "${survivors# }"
  for pid in $(our_processes); do kill -CONT "$pid" 2>/dev/null || true; done
  local deadline=$((SECONDS + 30))
  while [ -n "$(our_processes)" ] && [ "$SECONDS" -le "$deadline" ]; do nap 0.05; done
  if [ -n "$(our_processes)" ]; then
    record "$kind" "a process told to end did not end in 30 s"
    kill_ours || fail "processes of ours won't end: $(our_processes | tr '\n' ' ')"
  fi
}

# A random moment within the first $1 seconds, as seconds with three decimals.
random_moment() {
  local range_ms ms
  range_ms=$(awk -v s="$1" 'BEGIN { printf "%d", s * 1000 }')
  ms=$(((RANDOM << 15 | RANDOM) % (range_ms + 1)))
  printf '%d.%03d' $((ms / 1000)) $((ms % 1000))
}
seconds_since() { # EPOCHREALTIME
  awk -v s="$1" -v e="$EPOCHREALTIME" 'BEGIN { printf "%.2f", e - s }'
}

# --- the window ---------------------------------------------------------------------------
# Starts the window on SOURCE DESTINATION, types the size and presses Start; "app" is its
# process, "window" its window. Every wait is bounded: an xdotool --sync can wait forever.
start_window_job() {
  wait_windows_gone
  "$bin/reframe" "$1" "$2" >>"$logs/reframe.log" 2>&1 &
  app=$!
  window=$(visible_window '^Reframe [0-9.]*$' 60) || fail "the window did not appear"
  eventually sh -c "xprop -id $window _NET_FRAME_EXTENTS | grep -q '='" ||
    fail "the window got no frame"
  timeout 20 xdotool windowactivate --sync "$window" >/dev/null 2>&1 ||
    fail "the window could not be activated"
  eventually sh -c "[ \"\$(xdotool getactivewindow)\" = $window ]" ||
    fail "the window did not get the focus"
  type_field "$window" 165 99 "$width"
  type_field "$window" 165 129 "$height"
  xdotool mousemove --window "$window" 55 215 click 1
}
# Clicks into the field at client point $2,$3 of window $1 and replaces its text with $4.
# The X server hands the click and the keys to the program in the order they were made, and
# the click has moved the keyboard focus into the field before the first key is looked at,
# so no pause is needed between them (nor, with key repeat off, between the keys).
type_field() {
  xdotool mousemove --window "$1" "$2" "$3" click 1
  xdotool key --clearmodifiers ctrl+a
  xdotool type --delay 20 "$4"
}
# The id of the first visible window whose title matches $1, waiting up to $2 seconds while
# the program runs. (xdotool's own --sync looks only every half second, and can hang.)
visible_window() {
  local deadline=$((SECONDS + $2)) id
  while [ "$SECONDS" -le "$deadline" ]; do
    id=$(timeout 10 xdotool search --onlyvisible --name "$1" 2>/dev/null | head -n1) || true
    if [ -n "$id" ]; then
      echo "$id"
      return 0
    fi
    kill -0 "$app" 2>/dev/null || return 1
    nap 0.05
  done
  return 1
}
# The id of the first visible message box (Information or ERROR), waiting up to $1 seconds.
wait_box() {
  visible_window '^(Information|ERROR)$' "$1"
}
# Presses OK in box $1 and waits until it has gone; a box only just mapped may not take keys
# yet, so the key goes again while it is there.
press_ok() {
  local _ shown
  for _ in $(seq 30); do
    timeout 10 xdotool windowactivate --sync "$1" >/dev/null 2>&1 || true
    timeout 10 xdotool key --clearmodifiers space 2>/dev/null || true
    for _ in $(seq 10); do
      shown=$(timeout 10 xdotool search --onlyvisible --name '^(Information|ERROR)$' 2>/dev/null) ||
        true
      grep -qx "$1" <<<"$shown" || return 0
      nap 0.1
    done
  done
  fail "a message box did not close"
}
# Closes the window, which must end the program with exit code 0.
close_window() {
  close_with_keys "$window" "$app" 90
  wait_child "$app" 60 || fail "alt+F4 did not end the program"
  app=""
}
# Our windows go with their process; the next search must not find one on its way out.
wait_windows_gone() {
  eventually sh -c "! xdotool search --onlyvisible --name '^(Reframe [0-9.]*|Information|ERROR)\$'" ||
    fail "a window of a killed program is still shown"
}
# Runs a window job on SOURCE DESTINATION to its end; KIND names it for the record. Sets
# "job_seconds", from Start to the "Finished." box. ERROR boxes are answered and counted.
# With POWER_CUT set the file system goes down the moment the box shows.
window_job_to_end() {
  local kind=$1 box title started
  start_window_job "$2" "$3"
  started=$EPOCHREALTIME
  while :; do
    box=$(wait_box "$job_limit") || {
      wait_child "$app" 1 || kill_child "$app"
      app=""
      record "$kind" "the window ended or hung without \"Finished.\"" "exit status ${status:-?}"
      return 1
    }
    title=$(timeout 10 xdotool getwindowname "$box" 2>/dev/null) || title=""
    if [ "$title" = Information ]; then
      job_seconds=$(seconds_since "$started")
      if [ -n "${POWER_CUT:-}" ]; then cut_power; fi
      press_ok "$box"
      break
    fi
    record "$kind" "the window showed an ERROR box"
    press_ok "$box"
  done
  close_window
  [ "$status" = 0 ] || record "$kind" "the window ended with exit code $status"
}

# --- the converter ------------------------------------------------------------------------
convert_options() { # KIND
  case $1 in
    plain) options=(--size "${width}x$height") ;;
    overwrite) options=(--size "${width}x$height" --overwrite) ;;
    compress) options=(--size "${width}x$height" --compress) ;;
    overwrite-compress) options=(--size "${width}x$height" --overwrite --compress) ;;
  esac
}
codecs_of() { # KIND
  case $1 in
    plain | overwrite) echo rawvideo ;;
    compress | overwrite-compress) echo h264 ;;
    window) echo 'rawvideo|h264' ;;
  esac
}

# --- one kind of job, killed again and again -------------------------------------------------
# Each kind has its own folder with the source in it; the job writes clip.avi beside it.
prepare_folder() { # KIND
  folder="$work/$1"
  mkdir -p "$folder"
  cp "$source_avi" "$folder/source.avi"
  destination="$folder/clip.avi"
}
# The destination before a job: the older file (for --overwrite, and every other window
# job), or nothing. Sets "had_old".
set_destination() { # KIND ROUND
  rm -f "$destination"
  had_old=0
  if [ "$1" = overwrite ] || { [ "$1" = window ] && [ $(($2 % 2)) = 1 ]; }; then
    cp "$old_avi" "$destination"
    had_old=1
  fi
}
# Runs the job of KIND to its end (FOR names the record: a calibration or the next run),
# timing it in "job_seconds". False when it failed.
job_to_end() { # KIND FOR
  local started=$EPOCHREALTIME
  if [ "$1" = window ]; then
    window_job_to_end "$1" "$folder/source.avi" "$destination" || return 1
    return 0
  fi
  convert_options "$1"
  "$bin/reframe-convert" "${options[@]}" "$folder/source.avi" "$destination" \
    >>"$logs/convert.log" 2>&1 &
  local pid=$!
  wait_child "$pid" "$job_limit" || {
    kill_child "$pid"
    record "$1" "$2 did not end in $job_limit s"
    return 1
  }
  job_seconds=$(seconds_since "$started")
  if [ "$status" != 0 ]; then
    record "$1" "$2 failed with exit code $status" "$(tail -n1 "$logs/convert.log")"
    return 1
  fi
}
# Starts the job of KIND and kills it after $2 seconds (from Start for the window). Sets
# "compressing" when the compressor was running at the kill and "ended" when the job had ended
# by itself before.
kill_job_at() { # KIND SECONDS
  local pid
  if [ "$1" = window ]; then
    start_window_job "$folder/source.avi" "$destination"
    pid=$app
  else
    convert_options "$1"
    "$bin/reframe-convert" "${options[@]}" "$folder/source.avi" "$destination" \
      >>"$logs/convert.log" 2>&1 &
    pid=$!
  fi
  ended=0 compressing=0
  if wait_child "$pid" "$2"; then
    ended=1
    [ "$status" = 0 ] || record "$1" "the job failed by itself" "exit code $status"
  else
    # The compressor holds still while its parent is killed: see check_no_survivors.
    local compressor
    compressor=$(our_processes vidcrunch.exe)
    if [ -n "$compressor" ]; then
      compressing=1
      # shellcheck disable=SC2086  # one process id a word
      kill -STOP $compressor 2>/dev/null || true
    fi
    kill_child "$pid"
  fi
  app=""
}

# The leftovers in $folder besides the source and the destination, one name a line.
leftovers() {
  find "$folder" -mindepth 1 -maxdepth 1 ! -name source.avi ! -name clip.avi -printf '%f\n' |
    sort
}

kill_rounds() { # KIND
  local kind=$1 round moment codecs range
  codecs=$(codecs_of "$kind")
  prepare_folder "$kind"
  # One whole job first: the harness works, and the time a job takes here, now (a sanitizer
  # build or a busy machine is many times slower), spreads the kills over all of it.
  job_limit=600
  set_destination "$kind" 0
  job_to_end "$kind" "the first job" || fail "$kind: the first, undisturbed job failed"
  why=$(whole_result "$destination" "$codecs") || fail "$kind: the undisturbed job's result: $why"
  [ -z "$(leftovers)" ] || fail "$kind: the undisturbed job left $(leftovers | tr '\n' ' ')"
  # Every whole job refines the mean; the kills reach a fifth past it, so that some land
  # after the end (the Finished box showing, the converter's last moments).
  local total=$job_seconds jobs=1
  range=$(awk -v s="$job_seconds" 'BEGIN { printf "%.3f", s * 1.2 }')
  job_limit=$(awk -v s="$job_seconds" 'BEGIN { printf "%d", s * 20 + 60 }')
  echo "[$SECONDS s] $kind: a whole job takes ${job_seconds} s; $kills kills within the first $range s"
  for round in $(seq "$kills"); do
    set_destination "$kind" "$round"
    moment=$(random_moment "$range")
    kill_job_at "$kind" "$moment"
    tally "$kind" kills
    [ "$ended" = 1 ] && tally "$kind" "ended before the kill"
    [ "$compressing" = 1 ] && tally "$kind" "compressor running at the kill"
    check_no_survivors "$kind"
    [ "$kind" = window ] && wait_windows_gone
    [ "$(md5sum <"$folder/source.avi")" = "$source_sum" ] ||
      { record "$kind" "the source changed"; cp "$source_avi" "$folder/source.avi"; }
    judge_destination "$destination" "$codecs" "$had_old"
    tally "$kind" "$outcome"
    echo "  $kind kill $round at $moment s: destination $outcome$([ "$compressing" = 1 ] && echo ", compressing")"
    [ -z "$problem" ] || record "$kind" "$problem" "kill at $moment s${why:+: $why}"
    if [ "$kind" = window ] && [ -e "$folder/clip2.avi" ]; then
      if [ "$outcome" != whole ]; then
        record "$kind" "the compressed copy is left without a whole destination" \
          "kill at $moment s"
      elif why=$(whole_result "$folder/clip2.avi" h264); then
        tally "$kind" "whole compressed copy left beside it"
      else
        record "$kind" "a broken compressed copy clip2.avi is left" "kill at $moment s: $why"
      fi
      rm -f "$folder/clip2.avi" # as its owner would, before the next job
    fi
    # The next job in the folder finishes and takes the killed one's temporaries with it.
    # Without --overwrite the converter refuses an existing destination.
    case $kind in plain | compress) rm -f "$destination" ;; esac
    if job_to_end "$kind" "the next job"; then
      why=$(whole_result "$destination" "$codecs") ||
        record "$kind" "the next job's result is broken" "$why"
      total=$(awk -v t="$total" -v s="$job_seconds" 'BEGIN { print t + s }')
      jobs=$((jobs + 1))
      range=$(awk -v t="$total" -v n="$jobs" 'BEGIN { printf "%.3f", t / n * 1.2 }')
    fi
    if [ -n "$(leftovers)" ]; then
      record "$kind" "files are left after the next job" "$(leftovers | tr '\n' ' ')"
      find "$folder" -mindepth 1 -maxdepth 1 ! -name source.avi ! -name clip.avi -delete
    fi
  done
  echo "[$SECONDS s] $kind: done; a whole job took $(awk -v t="$total" -v n="$jobs" \
    'BEGIN { printf "%.2f", t / n }') s on average over $jobs"
}

# --- power cuts ---------------------------------------------------------------------------
cut_power() {
  "$fs_shutdown" "$mnt" 2>>"$logs/mount.log" || fail "the file system did not shut down"
}
# One job into the image mounted with OPTIONS, the power cut as it ends, and the check
# after the journal has replayed. KIND: plain, overwrite-compress or window.
power_cut_round() { # OPTIONS KIND
  local options_text=$1 kind=$2 label="power cut ($1)" codecs why had=0 ok=1
  codecs=$(codecs_of "$kind")
  [ "$kind" = window ] && codecs=h264 # the window said "Finished." with its compressor there
  attach "$options_text" || fail "can't mount the image with $options_text"
  folder="$mnt/job"
  rm -rf "$folder"
  mkdir "$folder"
  cp "$source_avi" "$folder/source.avi"
  destination="$folder/clip.avi"
  if [ "$kind" = overwrite-compress ]; then cp "$old_avi" "$destination"; had=1; fi
  # What stood there before the job is on the disk for good.
  sync -f "$folder/source.avi"
  job_limit=600
  if [ "$kind" = window ]; then
    POWER_CUT=1 window_job_to_end "$label" "$folder/source.avi" "$destination" || ok=0
  else
    convert_options "$kind"
    "$bin/reframe-convert" "${options[@]}" "$folder/source.avi" "$destination" \
      >>"$logs/convert.log" 2>&1 &
    local pid=$!
    wait_child "$pid" "$job_limit" || { kill_child "$pid"; fail "$kind did not end in $job_limit s"; }
    cut_power
    [ "$status" = 0 ] ||
      { ok=0; record "$label" "$kind failed with exit code $status" "$(tail -n1 "$logs/convert.log")"; }
  fi
  release
  attach "$options_text" || fail "the image does not mount again after the power cut"
  [ "$(md5sum <"$folder/source.avi" 2>/dev/null)" = "$source_sum" ] ||
    record "$label" "the source changed"
  if [ "$ok" = 1 ]; then
    tally "$label" "cuts"
    if [ ! -e "$destination" ]; then
      outcome=absent
      record "$label" "$kind: the destination is missing"
    elif [ "$had" = 1 ] && [ "$(md5sum <"$destination")" = "$old_sum" ]; then
      outcome=old
      record "$label" "$kind: the older destination is still there"
    elif why=$(whole_result "$destination" "$codecs"); then
      outcome=whole
    else
      outcome=partial
      record "$label" "$kind: the destination is broken" "$why"
    fi
    tally "$label" "$kind $outcome"
    echo "  $kind: destination $outcome after the power cut"
  fi
  release
}

# --- the run ------------------------------------------------------------------------------
echo "crash safety, $mode: $kills kills of each kind, $power_cuts power cuts of each job" \
  "on each mount; CRASH_SAFETY_SEED=$seed"
window_kinds=() convert_kinds=()
for kind in "${kinds[@]}"; do
  if [ "$kind" = window ]; then window_kinds+=("$kind"); else convert_kinds+=("$kind"); fi
done
if [ ${#window_kinds[@]} -gt 0 ] || [ "$power_cuts" -gt 0 ]; then start_display; fi
# Two lanes side by side, each with its own programs and folders: the converter's kinds in
# the background, the window's here. Most of a window job is spent waiting on the display,
# which leaves the converter a core. Each lane has its own random moments.
if [ ${#convert_kinds[@]} -gt 0 ]; then
  (
    bin="$work/bin-convert"
    RANDOM=$((seed + 1))
    for kind in "${convert_kinds[@]}"; do kill_rounds "$kind"; done
  ) &
  lane=$!
fi
for kind in "${window_kinds[@]}"; do kill_rounds "$kind"; done
if [ -n "$lane" ]; then
  status=0
  wait "$lane" || status=$?
  lane=""
  [ "$status" = 0 ] || fail "the converter's lane stopped (exit code $status)"
fi
bin="$work/bin-power"
for options_text in defaults noauto_da_alloc; do
  for round in $(seq "$power_cuts"); do
    echo "[$SECONDS s] power cut $round, mounted with $options_text"
    for kind in plain overwrite-compress window; do power_cut_round "$options_text" "$kind"; done
  done
done

# --- the counts ---------------------------------------------------------------------------
echo
echo "=== results (CRASH_SAFETY_SEED=$seed, ${SECONDS} s) ==="
labels=("${kinds[@]}")
if [ "$power_cuts" -gt 0 ]; then labels+=("power cut (defaults)" "power cut (noauto_da_alloc)"); fi
for label in "${labels[@]}"; do
  awk -F'|' -v label="$label" '
    $2 != label { next }
    $1 == "T" { if (!($3 in seen)) order[++n] = $3; seen[$3]++ }
    $1 == "F" { if (!($3 in failed)) { problems[++m] = $3; first[$3] = $4 } failed[$3]++; total++ }
    END {
      line = ""
      for (i = 1; i <= n; i++) line = line (i > 1 ? ", " : "") order[i] " " seen[order[i]]
      printf "%s: %s; failed checks: %d\n", label, line, total
      for (i = 1; i <= m; i++) {
        p = problems[i]
        printf "  %d x %s%s\n", failed[p], p, first[p] != "" ? " (first: " first[p] ")" : ""
      }
    }' "$counts"
done
failures=$(grep -c '^F|' "$counts") || true
if [ "$failures" -gt 0 ]; then
  echo "FAIL: $failures failed checks"
  exit 1
fi
echo PASS
