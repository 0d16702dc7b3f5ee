# shellcheck shell=bash
# Shared by the window tests of the Windows build: runs Windows programs under Wine on the
# virtual display of xvfb_session.sh and drives their windows with the mouse and keyboard.
# Source it after setting "work" to a temporary folder, then call start_wine_session with the
# build's Wine prefix.
#
# Each test runs in a Wine prefix of its own (a copy of the build's), and so with a wineserver,
# a desktop and an explorer.exe of its own: the build's prefix is shared by every other Windows
# test, and one server for two tests would hand the window probe the other test's windows and
# tie the desktop's X connection to whichever test's display came first (and died first).

: "${work:?set work to a temporary folder before sourcing wine_window_session.sh}"
# shellcheck source=../xvfb_session.sh
source "$(dirname "${BASH_SOURCE[0]}")/../xvfb_session.sh"

# The Wine programs go first: they hold X connections to the display that cleanup ends.
wine_cleanup() {
  if [ -n "${WINEPREFIX:-}" ] && [ -d "$WINEPREFIX" ]; then
    wineserver -k 2>/dev/null || true
    timeout 20 wineserver -w 2>/dev/null || true
  fi
  cleanup
}
trap wine_cleanup EXIT

# Makes $work/prefix from the build's prefix $1 and starts the display. The folders that hold
# only Wine's own binaries are hard links (a full copy is some 700 MB and ten seconds); the
# rest is copied, since Wine rewrites files in place that have more than one link (the
# server its registry files, the profile code win.ini). Updating the prefix, which Wine does
# by itself after an upgrade of Wine, would rewrite the linked binaries in place, under the
# build's prefix: "disable" in .update-timestamp tells wineboot not to.
start_wine_session() {
  local template=$1
  [ -f "$template/system.reg" ] || fail "no Wine prefix at $template (run scripts/build-windows.sh)"
  export WINEPREFIX="$work/prefix"
  mkdir -p "$WINEPREFIX/drive_c/windows"
  local item
  for item in "$template"/*; do
    [ "$(basename "$item")" = drive_c ] || cp -a "$item" "$WINEPREFIX/"
  done
  echo disable >"$WINEPREFIX/.update-timestamp"
  for item in "$template"/drive_c/*; do
    [ "$(basename "$item")" = windows ] || cp -a "$item" "$WINEPREFIX/drive_c/"
  done
  for item in "$template"/drive_c/windows/*; do
    case $(basename "$item") in
      system32 | syswow64 | winsxs) cp -al "$item" "$WINEPREFIX/drive_c/windows/" ;;
      *) cp -a "$item" "$WINEPREFIX/drive_c/windows/" ;;
    esac
  done
  export WINEDEBUG=-all
  # Without Mono and Gecko Wine would offer to download them in a dialog of its own.
  export WINEDLLOVERRIDES=mscoree,mshtml=
  start_display
  # The server and the desktop start with the first program; started here, their start-up
  # does not count against the first window's wait.
  wine cmd /c exit >"$work/wine-start.log" 2>&1 || fail "Wine does not run in $WINEPREFIX"
}

# Gives Linux folder $2 the drive letter $1 in the test's prefix (a link in dosdevices, which
# Wine reads as it resolves each path).
map_drive() {
  ln -s "$2" "$WINEPREFIX/dosdevices/${1,,}:"
}

# Z:\ form of an absolute Linux path (Wine's Z: drive is the root folder).
win_path() {
  local path=$1
  printf 'Z:%s\n' "${path//\//\\}"
}

# Starts a Windows program under Wine in the background: wine_start LOG PROGRAM [ARG...].
# Its pid (whose exit code is the program's) is left in "started".
started=
wine_start() {
  local log=$1
  shift
  wine "$@" >>"$work/$log.log" 2>&1 &
  started=$!
  pids+=("$started")
}

# Waits up to $2 seconds for process $1 to end and leaves its exit code in "exit_code". (Not
# printed: in a command substitution's subshell the process is no child to wait for.)
# shellcheck disable=SC2034  # read by the tests
wait_exit() {
  timeout "${2:-20}" tail --pid="$1" -f /dev/null || fail "process $1 did not end"
  exit_code=0
  wait "$1" || exit_code=$?
}

# Waits until window $1 has its frame from the window manager (the frame extents are set).
wait_frame() {
  eventually sh -c "xprop -id $1 _NET_FRAME_EXTENTS | grep -q '='" || fail "window $1 got no frame"
}

# Makes window $1 the active one. xdotool's --sync wait hangs now and then under Wine, so
# each wait is cut short and the activation asked for again until the window is active.
activate() {
  local _
  for _ in 1 2 3 4 5 6; do
    timeout 5 xdotool windowactivate --sync "$1" >/dev/null 2>&1 || true
    [ "$(xdotool getactivewindow 2>/dev/null)" = "$1" ] && return 0
    sleep 0.2
  done
  fail "window $1 could not be activated"
}

# The screen position of window $1's top-left corner: "X Y".
window_origin() {
  xwininfo -id "$1" | awk '/Absolute upper-left X/ {x = $NF} /Absolute upper-left Y/ {y = $NF}
    END {print x, y}'
}

# Moves the pointer to screen point $1,$2 and waits until it is there.
point_at() {
  xdotool mousemove "$1" "$2"
  eventually sh -c "xdotool getmouselocation | grep -q '^x:$1 y:$2 '" || fail "the pointer did not move"
}

# Clicks at client point $2,$3 of window $1 (the X window of a Wine top-level is its client
# area: the frame is the window manager's).
click_in() {
  local x y
  read -r x y < <(window_origin "$1")
  point_at $((x + $2)) $((y + $3))
  xdotool click 1
}

# Presses keys (xdotool key names) in the active window.
press() {
  xdotool key --clearmodifiers "$@"
}

# Types text into the active window. Key repeat is off on the display, so a slow machine
# cannot double the letters. The text goes through a file so that one beginning with "-"
# is not taken for an option.
type_text() {
  printf '%s' "$1" | xdotool type --delay 40 --file -
}

# Clicks the close box of openbox's frame around window $1: the right end of the title bar.
click_close_box() {
  local x y width right top
  read -r x y < <(window_origin "$1")
  width=$(xwininfo -id "$1" | awk '/^ *Width:/ {print $NF}')
  read -r _ right top _ < <(xprop -id "$1" _NET_FRAME_EXTENTS | sed 's/.*= //; s/,//g')
  point_at $((x + width + right - top / 2 - 2)) $((y - top / 2))
  xdotool click 1
}

# Drags files from the Linux build's drag source (the program $drag_source names) onto client
# point $2,$3 of window $1 with the mouse button held down across both windows, as from a
# file manager: drag_files_onto WINDOW X Y FILE... Wine turns the X drop into WM_DROPFILES.
drag_files_onto() {
  local target=$1 x=$2 y=$3
  shift 3
  : "${drag_source:?set drag_source to the drag source program of the Linux build}"
  "$drag_source" 600 400 "$@" >"$work/drag.log" 2>&1 &
  local drag=$!
  pids+=("$drag")
  local from
  from=$(wait_window "drag source" 20)
  wait_frame "$from"
  local fx fy tx ty
  read -r fx fy < <(window_origin "$from")
  read -r tx ty < <(window_origin "$target")
  point_at $((fx + 60)) $((fy + 40))
  xdotool mousedown 1
  # Qt starts a drag only once the pointer has moved a few pixels with the button down, and
  # the target learns of the drag from the pointer's path over it.
  local step
  for step in 5 10 20 30; do
    xdotool mousemove $((fx + 60 + step)) $((fy + 40 + step))
    sleep 0.1
  done
  for step in 1 2 3; do
    xdotool mousemove $((tx + x - 3 + step)) $((ty + y))
    sleep 0.2
  done
  xdotool mousemove $((tx + x)) $((ty + y))
  sleep 0.3
  xdotool mouseup 1
  timeout 10 tail --pid="$drag" -f /dev/null || fail "the drag did not end"
  grep -q "drag ended: 1" "$work/drag.log" ||
    fail "the drop was not taken as a copy: $(cat "$work/drag.log")"
}

# Runs the window probe (the program $window_probe names) in the test's Wine prefix:
# run_probe main TITLE_PREFIX | dialog | list. See window_probe.cpp for what it prints.
run_probe() {
  : "${window_probe:?set window_probe to the window_probe.exe of the Windows build}"
  timeout 20 wine "$window_probe" "$@" 2>>"$work/probe.log"
}

# The rest of line "$2 ..." in probe output $1 (the key ends at a space: "text 1" is not
# "text 15").
fact() {
  grep -m1 "^$2 " <<<"$1" | cut -c$((${#2} + 2))-
}

# Waits until the probe, run with arguments $3..., reports "$2" for key $1.
expect_probe() {
  local key=$1 want=$2 got='' output _
  shift 2
  for _ in $(seq 25); do
    output=$(run_probe "$@") || output=
    got=$(fact "$output" "$key")
    [ "$got" = "$want" ] && return 0
    sleep 0.2
  done
  echo "$output" >&2
  fail "$key: expected '$want', got '$got'"
}

# Waits until no visible window is titled $1 (a regular expression).
wait_gone() {
  local _
  for _ in $(seq 100); do
    [ -n "$(visible_windows "$1")" ] || return 0
    sleep 0.1
  done
  fail "the window '$1' is still there"
}

# Answers a message box: waits up to $3 seconds (60 unless given) for the box titled $1,
# requires its message to be exactly $2 and its one button to be OK, clicks that button and
# waits until the box has gone.
answer_ok() {
  local title=$1 message=$2 box output x y width height _
  box=$(wait_window "$title" "${3:-60}")
  wait_frame "$box"
  expect_probe message "$message" dialog
  output=$(run_probe dialog) || fail "the '$title' box went away by itself"
  [ "$(fact "$output" title)" = "$title" ] || fail "the box is titled '$(fact "$output" title)'"
  [ "$(fact "$output" "text 1")" = OK ] || fail "the '$title' box has no OK button: $output"
  [ "$(grep -c '^control [0-9]* Button ' <<<"$output")" = 1 ] ||
    fail "the '$title' box has more than one button: $output"
  read -r _ x y width height < <(fact "$output" "control 1")
  act_until "OK in the '$title' box" "window_shown $box" "! window_shown $box" \
    "activate $box && click_in $box $((x + width / 2)) $((y + height / 2))" 60
  wait_gone "$title"
}

# Follows the top-level window whose title begins with $1 in the background (window_probe
# watch) until it closes, logging each change with its time to $work/watch.log.
start_watch() {
  : >"$work/watch.log"
  wine "$window_probe" watch "$1" >"$work/watch.log" 2>>"$work/probe.log" &
  pids+=("$!")
}
# The values fact $1 ("state 0", "text 1", "dialog") has had in the watch so far, a line each.
watched() {
  grep "^[0-9]* $1 " "$work/watch.log" | cut -d' ' -f$(($(wc -w <<<"$1") + 2))-
}
