# shellcheck shell=bash
# The tool's own window under Wine, for the window tests: starting reframe.exe, reaching its
# controls by their numbers, filling fields and closing it. Source it after
# wine_window_session.sh, with window_probe set.

# The control numbers (dialog ids) of the main window, as app/shell_state.h gives them.
# shellcheck disable=SC2034  # each test uses some of them
readonly ProgressBar=0 StatusLine=1 StartButton=2 NoOtherStreamsBox=3 NoAudioStreamsBox=4 \
  NoVideoStreamsBox=5 HeightField=6 WidthField=7 HeightLabel=8 WidthLabel=9 AntiAliasingBox=10 \
  OptionsFrame=11 DestinationBrowseButton=12 SourceBrowseButton=13 DestinationField=14 \
  SourceField=15 DestinationLabel=16 SourceLabel=17

# What the probe reads from the main window now. One probe can miss now and then on a loaded
# machine (Wine slow to start it, the window list read while a dialog goes away): a few tries
# before giving up.
main_facts() {
  local output _
  for _ in 1 2 3 4 5; do
    output=$(run_probe main "Reframe ") && { echo "$output"; return 0; }
    sleep 0.5
  done
  fail "the probe finds no Reframe window"
}
# Waits until the main window's fact $1 ("text 15", "focus", "state 10"...) reads $2.
expect_main() {
  expect_probe "$1" "$2" main "Reframe "
}

# Starts PROGRAM [ARG...] (a reframe.exe) under Wine and waits for its window: sets "app" (the
# pid, whose exit code is the program's), "window" (the X window) and "layout" (the probe's
# first look, for the controls' places).
start_reframe() {
  wine_start reframe "$@"
  # shellcheck disable=SC2154  # wine_start sets it
  app=$started
  window=$(wait_window 'Reframe [0-9.]*' 60)
  wait_frame "$window"
  layout=$(main_facts)
  activate "$window"
}

# Clicks the middle of control $1 of the main window.
click_control() {
  local x y width height _
  read -r _ x y width height < <(fact "$layout" "control $1")
  [ -n "$height" ] || fail "no control $1 in the window: $layout"
  click_in "$window" $((x + width / 2)) $((y + height / 2))
}

# Replaces the text of field $1 by typing $2 into it, and waits until the field holds $3 (what
# the field keeps of the typing; $2 unless given).
fill_field() {
  click_control "$1"
  press End shift+Home BackSpace
  type_text "$2"
  expect_main "text $1" "${3-$2}"
}

# Ends the program with the close box of its frame and requires exit code 0.
close_reframe() {
  act_until "the close box" "window_shown $window" "! kill -0 $app" \
    "timeout 5 xdotool windowactivate --sync $window; click_close_box $window" 60
  wait_exit "$app" 20
  # shellcheck disable=SC2154  # wait_exit sets it
  [ "$exit_code" = 0 ] || fail "exit code $exit_code after the close box"
}

# A folder of programs as a user would have installed them: the REFRAME_EXE alone, or with
# COMPRESSOR beside it as vidcrunch.exe: install_programs FOLDER REFRAME_EXE [COMPRESSOR].
install_programs() {
  mkdir -p "$1"
  cp "$2" "$1/reframe.exe"
  if [ -n "${3:-}" ]; then cp "$3" "$1/vidcrunch.exe"; fi
}
