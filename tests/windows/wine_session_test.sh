#!/usr/bin/env bash
# The window tests' footing, on Wine's own Notepad: a Windows window found on the virtual
# display, clicked and typed into, its Open dialog answered with a Z:\ path, a file dragged
# in from a Linux program (X drag and drop, which Wine hands over as WM_DROPFILES), a message
# box read and answered by its button, and the close box ending the program with code 0.
# If this fails, the window tests of the tool cannot mean anything.
# usage: wine_session_test.sh BUILD_WINEPREFIX WINDOW_PROBE DRAG_SOURCE
set -euo pipefail
template=$1
window_probe=$2
drag_source=$3

work=$(mktemp -d)
# shellcheck source=wine_window_session.sh
source "$(dirname "$0")/wine_window_session.sh"

start_wine_session "$template"
mkdir "$work/notes"
printf 'first file\r\n' >"$work/notes/first one.txt"
printf 'second file\r\n' >"$work/notes/zweite Grüße.txt"

wine_start notepad notepad
notepad=$started
window=$(wait_window 'Untitled - Notepad' 60)
wait_frame "$window"
activate "$window"

# The Open dialog takes a typed Z:\ path in its name field, which has the focus.
press ctrl+o
dialog=$(wait_window 'Open' 20)
wait_frame "$dialog"
activate "$dialog"
expect_probe title "Open" dialog
expect_probe focus 1148 dialog
type_text "$(win_path "$work/notes/first one.txt")"
press Return
wait_window 'first one.txt - Notepad' 20 >/dev/null
expect_probe "text 0" "first file^M^J" main "first one.txt"

# A drop replaces the open file (the window is unchanged, so no question is asked); the
# name's letters outside ASCII come through the drop and back out of the probe as UTF-8.
drag_files_onto "$window" 300 200 "$work/notes/zweite Grüße.txt"
wait_window 'zweite Grüße.txt - Notepad' 20 >/dev/null
expect_probe "text 0" "second file^M^J" main "zweite Grüße.txt"

# Typing reaches the edit field where it was clicked. (Only ASCII: xdotool types other
# letters through keys it maps for the moment, and Wine reads the key map once at start.)
click_in "$window" 300 200
press ctrl+End
type_text "typed"
expect_probe "text 0" "second file^M^Jtyped" main "zweite Grüße.txt"

# The close box now asks about the changes in a message box; its "No" button, clicked where
# the probe says it is, ends Notepad without saving.
act_until "Notepad's close box" "window_shown $window" \
  "timeout 5 xdotool search --onlyvisible --name '^Notepad\$'" "click_close_box $window" 60
box=$(wait_window 'Notepad' 20)
wait_frame "$box"
output=$(run_probe dialog) || fail "the probe sees no message box"
[[ $(fact "$output" message) == *"zweite Grüße.txt"* ]] ||
  fail "the box's message is '$(fact "$output" message)'"
read -r _ x y width height < <(fact "$output" "control 7")
[ -n "$height" ] || fail "the box has no No button: $output"
activate "$box"
click_in "$box" $((x + width / 2)) $((y + height / 2))
wait_exit "$notepad" 20
[ "$exit_code" = 0 ] || fail "Notepad's exit code is $exit_code"
grep -q "^second file" "$work/notes/zweite Grüße.txt" || fail "the file was changed"
! grep -q typed "$work/notes/zweite Grüße.txt" || fail "the file was saved"
echo "PASS"
