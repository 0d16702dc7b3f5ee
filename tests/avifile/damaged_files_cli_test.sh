#!/usr/bin/env bash
# reframe-convert on damaged AVI files made by ffmpeg: a file cut inside its idx1 converts
# every frame its movi list holds, as ffmpeg reads them; files cut inside their headers are
# refused as not valid, with exit code 1.
# usage: damaged_files_cli_test.sh REFRAME_CONVERT
set -euo pipefail
convert=$1
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }
cd "$work"
frames() { ffprobe -v error -count_frames -select_streams v:0 -show_entries stream=nb_read_frames -of csv=p=0 "$1"; }

ffmpeg -v error -f lavfi -i testsrc=size=96x64:rate=25 -frames:v 200 -c:v mjpeg -q:v 5 whole.avi
idx1=$(grep -obUa idx1 whole.avi | tail -n1 | cut -d: -f1)
[ -n "$idx1" ] || fail "no idx1 in the file ffmpeg made"
head -c "$((idx1 + 8 + 145 * 16 + 7))" whole.avi >cut-index.avi
[ "$(frames cut-index.avi)" = 200 ] || fail "ffmpeg reads $(frames cut-index.avi) frames of cut-index.avi"
got=0
"$convert" --progress=none --size 48x32 cut-index.avi out.avi 2>err.txt || got=$?
[ "$got" = 0 ] || fail "exit $got for the file cut inside its index: $(cat err.txt)"
[ "$(frames out.avi)" = 200 ] || fail "the file cut inside its index gave $(frames out.avi) frames"

for video in "-c:v mjpeg" "-c:v rawvideo -pix_fmt bgr24"; do
  # shellcheck disable=SC2086 # the encoder arguments are words
  ffmpeg -v error -y -f lavfi -i testsrc=size=96x64:rate=25 -f lavfi -i sine=sample_rate=22050 \
    -t 2 $video -c:a pcm_s16le av.avi
  for n in 177 2871 5000; do
    head -c "$n" av.avi >"cut-$n.avi"
    got=0
    "$convert" --progress=none "cut-$n.avi" "out-$n.avi" 2>err.txt || got=$?
    [ "$got" = 1 ] || fail "exit $got, not 1, for $video cut at $n bytes"
    grep -q "not a valid AVI file" err.txt || fail "$video cut at $n: $(cat err.txt)"
    [ ! -e "out-$n.avi" ] || fail "$video cut at $n left out-$n.avi behind"
  done
done
echo "damaged files: ok"
