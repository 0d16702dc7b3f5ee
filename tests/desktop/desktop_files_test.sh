#!/usr/bin/env bash
# The desktop entry and the AppStream metainfo as a desktop installs them: both validators
# pass (pedantic, without the network), they agree on the application id, and the entry
# opens AVI files with the tool.
# usage: desktop_files_test.sh BUILD_DESKTOP_DIR APP_ID
set -euo pipefail
dir=$1
id=$2
fail() { echo "FAIL: $*" >&2; exit 1; }

desktop=$dir/$id.desktop
desktop-file-validate "$desktop" || fail "desktop-file-validate refused $desktop"
for metainfo in "$dir/$id.metainfo.xml" "$dir/with-screenshots/$id.metainfo.xml"; do
  out=$(appstreamcli validate --no-net --pedantic "$metainfo" 2>&1) || fail "appstreamcli: $out"
  ! grep -qE '^(E|W):' <<<"$out" || fail "appstreamcli warns: $out"
done
grep -qx "Exec=reframe %f" "$desktop" || fail "Exec line"
grep -qx "MimeType=video/x-msvideo;video/avi;video/msvideo;" "$desktop" || fail "MimeType line"
grep -qx "Icon=$id" "$desktop" || fail "Icon line"
grep -q "<launchable type=\"desktop-id\">$id.desktop</launchable>" "$dir/$id.metainfo.xml" || fail "launchable"
grep -q "<image>https://example.org/reframe/screenshot.png</image>" "$dir/with-screenshots/$id.metainfo.xml" ||
  fail "no screenshot in the test metainfo"
echo PASS
