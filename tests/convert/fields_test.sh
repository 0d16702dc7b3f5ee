#!/usr/bin/env bash
# Interlaced video through reframe-convert, judged against the truth: a 50-frames-a-second
# moving picture woven into 25 frames of two fields (top field first, and bottom field first as
# camcorders do), stored as DV, shrunk to half height. Each converted frame is compared with
# the 50 p frame of its first field's moment, scaled the same way: combed frames must come out
# deinterlaced (far nearer the truth than a plain shrink), while progressive DV (flagged
# interlaced like all DV) and finely striped progressive pictures must not be touched at all.
# At the same height the fields are kept, and the destination says so in its vprp chunk.
# The compressor keeps them too: interlaced H.264 and MPEG-4 in the right order, colours
# converted field by field, and progressive frames (with a note) where H.264 can't keep them.
# usage: fields_test.sh REFRAME_CONVERT (vidcrunch.exe beside it)
set -euo pipefail
convert=$1
vidcrunch=$(dirname "$convert")/vidcrunch.exe

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }
cd "$work"

moving() { ffmpeg -v error -f lavfi -i "testsrc2=size=720x576:rate=$1" -t 1.2 "${@:2}"; }
moving 50 -vf tinterlace=mode=interleave_top,setfield=tff -c:v dvvideo -pix_fmt yuv420p top.avi
moving 50 -vf tinterlace=mode=interleave_bottom,setfield=bff -c:v dvvideo -pix_fmt yuv420p \
  bottom.avi
moving 25 -c:v dvvideo -pix_fmt yuv420p progressive.avi
ffmpeg -v error -f lavfi \
  -i "nullsrc=s=720x576:r=25,geq=lum='128+90*sin((X+5*N)/7)*(1-2*mod(Y+N\,2))':cb=128:cr=128" \
  -t 1.2 -c:v dvvideo -pix_fmt yuv420p stripes.avi
# Small sharp text scrolling up and across, shot progressive: in some blocks one pairing of
# fields fits far better than the other by chance.
ffmpeg -v error -f lavfi -i testsrc=size=720x576:rate=50 \
  -vf "scroll=h=0.006:v=0.003,select='not(mod(n\,2))',setpts=N/25/TB" -r 25 -t 8 \
  -c:v dvvideo -pix_fmt yuv420p text.avi
# The truth: the 50 p frames of the first fields' moments, at 360x288.
moving 50 -vf "select='not(mod(n\,2))',format=bgr24,scale=360:288:flags=area" -c:v rawvideo \
  -f nut truth.nut

psnr() { # FILE: its average PSNR against the truth, in dB
  ffmpeg -v info -i "$1" -i truth.nut \
    -lavfi '[0:v]format=bgr24[a];[1:v]format=bgr24[b];[a][b]psnr' -f null - 2>&1 |
    sed -n 's/.*average:\([0-9.]*\).*/\1/p'
}
shrink() { "$convert" --progress=none --overwrite --average --size 360x288 "${@:3}" "$1" "$2"; }
# The vprp chunk's field count and the first field's start line ("1 -" without fields).
fields_of() { python3 -c "
import struct, sys
data = open(sys.argv[1], 'rb').read()
at = data.find(b'vprp')
if at < 0: print('none'); sys.exit()
words = struct.unpack_from('<25I', data, at + 8)
print(words[8], words[16] if words[8] == 2 else '-')" "$1"; }
at_least() { awk -v a="$1" -v b="$2" 'BEGIN { exit !(a >= b) }'; }

for source in top bottom; do
  shrink "$source.avi" plain.avi --deinterlace=off
  shrink "$source.avi" auto.avi
  plain=$(psnr plain.avi) auto=$(psnr auto.avi)
  echo "$source field first: plain $plain dB, deinterlaced $auto dB"
  at_least "$auto" "$(awk -v p="$plain" 'BEGIN { print p + 3 }')" ||
    fail "$source field first: combed frames were not deinterlaced ($plain -> $auto dB)"
  [ "$(fields_of auto.avi)" = none ] || fail "a deinterlaced destination claims fields"
done

# Progressive pictures, even those DV flags interlaced and those striped line by line, are
# not touched: the same bytes as with deinterlacing off.
for source in progressive stripes text; do
  shrink "$source.avi" plain.avi --deinterlace=off
  shrink "$source.avi" auto.avi
  cmp -s plain.avi auto.avi || fail "$source: progressive frames were deinterlaced"
done
# --deinterlace=on deinterlaces them all the same.
shrink progressive.avi on.avi --deinterlace=on
! cmp -s plain.avi on.avi || fail "--deinterlace=on left progressive frames as they were"

# At the same height nothing mixes the fields: they are kept, and said to be there, in order.
for case in "top 2 0" "bottom 2 1" "progressive none"; do
  read -r source want_fields want_line <<<"$case"
  "$convert" --progress=none --overwrite --size 360x576 "$source.avi" same.avi
  "$convert" --progress=none --overwrite --size 360x576 --deinterlace=off "$source.avi" same_off.avi
  cmp -s same.avi same_off.avi || [ "$source" != progressive ] ||
    fail "$source at the same height: its frames changed"
  got=$(fields_of same.avi)
  [ "$got" = "$want_fields${want_line:+ $want_line}" ] ||
    fail "$source at the same height: vprp fields '$got', not '$want_fields${want_line:+ $want_line}'"
done

# Compressed at the same height: coded as interlaced in the order found, and said so.
for case in "top tt" "bottom bb"; do
  read -r source order <<<"$case"
  for codec in h264 mpeg4; do
    "$convert" --progress=none --overwrite --size 360x576 --compress=$codec "$source.avi" c.avi
    got=$(ffprobe -v error -read_intervals %+#2 -show_entries frame=interlaced_frame,top_field_first \
      -of csv=p=0 c.avi | sed -n 1p | tr -d ' ,')
    want=$([ "$order" = tt ] && echo 11 || echo 10)
    [ "$got" = "$want" ] || fail "$source with $codec: frames coded as '$got', not '$want'"
    [ "$(fields_of c.avi)" = "2 $([ "$order" = tt ] && echo 0 || echo 1)" ] ||
      fail "$source with $codec: vprp says '$(fields_of c.avi)'"
  done
done
# Each field's colours stay its own through 4:2:0: decoded field by field, the compressed kept
# fields are near their source (converted as frames, the fields' colours mix: about 27 dB).
"$convert" --progress=none --overwrite bottom.avi kept.avi
"$vidcrunch" kept.avi kept264.avi /console /codec:h264 /quality:10 >/dev/null
near=$(ffmpeg -v info -i kept264.avi -i kept.avi \
  -lavfi '[0:v]scale=interl=1,format=bgr24[a];[1:v]format=bgr24[b];[a][b]psnr' -f null - 2>&1 |
  sed -n 's/.*average:\([0-9.]*\).*/\1/p')
at_least "$near" 35 || fail "the compressor mixed the fields' colours ($near dB)"
# A height H.264 can't crop to as interlaced: progressive frames, a note, fields still said.
ffmpeg -v error -f lavfi -i testsrc2=size=352x286:rate=50 -t 0.6 \
  -vf tinterlace=mode=interleave_top,setfield=tff -c:v mpeg2video -flags +ildct+ilme -q:v 3 odd.avi
"$convert" --progress=none --overwrite odd.avi odd_kept.avi
"$vidcrunch" odd_kept.avi odd264.avi /console /codec:h264 >/dev/null 2>err.txt
grep -q "not a multiple of 4" err.txt || fail "no note on the progressive coding: $(cat err.txt)"
[ "$(ffprobe -v error -show_entries stream=field_order -of csv=p=0 odd264.avi)" = progressive ] ||
  fail "a height of 286 was coded as interlaced"
[ "$(fields_of odd264.avi)" = "2 0" ] || fail "the odd-height file no longer says it holds fields"
echo "fields: ok"
