#!/usr/bin/env bash
# The Windows programs under Wine against the Linux build, on the same sources: raw, MJPEG and
# H.264 with B-frames video with PCM and MP3 sound, one short file for each of twenty further
# codecs, and an OpenDML file above 1 GiB. Every
# destination reframe-convert.exe writes must equal, byte for byte, the one reframe-convert
# writes on Linux, plain and averaged, and vidcrunch.exe /codec:ffv1 must write the same
# compressed file as vidcrunch.exe on Linux.
# usage: same_bytes_test.sh WINE_RUN WINDOWS_BIN LINUX_BIN [codecs|opendml]
# "codecs" (the default) takes every source but the large one; "opendml" the large one alone.
set -euo pipefail
wine_run=$1
windows_bin=$2
linux_bin=$3
mode=${4:-codecs}
for program in "$linux_bin/reframe-convert" "$linux_bin/vidcrunch.exe" \
  "$windows_bin/reframe-convert.exe" "$windows_bin/vidcrunch.exe"; do
  [ -x "$program" ] || [ -f "$program" ] || { echo "FAIL: no $program" >&2; exit 1; }
done

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }
cd "$work"
# A Linux path as Wine's Z: drive shows it.
win() { local p=$1; [ "${p:0:1}" = / ] || p=$PWD/$p; printf 'Z:%s' "${p//\//\\}"; }

make_source() { # NAME, then ffmpeg's output options
  local name=$1 size=$2 seconds=$3
  shift 3
  ffmpeg -v error -f lavfi -i "testsrc2=size=$size:rate=25" -f lavfi -i sine=frequency=440 \
    -t "$seconds" "$@" "$name"
}
sources=()
codec_sources=()
if [ "$mode" = opendml ]; then
  # 1280x720 BGR frames are 2.7 MB: 420 of them pass 1 GiB, so ffmpeg writes OpenDML.
  make_source big.avi 1280x720 16.8 -c:v rawvideo -pix_fmt bgr24 -c:a pcm_s16le
  [ "$(stat -c %s big.avi)" -gt $((1 << 30)) ] || fail "big.avi is not above 1 GiB"
  sources+=(big.avi)
else
  make_source raw.avi 320x240 2 -c:v rawvideo -pix_fmt bgr24 -c:a pcm_s16le
  make_source mjpeg.avi 352x288 2 -c:v mjpeg -q:v 3 -c:a pcm_s16le
  make_source h264.avi 640x360 2 -c:v libx264 -bf 3 -g 25 -pix_fmt yuv420p -c:a libmp3lame -b:a 128k
  sources+=(raw.avi mjpeg.avi h264.avi)

  # One file per further codec an AVI file may carry, each converted once: the Windows build's
  # decoders must be there and give the Linux build's pictures.
  codec() { # NAME, then ffmpeg's video options
    local name=$1
    shift
    make_source "$name.avi" 176x144 1 "$@" -c:a pcm_s16le
    codec_sources+=("$name.avi")
  }
  codec xvid -c:v mpeg4 -vtag XVID -bf 2 -q:v 4
  codec divx3 -c:v msmpeg4 -q:v 4
  codec mp42 -c:v msmpeg4v2 -q:v 4
  codec wmv2 -c:v wmv2 -q:v 4
  codec mpeg2 -c:v mpeg2video -bf 2 -q:v 4
  codec h263 -c:v h263 -q:v 4
  codec flv1 -c:v flv -q:v 4
  codec huffyuv -c:v huffyuv -pix_fmt yuv422p
  codec ffvhuff -c:v ffvhuff -pix_fmt yuv420p
  codec ffv1 -c:v ffv1 -pix_fmt yuv420p
  codec utvideo -c:v utvideo -pix_fmt yuv420p
  codec magicyuv -c:v magicyuv -pix_fmt yuv422p
  codec cinepak -c:v cinepak
  codec msvideo1 -c:v msvideo1
  codec zmbv -c:v zmbv -pix_fmt bgr0
  codec snow -c:v snow -q:v 4
  codec vp8 -c:v libvpx -b:v 300k
  codec png -c:v png
  codec jpegls -c:v jpegls
  # Anamorphic, so that the pixel shape the converter states is compared too.
  make_source dv.avi 720x576 1 -r 25 -c:v dvvideo -pix_fmt yuv420p -aspect 16:9 -c:a pcm_s16le
  codec_sources+=(dv.avi)
  # Woven from 50 moments a second, bottom field first: the Windows build finds the same frames
  # combed and deinterlaces them as the Linux build does.
  ffmpeg -v error -f lavfi -i testsrc2=size=720x576:rate=50 -t 0.5 \
    -vf tinterlace=mode=interleave_bottom,setfield=bff -c:v dvvideo -pix_fmt yuv420p woven.avi
  codec_sources+=(woven.avi)
fi

compared=0
for source in "${codec_sources[@]}"; do
  "$linux_bin/reframe-convert" --size 96x72 --average "$source" "linux.avi" 2>err.txt ||
    fail "Linux: $source: $(cat err.txt)"
  "$wine_run" "$windows_bin/reframe-convert.exe" --size 96x72 --average "$(win "$source")" \
    "$(win windows.avi)" 2>err.txt >/dev/null || fail "Windows: $source: $(cat err.txt)"
  cmp linux.avi windows.avi || fail "$source: the Windows build decoded other pictures"
  compared=$((compared + 1))
  rm -f linux.avi windows.avi
done

for source in "${sources[@]}"; do
  for options in "--size 160x120" "--size 160x120 --average" "--size 401x301 --average" \
    "--size 99x-2 --drop audio"; do
    tag=${source%.avi}-$(printf '%s' "$options" | tr -c 'a-z0-9' '_')
    # shellcheck disable=SC2086 # the options are words
    "$linux_bin/reframe-convert" $options "$source" "linux-$tag.avi" 2>err.txt ||
      fail "Linux: $options $source: $(cat err.txt)"
    # shellcheck disable=SC2086
    "$wine_run" "$windows_bin/reframe-convert.exe" $options "$(win "$source")" \
      "$(win "windows-$tag.avi")" 2>err.txt >/dev/null ||
      fail "Windows: $options $source: $(cat err.txt)"
    cmp "linux-$tag.avi" "windows-$tag.avi" ||
      fail "$options $source: the Windows build wrote other bytes than the Linux build"
    compared=$((compared + 1))
  done
  rm -f linux-* windows-*
done

[ "$mode" = opendml ] && { echo "PASS: $compared pairs of files byte for byte the same"; exit 0; }

# The compressor, on uncompressed files; FFV1 is lossless and exact, so both builds write the
# same stream, and our AVI writer the same file around it: square pixels, and pixels that are
# not square, whose shape both builds state in the codec and the file.
for case in "mjpeg.avi 320x180" "dv.avi 360x240"; do
  read -r source size <<<"$case"
  "$linux_bin/reframe-convert" --overwrite --size "$size" "$source" plain.avi
  "$linux_bin/vidcrunch.exe" plain.avi linux-ffv1.avi /console /codec:ffv1 >/dev/null 2>err.txt ||
    fail "Linux vidcrunch: $(cat err.txt)"
  "$wine_run" "$windows_bin/vidcrunch.exe" "$(win plain.avi)" "$(win windows-ffv1.avi)" /console \
    /codec:ffv1 >/dev/null 2>err.txt || fail "Windows vidcrunch: $(cat err.txt)"
  cmp linux-ffv1.avi windows-ffv1.avi || fail "vidcrunch wrote other bytes on Windows from $source"
  compared=$((compared + 1))
done
[ "$(ffprobe -v error -show_entries stream=display_aspect_ratio -of csv=p=0 windows-ffv1.avi)" = 16:9 ] ||
  fail "the Windows compressor's file is not shown at 16:9"
echo "PASS: $compared pairs of files byte for byte the same"
