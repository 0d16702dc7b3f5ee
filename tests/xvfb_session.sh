# shellcheck shell=bash
# Shared by the window tests: a virtual display with a window manager, clean-up of what the
# test started, and helpers for driving the real window with the mouse and keyboard. Source
# it after setting "work" to a temporary folder. A test may define its own "fail"; the one given
# here prints the message and the end of every log in the folder.

: "${work:?set work to a temporary folder before sourcing xvfb_session.sh}"
if ! declare -F fail >/dev/null; then
  fail() {
    echo "FAIL: $*" >&2
    for log in "$work"/*.log "$work"/*/*.log; do
      [ -f "$log" ] && { echo "--- $log" >&2; tail -n 30 "$log" >&2; }
    done
    exit 1
  }
fi
# A command that fails outside every check ends a test through set -e without a word; under
# load that leaves a failed run with an empty log. This names the command and its place. Only
# the test's own shell speaks: failures inside $(...) are the caller's to judge.
set -o errtrace
# shellcheck disable=SC2154  # assigned inside the trap itself
trap 'failed_with=$?; [ "$BASH_SUBSHELL" = 0 ] &&
  echo "FAIL: stopped at ${BASH_SOURCE[0]##*/}:$LINENO by: $BASH_COMMAND (status $failed_with)" >&2' ERR
pids=()
cleanup() {
  for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
  wait 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT

# libxkbcommon, which Qt uses on X11, hands strndup() buffers that are not NUL-terminated
# (legal: strndup stops at the length). AddressSanitizer's strict string checks read past
# the length and would stop the program before its window opens.
if [ -n "${ASAN_OPTIONS:-}" ]; then export ASAN_OPTIONS="$ASAN_OPTIONS:strict_string_checks=0"; fi

# Retries a command for up to about 10 seconds.
eventually() {
  for _ in $(seq 100); do "$@" >/dev/null 2>&1 && return 0; sleep 0.1; done
  return 1
}

# Every visible top-level window that has a title, one id a line, sorted.
titled_windows() {
  timeout 10 xdotool search --onlyvisible --name '.' 2>/dev/null | sort
}

# Whether window $1 is still mapped on the screen.
window_shown() {
  timeout 10 xwininfo -id "$1" 2>/dev/null | grep -q 'Map State: IsViewable'
}

# The one way a window test acts: act_until WHAT TARGET EFFECT ACTION [SECONDS [TRY]]. TARGET,
# EFFECT and ACTION are command texts. It waits until TARGET holds (the window, box or field
# is there), does ACTION once, and waits for EFFECT until a deadline of SECONDS (60 unless
# given). ACTION is done again only when EFFECT has not come within TRY seconds (4), TARGET
# still holds and no window has come up since the first try: on a loaded display a key or a
# click is lost now and then, but pressing again blindly could answer a box that the first
# press brought up and so hide a failure. Never a fixed sleep: each wait ends as soon as what
# it waits for is there.
act_until() {
  local what=$1 target=$2 effect=$3 action=$4 deadline=$((SECONDS + ${5:-60})) try=${6:-4}
  local before after new try_end
  while ! eval "$target" >/dev/null 2>&1; do
    [ "$SECONDS" -lt "$deadline" ] || fail "$what: nothing to act on"
    sleep 0.05
  done
  before=$(titled_windows)
  for ((;;)); do
    eval "$action" >/dev/null 2>&1 || true
    try_end=$((SECONDS + try))
    while [ "$SECONDS" -lt "$try_end" ] || [ "$SECONDS" -lt "$deadline" ]; do
      eval "$effect" >/dev/null 2>&1 && return 0
      # Past the try's own few seconds, act again only while the target is still there.
      if [ "$SECONDS" -ge "$try_end" ] && eval "$target" >/dev/null 2>&1; then break; fi
      sleep 0.05
    done
    [ "$SECONDS" -lt "$deadline" ] || fail "$what: no effect within the deadline"
    after=$(titled_windows)
    new=$(comm -13 <(echo "$before") <(echo "$after"))
    if [ -n "$new" ]; then
      local id titles=''
      for id in $new; do titles+="'$(xdotool getwindowname "$id" 2>/dev/null)' "; done
      fail "$what: a window came up instead of the effect: $titles"
    fi
    echo "$what: no effect yet, acting again" >&2
  done
}

# Closes window $1 of program $2 with alt+F4 and waits until the program has ended.
close_with_keys() {
  act_until "alt+F4 on window $1" "window_shown $1" "! kill -0 $2" \
    "xdotool windowactivate --sync $1 && xdotool key --clearmodifiers alt+F4" "${3:-60}"
}

# Waits until window $1 has stopped moving: the window manager places and frames a new window
# in steps, and a look at its position in between would see it half placed.
wait_settled() {
  local last='' now _
  for _ in $(seq 100); do
    now=$(timeout 10 xwininfo -id "$1" 2>/dev/null | grep -E 'Absolute|Width|Height' | tr -d ' \n')
    [ -n "$now" ] && [ "$now" = "$last" ] && return 0
    last=$now
    sleep 0.1
  done
  fail "window $1 did not settle"
}

# Without key repeat: on a busy machine xdotool can be held up between pressing a key and
# letting it go for longer than the repeat delay, and "320" would arrive as "33320".
start_display() {
  Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp -r 3>"$work/display" 2>"$work/xvfb.log" &
  pids+=("$!")
  eventually test -s "$work/display" || fail "Xvfb did not start"
  DISPLAY=":$(head -n1 "$work/display")"
  export DISPLAY
  unset WAYLAND_DISPLAY QT_QPA_PLATFORM
  export XDG_RUNTIME_DIR="$work/runtime"
  mkdir -m 700 "$XDG_RUNTIME_DIR"
  # openbox can lose the race with a display that is not yet taking connections.
  eventually xdpyinfo || fail "the display does not answer"
  local wm
  for _ in 1 2 3; do
    openbox >>"$work/openbox.log" 2>&1 &
    wm=$!
    if eventually sh -c "xprop -root _NET_SUPPORTING_WM_CHECK | grep -q 'window id'"; then
      pids+=("$wm")
      return 0
    fi
    kill "$wm" 2>/dev/null || true
  done
  fail "openbox did not start"
}

# Prints the ids of the visible windows titled exactly $1 (a regular expression), one a line,
# nothing when there is none. xdotool ends with an X error (BadWindow) when a window goes away
# while it looks through them, as Wine's windows do when a dialog closes: such a look says
# nothing either way and is made again, so a window is never missed, nor taken for gone, by a
# race. Fails only when X can't be asked at all.
visible_windows() {
  local answer status _
  for _ in $(seq 20); do
    status=0
    answer=$(timeout 5 xdotool search --onlyvisible --name "^$1\$" 2>&1) || status=$?
    # An answer: ids (status 0), or none (status 1, nothing printed). Anything else, an X
    # error's report among it, is no answer.
    if [ "$status" = 0 ] && ! grep -q 'Error' <<<"$answer"; then
      grep -E '^[0-9]+$' <<<"$answer" || true
      return 0
    fi
    [ "$status" = 1 ] && [ -z "$answer" ] && return 0
    sleep 0.1
  done
  fail "X could not be asked for the windows titled '$1'"
}

# Waits up to $2 seconds (60 unless given) for a visible top-level window titled exactly $1 (a
# regular expression) and prints its id.
wait_window() {
  local id deadline=$((SECONDS + ${2:-60}))
  while [ "$SECONDS" -le "$deadline" ]; do
    id=$(visible_windows "$1" | head -n1)
    [ -n "$id" ] && { echo "$id"; return 0; }
    sleep 0.2
  done
  fail "no window '$1' appeared"
}

# Clicks into a field at client coordinates $2,$3 of window $1 and replaces its text with $4.
# The X server hands the click and the keys to the program in the order they were made, and
# the click has moved the keyboard focus into the field before the first key is looked at, so
# no pause is needed between them.
type_into() {
  xdotool mousemove --window "$1" "$2" "$3" click 1
  xdotool key --clearmodifiers ctrl+a
  xdotool type --delay 40 "$4"
}

# Answers the message box titled $1 with its OK button (Space presses the focused button)
# and waits until it has gone; waits up to $2 seconds (120 unless given) for the box.
answer_box() {
  local box
  box=$(wait_window "$1" "${2:-120}")
  act_until "OK in the '$1' box" "window_shown $box" "! window_shown $box" \
    "xdotool windowactivate --sync $box && xdotool key --clearmodifiers space" 60
}

# One job: PROGRAM SOURCE DESTINATION WIDTH HEIGHT [BOX...]. Starts the program with the two
# paths, scales to WIDTH x HEIGHT with Start, answers each named box in order (the last is
# always "Information"), closes the window and requires exit code 0.
# Each box is awaited for job_wait seconds (120 unless set): long jobs need more. A caller
# that defines before_close gets the program's pid once the job is over and before the window
# closes, to read what only the running process can tell (its peak memory, say).
run_job() {
  local program=$1 source=$2 destination=$3 width=$4 height=$5
  shift 5
  "$program" "$source" "$destination" >>"$work/reframe.log" 2>&1 &
  local app=$!
  pids+=("$app")
  local window
  window=$(wait_window 'Reframe [0-9.]*' 20)
  eventually sh -c "xprop -id $window _NET_FRAME_EXTENTS | grep -q '='" || fail "no frame extents"
  wait_settled "$window"
  xdotool windowactivate --sync "$window"
  type_into "$window" 165 99 "$width"
  type_into "$window" 165 129 "$height"
  xdotool mousemove --window "$window" 55 215 click 1
  local box
  for box in "$@" Information; do answer_box "$box" "${job_wait:-120}"; done
  if declare -F before_close >/dev/null; then before_close "$app"; fi
  close_with_keys "$window" "$app"
  local status=0
  wait "$app" || status=$?
  [ "$status" = 0 ] || fail "exit code $status after the job on $destination"
}

# The stream's property $3 (codec_name, width...) of stream $2 (v:0, a:0) in file $1.
probe() {
  ffprobe -v error -select_streams "$2" -show_entries "stream=$3" -of csv=p=0 "$1" 2>/dev/null |
    head -n1
}
# Frames actually decoded from the first video stream.
frame_count() {
  ffprobe -v error -count_frames -select_streams v:0 -show_entries stream=nb_read_frames \
    -of csv=p=0 "$1" 2>/dev/null | head -n1
}

make_source() {
  ffmpeg -v error -f lavfi -i testsrc2=size=160x120:rate=25 -f lavfi -i sine=frequency=440 \
    -t 2 -c:v rawvideo -pix_fmt bgr24 -c:a pcm_s16le "$1" || fail "ffmpeg could not make $1"
}
