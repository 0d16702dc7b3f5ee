#!/usr/bin/env bash
# The shape a picture is shown at survives the conversion: anamorphic DV (PAL 16:9 and 4:3,
# NTSC), MPEG-4 part 2 and H.264 with a pixel shape in their bitstreams, and a BGR file that
# has it only in its header, each stretched to another size, plain and through every codec of
# the compressor. ffprobe is the judge of what a player shows; the bare H.264 and MPEG-4
# streams (no container to lean on) are checked for their own word. Also: the header wins over
# the codec, the aspect-keeping sizes give square pixels, and square sources gain nothing.
# usage: picture_shape_test.sh REFRAME_CONVERT
set -euo pipefail
convert=$1

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }
cd "$work"

probe() { ffprobe -v error -select_streams v:0 -show_entries "stream=$2" -of csv=p=0 "$1"; }
shown() { probe "$1" display_aspect_ratio; }
# A file's 'vprp' chunk renamed to JUNK, so that only the codec says the shape.
without_header() { python3 -c "
import sys
data = open(sys.argv[1], 'rb').read()
assert data.count(b'vprp') == 1, 'expected one vprp chunk'
open(sys.argv[2], 'wb').write(data.replace(b'vprp', b'JUNK'))" "$1" "$2"; }
# The 'vprp' chunk's frame aspect set to $2:$3 (X in the high word of the sixth DWORD).
header_says() { python3 -c "
import struct, sys
data = bytearray(open(sys.argv[1], 'rb').read())
at = data.index(b'vprp') + 8 + 5 * 4
data[at:at + 4] = struct.pack('<HH', int(sys.argv[4]), int(sys.argv[3]))
open(sys.argv[2], 'wb').write(data)" "$1" "$2" "$3" "$4"; }

lavfi() { ffmpeg -v error -f lavfi -i "testsrc2=size=$1:rate=$2" -t 0.4 "${@:3}"; }
lavfi 720x576 25 -c:v dvvideo -pix_fmt yuv420p -aspect 16:9 dv_pal_wide.avi
lavfi 720x576 25 -c:v dvvideo -pix_fmt yuv420p -aspect 4:3 dv_pal.avi
lavfi 720x480 30000/1001 -c:v dvvideo -pix_fmt yuv411p -aspect 4:3 dv_ntsc.avi
lavfi 640x480 25 -c:v mpeg4 -vtag XVID -aspect 16:9 xvid_with_header.avi
lavfi 640x480 25 -c:v libx264 -aspect 16:9 h264_with_header.avi
lavfi 320x240 25 -c:v rawvideo -pix_fmt bgr24 -aspect 16:9 bgr_header_only.avi
lavfi 160x120 25 -c:v mjpeg square.avi
without_header dv_pal_wide.avi dv_codec_only.avi
without_header xvid_with_header.avi xvid.avi
without_header h264_with_header.avi h264.avi
[ "$(shown xvid.avi)" = 16:9 ] || fail "ffprobe does not see the MPEG-4 file's own shape"

# Every source, stretched to 360x240, plain and compressed: shown as the source is.
for source in dv_pal_wide dv_pal dv_ntsc dv_codec_only xvid h264 bgr_header_only; do
  want=$(shown "$source.avi")
  for codec in none h264 mpeg4 mjpeg ffv1; do
    compress=()
    [ "$codec" = none ] || compress=("--compress=$codec")
    "$convert" --progress=none --size 360x240 "${compress[@]}" "$source.avi" out.avi ||
      fail "$source with $codec did not convert"
    got=$(shown out.avi)
    [ "$got" = "$want" ] || fail "$source with $codec is shown at $got, not $want"
    rm out.avi
  done
done

# The compressed streams say it in their own headers too, where a player may look first.
"$convert" --progress=none --size 360x240 --compress=h264 dv_pal_wide.avi wide.avi
ffmpeg -v error -i wide.avi -c:v copy -f h264 wide.h264
[ "$(probe wide.h264 sample_aspect_ratio)" = 32:27 ] ||
  fail "the H.264 stream says $(probe wide.h264 sample_aspect_ratio), not 32:27"
"$convert" --progress=none --size 360x240 --compress=mpeg4 dv_pal_wide.avi wide4.avi
ffmpeg -v error -i wide4.avi -c:v copy -f m4v wide.m4v
[ "$(probe wide.m4v sample_aspect_ratio)" = 32:27 ] ||
  fail "the MPEG-4 stream says $(probe wide.m4v sample_aspect_ratio), not 32:27"

# Where header and codec disagree, the header wins, as it does in players.
header_says dv_pal_wide.avi dv_wide_said_narrow.avi 4 3
[ "$(shown dv_wide_said_narrow.avi)" = 4:3 ] || fail "ffprobe does not take the header's word"
"$convert" --progress=none --size 360x240 dv_wide_said_narrow.avi out.avi
[ "$(shown out.avi)" = 4:3 ] || fail "the codec's shape won over the header's: $(shown out.avi)"
rm out.avi

# The aspect-keeping sizes make square pixels of the shape shown.
for case in "320x-2 dv_pal_wide 320,180" "320x-1 dv_pal 320,240" "-2x240 dv_ntsc 320,240" \
  "320x-2 xvid 320,180"; do
  read -r size source want <<<"$case"
  "$convert" --progress=none --size "$size" "$source.avi" out.avi
  [ "$(probe out.avi width,height)" = "$want" ] ||
    fail "$source at $size gave $(probe out.avi width,height), not $want"
  sar=$(probe out.avi sample_aspect_ratio)
  [ "$sar" = N/A ] || [ "$sar" = 1:1 ] || fail "$source at $size has pixels of $sar"
  rm out.avi
done

# A source of square pixels stays without a word on its shape, as before, whatever the size.
for size in 160x120 320x180; do
  "$convert" --progress=none --size "$size" square.avi out.avi
  ! grep -q vprp out.avi || fail "a square source at $size gained a vprp chunk"
  rm out.avi
done
echo "picture shape: ok"
