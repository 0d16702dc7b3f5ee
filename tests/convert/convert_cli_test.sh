#!/usr/bin/env bash
# reframe-convert through the real program, with ffprobe and ffmpeg as the judges: frame
# geometry and counts, audio packets copied bit for bit, the aspect-keeping sizes, dropped
# streams, compression, every refusal with its message and exit code, nothing left behind
# by a failure or by Ctrl+C, and --jobs giving the same bytes as one file at a time.
# usage: convert_cli_test.sh REFRAME_CONVERT VIDCRUNCH
set -euo pipefail
convert=$1
vidcrunch=$2  # the converter finds it beside itself; named here so a missing one fails early
[ -x "$vidcrunch" ] || { echo "FAIL: no compressor at $vidcrunch" >&2; exit 1; }

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }
cd "$work"

probe() { ffprobe -v error -select_streams "$2" -show_entries "stream=$3" -of csv=p=0 "$1" | head -n1; }
frames() { ffprobe -v error -count_frames -select_streams v:0 -show_entries stream=nb_read_frames -of csv=p=0 "$1"; }
audio_md5() { ffmpeg -v error -i "$1" -map 0:a:0 -c copy -f md5 -; }
# Runs the converter expecting exit code $1; its standard error lands in err.txt.
expect() {
  local want=$1 got=0
  shift
  "$convert" "$@" 2>err.txt >out.txt || got=$?
  [ "$got" = "$want" ] || fail "exit $got, not $want, for: $* ($(cat err.txt))"
}
says() { grep -q -- "$1" err.txt || fail "expected '$1' on stderr, got: $(cat err.txt)"; }
only_files() {
  local want got
  want=$(printf '%s\n' "$@" | sort)
  got=$(find . -maxdepth 1 -type f -printf '%P\n' | grep -v -e '^err.txt$' -e '^out.txt$' | sort)
  [ "$got" = "$want" ] || fail "files here: ${got//$'\n'/ }, expected: ${want//$'\n'/ }"
}

ffmpeg -v error -f lavfi -i testsrc2=size=320x180:rate=25 -f lavfi -i sine=frequency=300 -t 2 \
  -c:v mjpeg -q:v 3 -c:a pcm_s16le src.avi
ffmpeg -v error -f lavfi -i testsrc2=size=96x96:rate=10 -f lavfi -i sine=frequency=500 -t 1 \
  -c:v rawvideo -pix_fmt bgr24 -c:a pcm_s16le square.avi
source_md5=$(audio_md5 src.avi)

# --- geometry, counts, audio, options ------------------------------------------------------
expect 0 --size 160x90 src.avi a.avi
[ "$(probe a.avi v:0 codec_name,width,height)" = "rawvideo,160,90" ] || fail "a.avi: $(probe a.avi v:0 codec_name,width,height)"
[ "$(frames a.avi)" = 50 ] || fail "a.avi has $(frames a.avi) frames"
[ "$(audio_md5 a.avi)" = "$source_md5" ] || fail "the audio was not copied bit for bit"
[ ! -s err.txt ] || fail "a quiet run printed: $(cat err.txt)"

expect 0 src.avi same.avi
[ "$(probe same.avi v:0 width,height)" = "320,180" ] || fail "without --size the size is $(probe same.avi v:0 width,height)"
expect 0 --size 101x-1 src.avi k1.avi
[ "$(probe k1.avi v:0 width,height)" = "101,57" ] || fail "101x-1 gave $(probe k1.avi v:0 width,height)"
expect 0 --size=101x-2 src.avi k2.avi
[ "$(probe k2.avi v:0 width,height)" = "101,56" ] || fail "101x-2 gave $(probe k2.avi v:0 width,height)"
expect 0 -s -2x45 src.avi k3.avi
[ "$(probe k3.avi v:0 width,height)" = "80,45" ] || fail "-2x45 gave $(probe k3.avi v:0 width,height)"

# Averaging changes the pixels, plain stretching keeps whole source pixels.
expect 0 --size 48x48 square.avi plain.avi
expect 0 --size 48x48 --average square.avi soft.avi
ffmpeg -v error -i square.avi -vf scale=48:48:flags=area -f rawvideo -pix_fmt bgr24 - | md5sum >area.md5
ffmpeg -v error -i soft.avi -f rawvideo -pix_fmt bgr24 - | md5sum >soft.md5
ffmpeg -v error -i plain.avi -f rawvideo -pix_fmt bgr24 - | md5sum >plain.md5
! cmp -s soft.md5 plain.md5 || fail "--average made no difference"
psnr=$(ffmpeg -i soft.avi -i square.avi -lavfi "[1:v]scale=48:48:flags=area[r];[0:v][r]psnr" -f null - 2>&1 |
  sed -n 's/.*average:\([0-9.inf]*\).*/\1/p')
awk -v p="$psnr" 'BEGIN { exit !(p == "inf" || p > 40) }' || fail "averaged frames are $psnr dB from ffmpeg's area scaling"

expect 0 --drop audio src.avi noaudio.avi
[ "$(ffprobe -v error -show_entries stream=codec_type -of csv=p=0 noaudio.avi | tr '\n' ' ')" = "video " ] ||
  fail "--drop audio left $(ffprobe -v error -show_entries stream=codec_type -of csv=p=0 noaudio.avi)"
expect 0 --drop video src.avi novideo.avi
[ "$(ffprobe -v error -show_entries stream=codec_type -of csv=p=0 novideo.avi | tr '\n' ' ')" = "audio " ] ||
  fail "--drop video left $(ffprobe -v error -show_entries stream=codec_type -of csv=p=0 novideo.avi)"
[ "$(audio_md5 novideo.avi)" = "$source_md5" ] || fail "audio changed with --drop video"

# --- compression -----------------------------------------------------------------------------
expect 0 --size 64x36 --compress src.avi c.avi
[ "$(probe c.avi v:0 codec_name,width,height)" = "h264,64,36" ] || fail "--compress gave $(probe c.avi v:0 codec_name,width,height)"
[ "$(frames c.avi)" = 50 ] || fail "compressed file has $(frames c.avi) frames"
[ "$(audio_md5 c.avi)" = "$source_md5" ] || fail "audio changed by compression"
expect 0 --size 64x36 --compress=mjpeg --quality 5 src.avi cm.avi
[ "$(probe cm.avi v:0 codec_name)" = mjpeg ] || fail "--compress=mjpeg gave $(probe cm.avi v:0 codec_name)"

# A compressor that fails: the uncompressed result stays, the file counts as failed.
mkdir broken && cp "$convert" broken/reframe-convert
# shellcheck disable=SC2016  # $2 is the stand-in's own argument
printf '#!/bin/sh\necho half > "$2"\nexit 3\n' >broken/vidcrunch.exe && chmod +x broken/vidcrunch.exe
rm -f err.txt
mkdir cb && cd cb
got=0; ../broken/reframe-convert --size 64x36 --compress ../src.avi kept.avi 2>../err.txt || got=$?
cd ..
[ "$got" = 1 ] || fail "a failing compressor gave exit $got"
says "the compressor failed (exit code 3); the uncompressed file was kept"
[ "$(probe cb/kept.avi v:0 codec_name)" = rawvideo ] || fail "the uncompressed file was not kept"
[ "$(ls -A cb)" = kept.avi ] || fail "left in the folder: $(ls -A cb)"

# --- refusals: each its own message, nothing written ----------------------------------------
mkdir refusals && cd refusals
cp ../src.avi in.avi
echo "precious" >taken.avi
for size in 0x10 10x0 -5x10 99999x10 abcx10 10 -1x-2 12x34x56; do
  expect 2 --size "$size" in.avi out.avi
  [ "$(wc -l <err.txt)" = 2 ] || fail "--size $size: $(cat err.txt)"
done
expect 2 --size 0x10 in.avi out.avi; says "a width of 0 makes no picture"
expect 2 --size -5x10 in.avi out.avi; says "negative"
expect 2 --size 99999x10 in.avi out.avi; says "too large"
expect 2 --size abcx10 in.avi out.avi; says "not a whole number"
expect 2 in.avi; says "give a SOURCE and a DESTINATION"
expect 2 a.avi b.avi c.avi; says "several sources need -o DIR"
expect 2 --quality 3 in.avi out.avi; says "needs --compress"
expect 2 --jobs 0 -o . in.avi; says "--jobs"
expect 2 --bogus in.avi out.avi; says "unknown option"
expect 2 --compress=divx in.avi out.avi; says "expected h264"
only_files in.avi taken.avi

expect 1 in.avi taken.avi; says "taken.avi already exists"
[ "$(cat taken.avi)" = precious ] || fail "an existing destination was touched"
ln -s in.avi link.avi
expect 1 --overwrite in.avi link.avi; says "is the source itself"
expect 1 --overwrite in.avi ./in.avi; says "is the source itself"
rm link.avi
expect 1 missing.avi out.avi; says "missing.avi: no such file"
echo "just text" >notes.avi
expect 1 notes.avi out.avi; says "notes.avi: not a valid AVI file"
# Video in a format no decoder knows: no file of empty frames is passed off as converted.
ffmpeg -v error -f lavfi -i testsrc2=size=32x16:rate=5 -t 1 -c:v mjpeg unknown.avi
perl -0777 -pi -e 's/MJPG/ZZZZ/g' unknown.avi
expect 1 unknown.avi out.avi; says "unknown.avi: couldn't decode the video of the source file"
expect 0 --drop video unknown.avi out.avi
rm unknown.avi out.avi
# Permissions bind root too little to test them as root, so those cases run as nobody.
as_user=()
if [ "$(id -u)" = 0 ] && command -v setpriv >/dev/null; then
  as_user=(setpriv --reuid=65534 --regid=65534 --clear-groups)
  chmod 755 "$work" "$work/refusals"
fi
if [ "$(id -u)" != 0 ] || [ ${#as_user[@]} -gt 0 ]; then
  cp in.avi locked.avi && chmod 000 locked.avi
  mkdir open && chmod 777 open
  got=0; "${as_user[@]}" "$convert" locked.avi open/out.avi 2>err.txt || got=$?
  [ "$got" = 1 ] || fail "an unreadable source gave exit $got"
  says "locked.avi: can't read it: Permission denied"
  mkdir readonly && chmod 555 readonly && chmod 644 in.avi
  got=0; "${as_user[@]}" "$convert" in.avi readonly/out.avi 2>err.txt || got=$?
  [ "$got" = 1 ] || fail "an unwritable folder gave exit $got"
  says "can't create a file in readonly/: Permission denied"
  [ -z "$(find readonly open -mindepth 1)" ] || fail "files left: $(find readonly open -mindepth 1)"
  rm -rf locked.avi readonly open
fi
mkdir folder.avi
expect 1 in.avi folder.avi; says "is a folder"
expect 1 folder.avi out.avi; says "is a folder, not a file"
expect 1 in.avi no/such/folder/out.avi; says "can't create a file in no/such/folder/"
expect 1 in.avi $'bad\xff.avi'; says "not valid UTF-8"
rmdir folder.avi
# Pipes, devices and sockets are neither read nor replaced: a pipe would hold the batch up for
# as long as no one writes into it, and a device replaced by a file is lost to everyone.
# (Each case is the job core's; here only that the message and the exit code reach the user.)
mkfifo pipe.avi
got=0; timeout 20 "$convert" pipe.avi out.avi 2>err.txt || got=$?
[ "$got" = 1 ] || fail "a pipe as source gave exit $got"
says "pipe.avi: is not a regular file"
expect 1 --overwrite in.avi pipe.avi; says "pipe.avi is not a regular file"
rm pipe.avi
# A name that can't be made is found out before converting, not after.
long=$(printf 'x%.0s' $(seq 252)).avi
expect 1 in.avi "$long"; says "is too long for its file system"
# A line break in a name can't break the message into lines.
expect 1 $'no\nsuch.avi' out.avi
[ "$(wc -l <err.txt)" = 1 ] || fail "the message took several lines: $(cat err.txt)"
says '"no\\nsuch.avi": no such file'
only_files in.avi taken.avi notes.avi
# A leading dash, spaces, quotes, newlines and non-ASCII letters in names.
cp in.avi -- "-dash 'q\"uote'
new ünï.avi"
expect 0 --size 32x18 -- "-dash 'q\"uote'
new ünï.avi" "out 'ünï\".avi"
[ "$(probe "out 'ünï\".avi" v:0 width)" = 32 ] || fail "odd names did not convert"
cd ..

# One thread or every core: the same file, and the count reaches the compressor.
expect 0 --size 160x90 --average --threads 1 src.avi t1.avi
expect 0 --size 160x90 --average src.avi tn.avi
cmp -s t1.avi tn.avi || fail "--threads 1 and the default wrote different files"
mkdir recorder && cp "$convert" recorder/reframe-convert
# shellcheck disable=SC2016  # the stand-in's own arguments
printf '#!/bin/sh\nprintf "%%s\\n" "$@" >"$(dirname "$0")/arguments.txt"\ncp "$1" "$2"\n' \
  >recorder/vidcrunch.exe && chmod +x recorder/vidcrunch.exe
recorder/reframe-convert --size 64x36 --compress --threads 3 src.avi rec.avi 2>err.txt ||
  fail "the recording compressor's job failed: $(cat err.txt)"
grep -qx '/threads:3' recorder/arguments.txt ||
  fail "the compressor was given: $(tr '\n' ' ' <recorder/arguments.txt)"

# --- several files, --jobs, -o -----------------------------------------------------------------
mkdir many
for i in 1 2 3 4; do
  ffmpeg -v error -f lavfi -i "testsrc2=size=120x90:rate=25" -f lavfi -i "sine=frequency=${i}00" -t 1 \
    -c:v mjpeg -c:a pcm_s16le "many/clip$i.avi"
done
# The output folder is made when missing.
expect 0 --size 60x44 --jobs 1 -o out1 many/*.avi
expect 0 --size 60x44 --jobs 3 -o out2 many/*.avi
for i in 1 2 3 4; do
  cmp -s "out1/clip$i.avi" "out2/clip$i.avi" || fail "--jobs 3 wrote clip$i.avi differently"
done
# One bad file among good ones: exit 1, the rest done, the bad one named.
echo junk >many/clip5.avi
expect 1 --size 60x44 --jobs 2 --overwrite -o out2 many/*.avi
says "clip5.avi: not a valid AVI file"
[ ! -e out2/clip5.avi ] || fail "a failed file left a destination"
[ "$(find out2 -name '.reframe-*' | wc -l)" = 0 ] || fail "temporary files left in out2"
# Two sources with one name in the output folder.
mkdir -p other && cp many/clip1.avi other/clip1.avi
expect 1 --size 60x44 -o out3 many/clip1.avi other/clip1.avi; says "another source is also written"

# JSON progress is one object per line, every line valid.
expect 0 --size 60x44 --progress=json --jobs 2 -o out4 many/clip1.avi many/clip2.avi
python3 - out.txt <<'PY'
import json, sys
lines = open(sys.argv[1]).read().splitlines()
events = [json.loads(l) for l in lines]
done = sorted(e["file"] for e in events if e["event"] == "done")
assert done == ["many/clip1.avi", "many/clip2.avi"], done
assert any(e.get("type") == "video" and "fps" in e for e in events)
PY
# A terminal-style bar when asked for it.
expect 0 --size 60x44 --progress=bar many/clip3.avi bar.avi
grep -q "stream #0 (video)" err.txt || fail "no progress line: $(cat err.txt)"
grep -q "fps" err.txt || fail "no frame rate in the progress line"

# --- Ctrl+C: the file being written goes ----------------------------------------------------
ffmpeg -v error -f lavfi -i testsrc2=size=640x360:rate=25 -t 20 -c:v mjpeg -q:v 2 long.avi
mkdir stop
"$convert" --size 1280x720 --average long.avi stop/out.avi 2>/dev/null &
pid=$!
for _ in $(seq 100); do [ -n "$(ls -A stop)" ] && break; sleep 0.05; done
[ -n "$(ls -A stop)" ] || fail "the converter wrote nothing to interrupt"
sleep 0.3
kill -INT "$pid"
status=0; wait "$pid" || status=$?
[ "$status" = 130 ] || fail "Ctrl+C gave exit $status"
[ -z "$(ls -A stop)" ] || fail "Ctrl+C left: $(ls -A stop)"

# A reader that goes away (SIGPIPE) cleans up as Ctrl+C does.
mkdir gone
status=0
"$convert" --progress=json --size 1280x720 --average long.avi gone/out.avi 2>/dev/null | head -c1 >/dev/null ||
  status=${PIPESTATUS[0]}
[ "$status" = 141 ] || fail "a vanished reader gave exit $status"
[ -z "$(ls -A gone)" ] || fail "SIGPIPE left: $(ls -A gone)"

# --- the batch recipe: GNU parallel with one ssh login, this machine ---------------------------
if command -v parallel >/dev/null; then
  mkdir par
  parallel --will-cite --sshlogin : --jobs 2 "$convert" --size 60x44 '{}' 'par/{/.}.avi' ::: many/clip1.avi many/clip2.avi ||
    fail "parallel failed"
  cmp -s par/clip1.avi out1/clip1.avi || fail "parallel's clip1 differs"
fi
echo PASS
