#!/usr/bin/env bash
# The window on a screen of 150 % (144 dpi): the program declares itself aware of each
# monitor's dpi, so Windows does not stretch a 96-dpi bitmap of it; the window itself grows,
# its client area and every control by half again, and its texts with the font.
# usage: window_dpi_test.sh BUILD_WINEPREFIX WINDOW_PROBE REFRAME_EXE [SCREENSHOT.png]
set -euo pipefail
template=$1
window_probe=$2
reframe_exe=$3
screenshot=${4:-}

work=$(mktemp -d)
# shellcheck source=wine_window_session.sh
source "$(dirname "$0")/wine_window_session.sh"
# shellcheck source=reframe_window.sh
source "$(dirname "$0")/reframe_window.sh"

start_wine_session "$template"
# Wine takes the screen's dpi from the registry when its server starts.
wine reg add 'HKCU\Control Panel\Desktop' /v LogPixels /t REG_DWORD /d 144 /f >"$work/reg.log" 2>&1 ||
  fail "the dpi could not be set"
wineserver -k 2>/dev/null || true
timeout 20 wineserver -w || fail "Wine's server did not end"
install_programs "$work/programs" "$reframe_exe"
start_reframe "$work/programs/reframe.exe"

read -r client_width client_height _ <<<"$(fact "$layout" client)"
[ "$client_width x $client_height" = "600 x 375" ] ||
  fail "at 144 dpi the client area is ${client_width}x$client_height, not 600x375: $layout"
# Places scale with the window: the Start button (10,190 90x50 at 96 dpi), the progress bar
# (110,220 280x20) and a check box (245,150 130x20; 367.5 rounds up).
[ "$(fact "$layout" "control $StartButton" | cut -d' ' -f2-)" = "15 285 135 75" ] ||
  fail "the Start button is at $(fact "$layout" "control $StartButton")"
[ "$(fact "$layout" "control $ProgressBar" | cut -d' ' -f2-)" = "165 330 420 30" ] ||
  fail "the progress bar is at $(fact "$layout" "control $ProgressBar")"
[ "$(fact "$layout" "control $NoOtherStreamsBox" | cut -d' ' -f2-)" = "368 225 195 30" ] ||
  fail "the last check box is at $(fact "$layout" "control $NoOtherStreamsBox")"
# The window still works: typing into a field at its new place.
fill_field "$WidthField" 640
if [ -n "$screenshot" ]; then
  import -window "$window" "$screenshot" 2>/dev/null || true
fi
close_reframe
echo "window at 144 dpi: ${client_width}x$client_height, controls scaled, exit code 0"
