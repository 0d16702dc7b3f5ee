#!/usr/bin/env bash
# How long the window takes to appear: from starting the program to its main window being
# mapped (viewable) on a virtual display with a window manager. Polls with xdotool, which
# itself takes a few milliseconds a call, so the figures are upper bounds by that much.
#
#   bench/window_start_bench.sh PATH/TO/reframe [STARTS]
set -euo pipefail
program=${1:?usage: window_start_bench.sh PATH/TO/reframe [STARTS]}
starts=${2:-5}
work=$(mktemp -d)
fail() { echo "window_start_bench: $*" >&2; exit 1; }
# shellcheck source=tests/xvfb_session.sh
source "$(dirname "$0")/../tests/xvfb_session.sh"
start_display

now_ms() { date +%s%3N; }
times=()
for ((i = 0; i < starts; i++)); do
  begin=$(now_ms)
  "$program" >>"$work/reframe.log" 2>&1 &
  app=$!
  until xdotool search --onlyvisible --name '^Reframe [0-9.]*$' >/dev/null 2>&1; do
    kill -0 "$app" 2>/dev/null || fail "the program ended before its window appeared"
    (($(now_ms) - begin < 20000)) || fail "no window within 20 s"
  done
  times+=($(($(now_ms) - begin)))
  kill "$app"
  wait "$app" 2>/dev/null || true
done
sorted=$(printf '%s\n' "${times[@]}" | sort -n)
best=$(head -n1 <<<"$sorted")
median=$(sed -n "$(((starts + 1) / 2))p" <<<"$sorted")
echo "window shown after (ms): ${times[*]}; best $best, median $median (goal: within 300)"
