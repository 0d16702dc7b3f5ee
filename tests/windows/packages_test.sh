#!/usr/bin/env bash
# The Windows packages under Wine, in a scratch copy of the build's Wine prefix (so that runs
# leave the build's prefix and each other alone). The installer installs silently into a folder
# of our choosing and into Program Files; what it installs are the build's programs, they
# convert a file through the compressor beside them, the window program starts; the shortcut
# and the registry entries are there, in the 64-bit view; its uninstaller then takes away every
# file, shortcut and registry key the installer added. The portable archive holds one folder,
# which runs from wherever it is unpacked.
# usage: packages_test.sh SETUP ZIP VERSION WINDOWS_BIN BUILD_WINEPREFIX
set -euo pipefail
setup=$1
zip=$2
version=$3
windows_bin=$4
build_prefix=$5
programs=(reframe.exe reframe-convert.exe vidcrunch.exe)
source_dir=$(cd "$(dirname "$0")/../.." && pwd)

work=$(mktemp -d)
# shellcheck source=wine_window_session.sh
source "$(dirname "$0")/wine_window_session.sh"
for file in "$setup" "$zip"; do
  [ -f "$file" ] || fail "no $file"
done
start_wine_session "$build_prefix"
# winemenubuilder would turn the shortcut and the .avi verb into menu entries and file types of
# the Linux desktop, in the home folder: outside the prefix and beyond the uninstaller's reach.
export WINEDLLOVERRIDES="$WINEDLLOVERRIDES;winemenubuilder.exe=d"
drive_c=$WINEPREFIX/drive_c

has_key() { wine reg query "$1" >/dev/null 2>&1; }
# The data of value $2 of key $1 ("" for the key's default value); fails if it is not there.
reg_value() {
  local out name=$2 option=(/v "$2")
  [ -n "$name" ] || { name='(Default)'; option=(/ve); }
  out=$(wine reg query "$1" "${option[@]}" 2>/dev/null | tr -d '\r') || return 1
  awk -v name="$name" '$1 == name && $2 ~ /^REG_/ { sub(/^ *[^ ]+ +REG_[A-Z_]+ +/, ""); print; f = 1 }
                       END { exit !f }' <<<"$out"
}
expect_value() { # KEY NAME DATA
  local got
  got=$(reg_value "$1" "$2") || fail "no value '$2' in $1"
  [ "$got" = "$3" ] || fail "$1 '$2' is '$got', not '$3'"
}
# Every registry key of the prefix and every file on its C: drive, once Wine has written the
# registry out (when its server ends). The users' Temp folders are left out: the uninstaller
# runs from a copy of itself there, which Windows deletes at the next restart.
snapshot() {
  timeout 60 wineserver --wait || fail "Wine did not end"
  grep -h '^\[' "$WINEPREFIX/system.reg" "$WINEPREFIX/user.reg" | sed 's/\] [0-9]*$/]/' |
    sort >"$work/$1.keys"
  (cd "$drive_c" && find . -path './users/*/Temp' -prune -o -print | sort) >"$work/$1.files"
}
same_as_before() { # WHAT: the prefix is as it was before the first install
  snapshot after
  diff "$work/before.keys" "$work/after.keys" >&2 || fail "$1: registry keys differ"
  diff "$work/before.files" "$work/after.files" >&2 || fail "$1: files differ"
}
only_files() { # FOLDER, then the names expected in it
  local folder=$1 want got
  shift
  want=$(printf '%s\n' "$@" | sort)
  got=$(cd "$folder" && find . -mindepth 1 -printf '%P\n' | sort)
  [ "$got" = "$want" ] || fail "in $folder: ${got//$'\n'/ }; expected: ${want//$'\n'/ }"
}
same_programs() { # FOLDER: its programs are the build's, its licence text is COPYING
  for program in "${programs[@]}"; do
    cmp -s "$1/$program" "$windows_bin/$program" || fail "$1/$program is not the build's"
  done
  tr -d '\r' <"$1/COPYING.txt" | cmp -s - "$source_dir/COPYING" || fail "$1/COPYING.txt is not COPYING"
}
# Runs reframe-convert.exe at Windows path $1 on the sample, with the compressor: MJPEG in the
# result shows that it found vidcrunch.exe beside itself.
converts() {
  rm -f "$work/converted.avi"
  timeout 120 wine "$1" --size 80x60 --compress=mjpeg --progress=none "$(win_path "$work/sample.avi")" \
    "$(win_path "$work/converted.avi")" >"$work/convert.log" 2>&1 || fail "$1 did not convert"
  [ "$(probe "$work/converted.avi" v:0 codec_name),$(probe "$work/converted.avi" v:0 width)" = mjpeg,80 ] ||
    fail "$1 wrote no 80 pixels wide MJPEG"
}

make_source "$work/sample.avi"
# Nothing of Reframe in the prefix yet.
for key in 'HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall\Reframe' \
  'HKLM\Software\Classes\Applications\reframe.exe'; do
  ! has_key "$key" || fail "$key is there before the install"
done
snapshot before

# --- started without /S its window opens; ended there, it leaves nothing ------------------
wine_start setup "$setup"
setup_pid=$started
# The pages' own titles are blanks after this one: MUI puts a space in their place.
wait_window "Reframe $version Setup ?" >/dev/null
# Ended rather than cancelled, which asks for a confirmation: nothing is installed before the
# page that copies the files either way.
timeout 20 wine taskkill /f /im "$(basename "$setup")" >/dev/null 2>&1 || fail "taskkill failed"
timeout 20 tail --pid="$setup_pid" -f /dev/null || fail "the installer did not end"
same_as_before "after ending the installer on its first page"

# --- a silent install into a folder of our choosing ------------------------------------------
uninstall_key='HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall\Reframe'
verb_key='HKLM\Software\Classes\SystemFileAssociations\.avi\shell\Reframe'
application_key='HKLM\Software\Classes\Applications\reframe.exe'
shortcut="$drive_c/ProgramData/Microsoft/Windows/Start Menu/Programs/Reframe.lnk"
dir='C:\ReframeTest'
timeout 180 wine "$setup" /S "/D=$dir" || fail "the silent install failed"
only_files "$drive_c/ReframeTest" "${programs[@]}" COPYING.txt uninstall.exe
same_programs "$drive_c/ReframeTest"
converts "$dir\\reframe-convert.exe"

# The uninstall entry, in the 64-bit view only.
! has_key 'HKLM\Software\WOW6432Node\Microsoft\Windows\CurrentVersion\Uninstall\Reframe' ||
  fail "the uninstall entry is in the 32-bit registry view"
expect_value "$uninstall_key" DisplayName Reframe
expect_value "$uninstall_key" DisplayVersion "$version"
expect_value "$uninstall_key" InstallLocation "$dir"
expect_value "$uninstall_key" UninstallString "\"$dir\\uninstall.exe\""
expect_value "$uninstall_key" QuietUninstallString "\"$dir\\uninstall.exe\" /S"
expect_value "$uninstall_key" NoModify 0x1
expect_value "$uninstall_key" NoRepair 0x1
expect_value "$uninstall_key" DisplayIcon "$dir\\reframe.exe,0"
# EstimatedSize, in KiB: what the files take, rounded up by less than a KiB a file.
size=$(reg_value "$uninstall_key" EstimatedSize) || fail "no EstimatedSize"
bytes=0
for file in "${programs[@]}" COPYING.txt; do
  bytes=$((bytes + $(stat -c %s "$drive_c/ReframeTest/$file")))
done
if [ $((size * 1024)) -lt "$bytes" ] || [ $((size * 1024)) -gt $((bytes + 1024 * (${#programs[@]} + 1))) ]; then
  fail "EstimatedSize is $((size)) KiB for $bytes bytes"
fi

# The Start-menu shortcut for all users, and the .avi verb with its command line as Explorer
# runs it: the file's path in quotes, in place of %1.
[ -f "$shortcut" ] || fail "no shortcut in the Start menu"
grep -aq 'C:\\ReframeTest\\reframe.exe' "$shortcut" || fail "the shortcut leads elsewhere"
command="\"$dir\\reframe.exe\" \"%1\""
expect_value "$verb_key" "" "Open with Reframe"
expect_value "$verb_key" Icon "$dir\\reframe.exe,0"
expect_value "$verb_key\\command" "" "$command"
expect_value "$application_key" FriendlyAppName Reframe
expect_value "$application_key\\shell\\open\\command" "" "$command"
reg_value "$application_key\\SupportedTypes" .avi >/dev/null || fail "no .avi in SupportedTypes"

# The installed window program, started with a file as the .avi verb starts it, closes cleanly.
wine_start reframe "$dir\\reframe.exe" "$(win_path "$work/sample.avi")"
app=$started
wait_window "Reframe $version" >/dev/null
# taskkill without /f asks the window to close, as its close box does.
timeout 20 wine taskkill /im reframe.exe >/dev/null 2>&1 || fail "taskkill failed"
# Waited for here, not in a subshell, which cannot wait for this shell's child.
timeout 20 tail --pid="$app" -f /dev/null || fail "the window program did not end"
status=0
wait "$app" || status=$?
[ "$status" = 0 ] || fail "the window program ended with exit code $status"

# The uninstaller hands over to a copy of itself and returns at once; the prefix's Wine server
# ends only once that copy has ended too, so waiting for the server waits for the uninstall.
timeout 120 wine "$dir\\uninstall.exe" /S || fail "the uninstaller did not start"
same_as_before "after the uninstall"

# --- the default folder: 64-bit Program Files ------------------------------------------------
timeout 180 wine "$setup" /S || fail "the silent install into the default folder failed"
only_files "$drive_c/Program Files/Reframe" "${programs[@]}" COPYING.txt uninstall.exe
[ ! -e "$drive_c/Program Files (x86)/Reframe" ] || fail "installed into Program Files (x86)"
expect_value "$uninstall_key" InstallLocation 'C:\Program Files\Reframe'
# Started as Settings starts it: the quiet command line from the entry, a quoted path and /S.
quiet=$(reg_value "$uninstall_key" QuietUninstallString) || fail "no QuietUninstallString"
[[ $quiet =~ ^\"([^\"]+)\"\ /S$ ]] || fail "QuietUninstallString is $quiet"
timeout 120 wine "${BASH_REMATCH[1]}" /S || fail "the uninstaller did not start"
same_as_before "after the uninstall from Program Files"

# --- the portable archive, unpacked into a folder with a space, nothing installed ------------
folder="reframe-$version"
entries=$(cmake -E tar tf "$zip" | grep -v "/$" | sort)
want=$(printf '%s\n' "${programs[@]}" COPYING.txt README.txt | sed "s|^|$folder/|" | sort)
[ "$entries" = "$want" ] || fail "the archive holds ${entries//$'\n'/ }; expected ${want//$'\n'/ }"
mkdir "$work/any folder"
(cd "$work/any folder" && cmake -E tar xf "$zip") || fail "the archive does not unpack"
same_programs "$work/any folder/$folder"
grep -q "Reframe $version" "$work/any folder/$folder/README.txt" || fail "README.txt names no version"
converts "$(win_path "$work/any folder/$folder/reframe-convert.exe")"

echo "PASS: installed into $dir and Program Files, uninstalled without a trace; the archive runs"
