#!/usr/bin/env bash
# The Debian package from build to purge. scripts/package-debian.sh builds it and lintian
# passes it; apt installs it with its dependencies; the installed files are all in place and
# pass the desktop's validators; the window, started by name as its launcher does, runs a job
# under Xvfb that ends compressed, and the converter converts; "apt-get purge" then leaves
# none of the package's files behind and takes it out of the desktop's "Open With" list.
# The install and purge change the running system: they need root, and are skipped (exit 77)
# without it or when a reframe package, or files where it would put its own, are there
# already.
# usage: package_test.sh SOURCE_DIR OUT_DIR
set -euo pipefail
source_dir=$1
out=$2

work=$(mktemp -d)
# shellcheck source=../xvfb_session.sh
source "$(dirname "$0")/../xvfb_session.sh"
# shellcheck source=../installed_tree.sh
source "$(dirname "$0")/../installed_tree.sh"
skip() { echo "SKIP: $*"; exit 77; }
installed() { dpkg-query -W -f='${Status}' reframe 2>/dev/null | grep -q ' installed$'; }

deb=$(bash "$source_dir/scripts/package-debian.sh" "$out" | tail -n1) ||
  fail "the package did not build or lintian refused it"
[ -f "$deb" ] || fail "no package at '$deb'"
echo "built and passed lintian: $deb ($(stat -c %s "$deb") bytes)"

[ "$(id -u)" = 0 ] || skip "installing the package needs root"
! installed || skip "a reframe package is installed already; this test would replace and purge it"
dpkg-deb --fsys-tarfile "$deb" | tar -t | sed 's|^\./|/|; s|/$||' | grep -v '^$' >"$work/contents"
while read -r path; do
  if [ -L "$path" ] || { [ -e "$path" ] && [ ! -d "$path" ]; }; then
    skip "$path is there already (another install of Reframe?)"
  fi
done <"$work/contents"

# From here on the machine is changed: whatever happens, the package goes again.
trap 'if installed; then apt-get purge -y -qq reframe >/dev/null 2>&1 || true; fi; cleanup' EXIT
trap 'exit 143' TERM INT
# A package manager busy elsewhere (an unattended upgrade, say) is waited for, not failed on.
apt_get() { DEBIAN_FRONTEND=noninteractive apt-get -o DPkg::Lock::Timeout=120 -y -qq "$@"; }
apt_get install --no-install-recommends "$deb" >"$work/apt-install.log" 2>&1 || fail "apt-get install $deb failed"
installed || fail "apt-get install did not leave reframe installed"
dpkg -L reframe | sort >"$work/owned"
for program in reframe reframe-convert; do
  grep -qx "/usr/bin/$program" "$work/owned" || fail "dpkg -L lacks /usr/bin/$program"
  [ "$(command -v "$program")" = "/usr/bin/$program" ] || fail "$program is not found on PATH"
done

check_installed_tree /usr
id=local.reframe.reframe
if [ -f /usr/share/applications/mimeinfo.cache ]; then
  grep -q "^video/x-msvideo=.*$id.desktop" /usr/share/applications/mimeinfo.cache ||
    fail "the desktop's Open With list does not offer Reframe for AVI files"
fi

# The launcher runs "reframe" by name (Exec=reframe %f); so does the test.
start_display
check_installed_programs reframe reframe-convert "$work"
echo "the installed window's job and the installed converter's file both came out compressed"
# People are not root: an ordinary account runs the installed converter and its compressor.
chmod 755 "$work"
mkdir -m 777 "$work/user"
(cd "$work/user" && runuser -u nobody -- reframe-convert --size 40x30 --compress --progress=none \
  "$work/src.avi" "$work/user/nobody.avi") >"$work/nobody.log" 2>&1 ||
  fail "reframe-convert failed for an ordinary user"
[ "$(stat -c %U "$work/user/nobody.avi")" = nobody ] || fail "the user's file is not theirs"
[ "$(probe "$work/user/nobody.avi" v:0 codec_name)" = h264 ] ||
  fail "the compressor did not run for an ordinary user"

apt_get purge reframe >"$work/apt-purge.log" 2>&1 ||
  fail "apt-get purge reframe failed"
! installed || fail "reframe is still installed after the purge"
! dpkg-query -W reframe >/dev/null 2>&1 || fail "dpkg still has a record of reframe after the purge"
left=()
while read -r path; do
  if [ -L "$path" ] || { [ -e "$path" ] && [ ! -d "$path" ]; }; then
    left+=("$path")
  elif [ -d "$path" ] && ! dpkg-query -S "$path" >/dev/null 2>&1 &&
    [ -z "$(ls -A "$path")" ]; then
    # A folder no package owns any more and nothing fills: the package's own, left over.
    left+=("$path/")
  fi
done <"$work/owned"
[ ${#left[@]} = 0 ] || fail "left behind after the purge: ${left[*]}"
compgen -G '/var/lib/dpkg/info/reframe.*' >/dev/null && fail "dpkg's files on reframe remain"
if [ -f /usr/share/applications/mimeinfo.cache ]; then
  ! grep -q "$id.desktop" /usr/share/applications/mimeinfo.cache ||
    fail "the Open With list still offers Reframe after the purge"
fi
echo "purged: none of the $(wc -l <"$work/owned") paths dpkg listed is left"
echo PASS
