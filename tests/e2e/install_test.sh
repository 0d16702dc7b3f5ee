#!/usr/bin/env bash
# Installs the build into a temporary prefix and runs one job with each installed program:
# the results can only be H.264 if the installed programs found the installed compressor.
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
# shellcheck source=../installed_tree.sh
source "$(dirname "$0")/../installed_tree.sh"

prefix="$work/prefix"
cmake --install "$build" --prefix "$prefix" >"$work/install.log" 2>&1 || fail "cmake --install failed"
check_installed_tree "$prefix"
# Every installed file is in the manifest, the links too, so it can be removed again.
sort "$build/install_manifest.txt" >"$work/manifest"
find "$prefix" ! -type d | sort | diff - "$work/manifest" >&2 ||
  fail "install_manifest.txt does not list exactly the installed files"

# A second prefix staged under DESTDIR, as package builds do, and then moved: the relative
# links still lead to the programs.
DESTDIR="$work/stage" cmake --install "$build" --prefix /opt/reframe >"$work/stage.log" 2>&1 ||
  fail "cmake --install with DESTDIR failed"
mv "$work/stage/opt/reframe" "$work/moved"
check_installed_tree "$work/moved"

start_display
check_installed_programs "$prefix/bin/reframe" "$work/moved/bin/reframe-convert" "$work"
echo "PASS"
