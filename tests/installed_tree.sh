# shellcheck shell=bash
# Shared by the install tests: what an installed Reframe must hold under a prefix, whether
# "cmake --install" put it there or the Debian package did. Source it after
# xvfb_session.sh (for "fail").

# The programs in PREFIX/libexec/reframe/, reached from PREFIX/bin/ through relative links
# (the compressor only there, outside PATH), a formatted manual page for each, the desktop
# entry and metainfo passing their validators, and the icon at every size.
check_installed_tree() {
  local prefix=$1 program target
  for program in reframe reframe-convert vidcrunch.exe; do
    if [ ! -x "$prefix/libexec/reframe/$program" ] || [ -L "$prefix/libexec/reframe/$program" ]; then
      fail "$prefix/libexec/reframe/$program was not installed"
    fi
    [ -s "$prefix/share/man/man1/$program.1" ] || [ -s "$prefix/share/man/man1/$program.1.gz" ] ||
      fail "no manual page for $program"
    man -l "$prefix/share/man/man1/$program".1* >/dev/null 2>&1 ||
      fail "the manual page of $program does not format"
  done
  for program in reframe reframe-convert; do
    target=$(readlink "$prefix/bin/$program") || fail "$prefix/bin/$program is not a link"
    [ "$target" = "../libexec/reframe/$program" ] || fail "$prefix/bin/$program leads to $target"
  done
  [ ! -e "$prefix/bin/vidcrunch.exe" ] || fail "the compressor is in $prefix/bin"
  local id
  id=$(sed -n 's/^Icon=//p' "$prefix"/share/applications/local.reframe.*.desktop)
  [ -n "$id" ] || fail "no desktop file in share/applications"
  [ -f "$prefix/share/applications/$id.desktop" ] || fail "the desktop file is not named after the id $id"
  [ -f "$prefix/share/metainfo/$id.metainfo.xml" ] || fail "no metainfo for $id"
  [ -f "$prefix/share/icons/hicolor/scalable/apps/$id.svg" ] || fail "no scalable icon"
  local size icon
  for size in 16 32 48 64 128 256; do
    icon=$prefix/share/icons/hicolor/${size}x${size}/apps/$id.png
    [ "$(identify -format '%wx%h' "$icon" 2>/dev/null)" = "${size}x${size}" ] ||
      fail "icon $icon is not ${size}x${size}"
  done
  desktop-file-validate "$prefix/share/applications/$id.desktop" || fail "installed desktop file"
  appstreamcli validate --no-net --pedantic "$prefix/share/metainfo/$id.metainfo.xml" >/dev/null ||
    fail "installed metainfo"
  [ -s "$prefix/share/doc/reframe/screenshot.png" ] || fail "no screenshot in share/doc/reframe"
}

# One job through the installed window and one through the installed converter, both run
# from an unrelated folder: the results can only be H.264 if each program found the
# installed compressor beside its own resolved path. Needs start_display first.
# usage: check_installed_programs REFRAME REFRAME_CONVERT WORK_DIR
check_installed_programs() {
  local reframe=$1 convert=$2 dir=$3
  make_source "$dir/src.avi"
  mkdir -p "$dir/elsewhere"
  (
    cd "$dir/elsewhere"
    run_job "$reframe" "$dir/src.avi" "$dir/out.avi" 80 60
  ) || exit 1
  local codec
  codec=$(probe "$dir/out.avi" v:0 codec_name)
  [ "$codec" = h264 ] || fail "the installed tool left '$codec' video, not h264"
  [ "$(probe "$dir/out.avi" v:0 width)x$(probe "$dir/out.avi" v:0 height)" = 80x60 ] ||
    fail "the installed tool's result is not 80x60"
  [ ! -e "$dir/out2.avi" ] || fail "the compressor's copy was left behind"
  (cd "$dir/elsewhere" && "$convert" --size 40x30 --compress "$dir/src.avi" "$dir/cli.avi") \
    2>"$dir/cli.log" || fail "installed reframe-convert failed"
  [ "$(probe "$dir/cli.avi" v:0 codec_name)" = h264 ] || fail "installed reframe-convert did not compress"
  [ "$(probe "$dir/cli.avi" a:0 codec_name)" = pcm_s16le ] || fail "installed reframe-convert lost the sound"
}
