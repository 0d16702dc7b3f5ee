#!/usr/bin/env bash
# The sample maker: files that ffprobe reads cleanly with the asked length and size, a
# picture that moves, and clear failures that leave no file behind.
# usage: make_sample_test.sh MAKE_SAMPLE
set -euo pipefail
make_sample=$1
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }

# An odd width makes rows that need padding to four bytes.
"$make_sample" "$work/odd.avi" 2 99x50 || fail "could not write a 99x50 sample"
warnings=$(ffprobe -v warning -count_frames "$work/odd.avi" 2>&1) || fail "ffprobe failed"
[ -z "$warnings" ] || fail "ffprobe warns: $warnings"
video=$(ffprobe -v error -select_streams v:0 -count_frames \
  -show_entries stream=codec_name,width,height,pix_fmt,r_frame_rate,nb_read_frames -of csv=p=0 \
  "$work/odd.avi")
[ "$video" = "rawvideo,99,50,bgr24,25/1,50" ] || fail "video is $video"
# ffmpeg also takes unpadded rows, so the padding shows only in the frames' byte counts.
sizes=$(ffprobe -v error -select_streams v:0 -show_entries packet=size -of csv=p=0 "$work/odd.avi" |
  sort -u)
[ "$sizes" = $((300 * 50)) ] || fail "frames of $sizes bytes, not rows padded to 300 bytes"
audio=$(ffprobe -v error -select_streams a:0 -show_entries stream=codec_name,sample_rate,channels \
  -of csv=p=0 "$work/odd.avi")
[ "$audio" = "pcm_s16le,44100,2" ] || fail "audio is $audio"
samples=$(ffmpeg -v error -i "$work/odd.avi" -map 0:a -f s16le - | wc -c)
[ "$samples" = $((2 * 44100 * 4)) ] || fail "$samples bytes of sound, not two seconds"

# Frames differ from one another (the box moves, the counter counts), and the picture is
# upright: the counter's plate is at the bottom, dark, the bars at the top, bright.
"$make_sample" "$work/default.avi" || fail "could not write the default sample"
[ "$(ffprobe -v error -select_streams v:0 -count_frames -show_entries stream=width,height,nb_read_frames \
  -of csv=p=0 "$work/default.avi")" = "320,240,100" ] || fail "the default is not 4 s of 320x240"
ffmpeg -v error -i "$work/default.avi" -vf "select=eq(n\,0)+eq(n\,10)" -vsync 0 "$work/f%d.png"
diff=$(compare -metric AE "$work/f1.png" "$work/f2.png" null: 2>&1 || true)
[ "$diff" -gt 100 ] || fail "frames 0 and 10 differ in only $diff pixels"
top=$(convert "$work/f1.png" -crop 320x20+0+0 -colorspace gray -format '%[fx:mean]' info:)
bottom_left=$(convert "$work/f1.png" -crop 10x10+5+225 -colorspace gray -format '%[fx:mean]' info:)
awk -v t="$top" -v b="$bottom_left" 'BEGIN {exit !(t > 0.5 && b < 0.1)}' ||
  fail "the picture is upside down (top $top, bottom left $bottom_left)"

# Failures: a clear message, a non-zero code and no file.
for args in "" "$work/x.avi 0" "$work/x.avi 4 16x8" "$work/x.avi 4 640" "$work/x.avi four"; do
  # shellcheck disable=SC2086
  if "$make_sample" $args 2>"$work/err"; then fail "accepted '$args'"; fi
  grep -q usage "$work/err" || fail "no usage line for '$args'"
  [ ! -e "$work/x.avi" ] || fail "wrote a file for '$args'"
done
if "$make_sample" "$work/missing/x.avi" 2>"$work/err"; then fail "wrote into a missing folder"; fi
grep -q "could not write $work/missing/x.avi" "$work/err" || fail "unclear message: $(cat "$work/err")"
echo PASS
