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
source "$(dirname "$0")/../xvfb_session.sh"

prefix="$work/prefix"
cmake --install "$build" --prefix "$prefix" >"$work/install.log" 2>&1 || fail "cmake --install failed"
for program in reframe vidcrunch.exe; do
  [ -x "$prefix/bin/$program" ] || fail "$prefix/bin/$program was not installed"
done

start_display
make_source "$work/src.avi"
# The job runs from elsewhere, so only the tool's own folder can lead it to the compressor.
mkdir "$work/elsewhere"
cd "$work/elsewhere"
run_job "$prefix/bin/reframe" "$work/src.avi" "$work/out.avi" 80 60
codec=$(probe "$work/out.avi" v:0 codec_name)
[ "$codec" = h264 ] || fail "the installed tool left '$codec' video, not h264"
[ ! -e "$work/out2.avi" ] || fail "the compressor's copy was left behind"
echo "PASS"
