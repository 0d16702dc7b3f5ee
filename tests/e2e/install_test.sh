#!/usr/bin/env bash
# Installs the build into a temporary prefix and runs one job with the installed tool: the
# result can only be H.264 if the installed tool found and ran the installed compressor.
# usage: install_test.sh BUILD_DIR
set -euo pipefail
build=$1

work=$(mktemp -d)
fail() {
  echo "FAIL: $*" >&2
  for log in "$work"/*.log; do [ -f "$log" ] && { echo "--- $log" >&2; tail -n 30 "$log" >&2; }; done
  exit 1
}
# shellcheck source=../xvfb_session.sh
source "$(dirname "$0")/../xvfb_session.sh"

prefix="$work/prefix"
cmake --install "$build" --prefix "$prefix" >"$work/install.log" 2>&1 || fail "cmake --install failed"
for program in reframe vidcrunch.exe reframe-convert; do
  [ -x "$prefix/bin/$program" ] || fail "$prefix/bin/$program was not installed"
  [ -s "$prefix/share/man/man1/$program.1" ] || fail "no manual page for $program"
  man -l "$prefix/share/man/man1/$program.1" >/dev/null 2>&1 || fail "the manual page of $program does not format"
done
id=$(sed -n 's/^Icon=//p' "$prefix"/share/applications/*.desktop)
[ -n "$id" ] || fail "no desktop file in share/applications"
[ -f "$prefix/share/applications/$id.desktop" ] || fail "the desktop file is not named after the id $id"
[ -f "$prefix/share/metainfo/$id.metainfo.xml" ] || fail "no metainfo for $id"
[ -f "$prefix/share/icons/hicolor/scalable/apps/$id.svg" ] || fail "no scalable icon"
for size in 16 32 48 64 128 256; do
  icon=$prefix/share/icons/hicolor/${size}x${size}/apps/$id.png
  [ "$(identify -format '%wx%h' "$icon" 2>/dev/null)" = "${size}x${size}" ] || fail "icon $icon is not ${size}x${size}"
done
desktop-file-validate "$prefix/share/applications/$id.desktop" || fail "installed desktop file"
appstreamcli validate --no-net --pedantic "$prefix/share/metainfo/$id.metainfo.xml" >/dev/null ||
  fail "installed metainfo"

start_display
make_source "$work/src.avi"
# The job runs from elsewhere, so only the tool's own folder can lead it to the compressor.
mkdir "$work/elsewhere"
cd "$work/elsewhere"
run_job "$prefix/bin/reframe" "$work/src.avi" "$work/out.avi" 80 60
codec=$(probe "$work/out.avi" v:0 codec_name)
[ "$codec" = h264 ] || fail "the installed tool left '$codec' video, not h264"
[ ! -e "$work/out2.avi" ] || fail "the compressor's copy was left behind"
# The installed command-line converter finds the installed compressor the same way.
"$prefix/bin/reframe-convert" --size 40x30 --compress "$work/src.avi" "$work/cli.avi" 2>"$work/cli.log" ||
  fail "installed reframe-convert failed"
[ "$(probe "$work/cli.avi" v:0 codec_name)" = h264 ] || fail "installed reframe-convert did not compress"
echo "PASS"
