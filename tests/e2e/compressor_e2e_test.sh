#!/usr/bin/env bash
# The tool and its compressor together, driven through the real window on a virtual display:
# the compressed copy replacing the destination, a failing compressor leaving the
# uncompressed file, a missing compressor reported, and copy names that must not collide
# with the destination or with the user's own files.
# usage: compressor_e2e_test.sh REFRAME VIDCRUNCH
set -euo pipefail
reframe=$1
vidcrunch=$2

work=$(mktemp -d)
# shellcheck source=../xvfb_session.sh
source "$(dirname "$0")/../xvfb_session.sh"

start_display
source_avi="$work/src.avi"
make_source "$source_avi"
source_frames=$(frame_count "$source_avi")
[ "$source_frames" -gt 0 ] || fail "the source has no frames"

# A folder holding its own copy of the tool and, if given, of a compressor.
install_case() {
  mkdir -p "$work/$1"
  cp "$reframe" "$work/$1/reframe"
  if [ -n "${2:-}" ]; then cp "$2" "$work/$1/vidcrunch.exe"; chmod +x "$work/$1/vidcrunch.exe"; fi
}

expect_compressed() {
  [ -f "$1" ] || fail "$1 is missing"
  local codec size frames audio
  codec=$(probe "$1" v:0 codec_name)
  size=$(probe "$1" v:0 width,height)
  frames=$(frame_count "$1")
  audio=$(probe "$1" a:0 codec_type)
  [ "$codec" = h264 ] || fail "$1 holds '$codec' video, not h264"
  [ "$size" = 80,60 ] || fail "$1 is $size, not 80,60"
  [ "$frames" = "$source_frames" ] || fail "$1 has $frames frames, the source $source_frames"
  [ "$audio" = audio ] || fail "$1 lost its audio"
}

expect_uncompressed() {
  [ -f "$1" ] || fail "$1 is missing"
  local codec size
  codec=$(probe "$1" v:0 codec_name)
  size=$(probe "$1" v:0 width,height)
  [ "$codec" = rawvideo ] || fail "$1 holds '$codec' video, not the uncompressed frames"
  [ "$size" = 80,60 ] || fail "$1 is $size, not 80,60"
  [ "$(frame_count "$1")" = "$source_frames" ] || fail "$1 lost frames"
}

# Only the listed names may be in the case's folder besides the programs.
expect_only() {
  local folder=$1 got want
  shift
  got=$(find "$folder" -mindepth 1 -maxdepth 1 -printf '%f\n' | grep -vxE 'reframe|vidcrunch\.exe|.*\.log' |
    sort | tr '\n' ' ')
  want=$(printf '%s\n' "$@" | sort | tr '\n' ' ')
  [ "$got" = "$want" ] || fail "$folder holds '$got', expected '$want'"
}

# --- the real compressor replaces the destination with its copy -----------------------
echo "case: real compressor"
install_case real "$vidcrunch"
run_job "$work/real/reframe" "$source_avi" "$work/real/clip.avi" 80 60
expect_compressed "$work/real/clip.avi"
expect_only "$work/real" clip.avi

# --- a compressor that fails: told so, its partial copy goes, the uncompressed file stays
echo "case: failing compressor"
install_case failing
cat >"$work/failing/vidcrunch.exe" <<'SCRIPT'
#!/usr/bin/env bash
printf '%s\n' "$@" >"$(dirname "$0")/arguments.log"
echo junk >"$2"
for p in 10 40 70; do printf '%s\r\n' "$p" | iconv -f UTF-8 -t UTF-16LE; sleep 0.1; done
exit 1
SCRIPT
chmod +x "$work/failing/vidcrunch.exe"
run_job "$work/failing/reframe" "$source_avi" "$work/failing/clip.avi" 80 60 ERROR
printf '%s\n' "$work/failing/clip.avi" "$work/failing/clip2.avi" /console >"$work/expected-arguments"
cmp -s "$work/expected-arguments" "$work/failing/arguments.log" ||
  fail "the compressor got: $(cat "$work/failing/arguments.log" 2>/dev/null)"
expect_uncompressed "$work/failing/clip.avi"
expect_only "$work/failing" clip.avi

# --- a compressor that exits 0 but leaves no AVI file: nothing is replaced ----------------
echo "case: compressor claiming success with junk"
install_case lying
cat >"$work/lying/vidcrunch.exe" <<'SCRIPT'
#!/usr/bin/env bash
echo junk >"$2"
printf '100\r\n' | iconv -f UTF-8 -t UTF-16LE
exit 0
SCRIPT
chmod +x "$work/lying/vidcrunch.exe"
run_job "$work/lying/reframe" "$source_avi" "$work/lying/clip.avi" 80 60 ERROR
expect_uncompressed "$work/lying/clip.avi"
expect_only "$work/lying" clip.avi

# --- no compressor beside the tool: told so, then the job ends normally --------------------
echo "case: no compressor"
install_case missing
run_job "$work/missing/reframe" "$source_avi" "$work/missing/clip.avi" 80 60 ERROR
expect_uncompressed "$work/missing/clip.avi"
expect_only "$work/missing" clip.avi

# --- a destination without a dot still gets a copy under another name ----------------------
echo "case: destination without a dot"
install_case plain "$vidcrunch"
run_job "$work/plain/reframe" "$source_avi" "$work/plain/plain" 80 60
expect_compressed "$work/plain/plain"
expect_only "$work/plain" plain

# --- the user's own file under the copy's name is left alone -----------------------------
echo "case: copy name already taken"
install_case taken "$vidcrunch"
head -c 5000 /dev/urandom >"$work/taken/clip2.avi"
cp "$work/taken/clip2.avi" "$work/users-file"
run_job "$work/taken/reframe" "$source_avi" "$work/taken/clip.avi" 80 60
cmp -s "$work/users-file" "$work/taken/clip2.avi" || fail "the user's clip2.avi was changed"
expect_compressed "$work/taken/clip.avi"
expect_only "$work/taken" clip.avi clip2.avi

echo "PASS"
