#!/usr/bin/env bash
# Runs one Windows test program that makes real windows: under Wine, in a Wine prefix and on a
# virtual display of its own, so that its windows and dialogs meet no other test's.
# usage: run_on_display.sh BUILD_WINE_PREFIX PROGRAM.exe [ARG...]
set -euo pipefail
template=$1
shift
work=$(mktemp -d)
# shellcheck source=wine_window_session.sh
source "$(dirname "$0")/wine_window_session.sh"
start_wine_session "$template"
status=0
wine "$@" 2>&1 | tr -d '\r' || status=$?
exit "$status"
