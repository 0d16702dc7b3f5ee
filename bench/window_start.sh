#!/usr/bin/env bash
# How long the window takes to appear on Linux and on Windows under Wine: from starting the
# program to its main window being mapped on a virtual display with a window manager,
# alternating (Linux, Windows, Linux, ...) so that load from other work falls on both alike,
# best of STARTS each, and the ratio. Wine's server and desktop are kept running, as in a
# session where Wine is already in use, so its own boot is not counted; its per-process
# start-up is. Polls with xdotool, which takes a few milliseconds a call.
#
#   bench/window_start.sh build/bin build-windows [STARTS]
set -euo pipefail
linux_bin=${1:?usage: window_start.sh LINUX_BIN WINDOWS_BUILD [STARTS]}
windows_build=${2:?usage: window_start.sh LINUX_BIN WINDOWS_BUILD [STARTS]}
starts=${3:-5}
[ -x "$linux_bin/reframe" ] || { echo "window_start: no $linux_bin/reframe" >&2; exit 1; }
[ -f "$windows_build/bin/reframe.exe" ] ||
  { echo "window_start: no $windows_build/bin/reframe.exe" >&2; exit 1; }

work=$(mktemp -d)
fail() { echo "window_start: $*" >&2; exit 1; }
# shellcheck source=../tests/windows/wine_window_session.sh
source "$(dirname "$0")/../tests/windows/wine_window_session.sh"
start_wine_session "$windows_build/wineprefix"
# The session's server goes, and a persistent one takes its place with a fresh desktop.
wineserver -k
wineserver -w
wineserver -p
wine cmd /c exit >/dev/null 2>&1 || fail "Wine does not start again"

now_ms() { date +%s%3N; }
# Starts PROGRAM [ARG...], prints the milliseconds until its window is mapped, and ends it.
time_start() {
  local begin app
  begin=$(now_ms)
  "$@" >>"$work/program.log" 2>&1 &
  app=$!
  until xdotool search --onlyvisible --name '^Reframe [0-9.]*$' >/dev/null 2>&1; do
    kill -0 "$app" 2>/dev/null || fail "$1 ended before its window appeared"
    (($(now_ms) - begin < 30000)) || fail "no window of $1 within 30 s"
  done
  echo $(($(now_ms) - begin))
  kill "$app"
  wait "$app" 2>/dev/null || true
  wait_gone 'Reframe [0-9.]*'
}

linux_times=()
windows_times=()
for ((i = 0; i < starts; i++)); do
  linux_times+=("$(time_start "$linux_bin/reframe")")
  windows_times+=("$(time_start wine "$windows_build/bin/reframe.exe")")
done
best() { printf '%s\n' "$@" | sort -n | head -n1; }
linux_best=$(best "${linux_times[@]}")
windows_best=$(best "${windows_times[@]}")
echo "Linux window shown after (ms): ${linux_times[*]}; best $linux_best"
echo "Windows window under Wine shown after (ms): ${windows_times[*]}; best $windows_best"
awk -v w="$windows_best" -v l="$linux_best" 'BEGIN { printf "Wine / Linux: %.2fx\n", w / l }'
