#!/usr/bin/env bash
# Regenerates the seed corpora in fuzz/corpus/TARGET: tiny files from FFmpeg and GStreamer,
# hand-made layouts from avifile_corpus_gen.cpp, and short texts. The result is committed; run
# this only to change it:  fuzz/make_corpus.sh [TARGET...]  (default: every target)
set -euo pipefail
cd "$(dirname "$0")/.."
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
targets=("$@")
[ ${#targets[@]} -gt 0 ] || targets=(avifile decoder converter compressor child_line number_text)

v=(-f lavfi -i testsrc=size=16x16:rate=25)
a=(-f lavfi -i sine=sample_rate=8000)
ff() { ffmpeg -v error -y -nostdin "$@"; }

# Small files of every video format the decoder takes, shared by the file-based targets.
videos() {
  local out=$1
  ff "${v[@]}" -frames:v 3 -c:v mjpeg "$out/mjpeg.avi"
  ff "${v[@]}" -frames:v 4 -c:v mpeg4 -g 2 -bf 1 "$out/mpeg4-bframes.avi"
  ff "${v[@]}" -frames:v 4 -c:v libx264 -g 2 -bf 1 -pix_fmt yuv420p "$out/h264-bframes.avi"
  ff "${v[@]}" -frames:v 2 -c:v huffyuv "$out/huffyuv.avi"
  ff "${v[@]}" -frames:v 2 -c:v ffv1 "$out/ffv1.avi"
  ff "${v[@]}" -frames:v 2 -c:v rawvideo -pix_fmt pal8 "$out/palette.avi"
  ff "${v[@]}" -frames:v 2 -c:v rawvideo -pix_fmt rgb555le "$out/rgb16.avi"
  ff -f lavfi -i testsrc=size=5x3:rate=10 -frames:v 2 -c:v mpeg4 "$out/mpeg4-odd-size.avi"
  ff "${v[@]}" "${a[@]}" -frames:v 3 -t 0.12 -c:v rawvideo -pix_fmt bgr24 -c:a pcm_s16le "$out/raw-pcm.avi"
  ff "${v[@]}" "${a[@]}" -frames:v 3 -t 0.12 -c:v mjpeg -c:a pcm_u8 "$out/mjpeg-pcm8.avi"
}

# The same files behind a prefix of option bytes that the target reads first.
with_prefix() {
  local out=$1 prefix=$2 f
  for f in "$work"/videos/*.avi; do
    { printf '%b' "$prefix"; cat "$f"; } >"$out/$(basename "$f")"
  done
}

# UTF-16LE text from UTF-8 text with printf escapes.
utf16() { printf '%b' "$1" | iconv -f UTF-8 -t UTF-16LE; }

mkdir -p "$work/videos"
videos "$work/videos"

for target in "${targets[@]}"; do
  out=fuzz/corpus/$target
  mkdir -p "$out"
  rm -f "${out:?}"/*
  case $target in
    avifile)
      g++ -std=c++20 -O1 -o "$work/gen" fuzz/avifile_corpus_gen.cpp
      "$work/gen" "$out"
      ff "${v[@]}" "${a[@]}" -frames:v 3 -t 0.12 -c:v mjpeg -c:a pcm_s16le "$out/ffmpeg-mjpeg-pcm.avi"
      ff "${v[@]}" "${a[@]}" -frames:v 4 -t 0.16 -c:v mpeg4 -g 2 -c:a libmp3lame -b:a 32k "$out/ffmpeg-mpeg4-mp3.avi"
      ff -f lavfi -i testsrc=size=4x4:rate=10 "${a[@]}" -f lavfi -i sine=sample_rate=4000 -map 0 -map 1 -map 2 \
         -frames:v 3 -t 0.3 -c:v rawvideo -pix_fmt bgr24 -c:a:0 pcm_u8 -c:a:1 pcm_s16le "$out/ffmpeg-raw-two-audio.avi"
      gst-launch-1.0 -q videotestsrc num-buffers=3 ! video/x-raw,width=16,height=16,framerate=25/1 ! jpegenc ! \
        avimux name=mux ! filesink location="$out/gstreamer-jpeg-pcm.avi" \
        audiotestsrc num-buffers=2 samplesperbuffer=256 ! audio/x-raw,format=S16LE,rate=8000,channels=1 ! mux. >/dev/null
      ;;
    decoder) cp "$work"/videos/*.avi "$out/" ;;
    # Target size byte (width and height - 1 in its two halves), options byte.
    converter) with_prefix "$out" '\x37\x08' ;;
    # Codec byte: even MJPEG, odd FFV1.
    compressor) with_prefix "$out" '\x00' ;;
    child_line)
      utf16 '0\r\n1\r\n50\r\n100\r\n' >"$out/progress"
      utf16 '12\r34\n56\r\n\r\n' >"$out/mixed-breaks"
      # shellcheck disable=SC2016 # a literal $ starts a hexadecimal number
      utf16 ' 7 \r\n-3\r\n99999999999999999999\r\n$1F\r\nabc\r\n' >"$out/odd-numbers"
      utf16 'Gr\xc3\xbc\xc3\x9fe \xf0\x9f\x8e\xac\r\n' >"$out/non-ascii"
      printf '1\0\r' >"$out/odd-byte-count"
      # The first byte chooses the reader: 0 ReadChildLine, 1 TakeChildLine. Each text for both.
      for f in "$out"/*; do
        { printf '\001'; cat "$f"; } >"$out/take-$(basename "$f")"
        { printf '\000'; cat "$f"; } >"$f.read" && mv "$f.read" "$f"
      done
      ;;
    number_text)
      printf '640x360' >"$out/size"; printf -- '-1x720' >"$out/keep-aspect"; printf -- '1280x-2' >"$out/even-aspect"
      printf '99999999999999999999x1' >"$out/huge"; printf ' 12.7e3 ' >"$out/float"
      # shellcheck disable=SC2016 # a literal $ starts a hexadecimal number
      printf '$7FFFFFFF' >"$out/hex"
      utf16 '4294967296' >"$out/utf16-wraps"; printf '0x0' >"$out/zero"
      ;;
    *) echo "unknown target $target" >&2; exit 2 ;;
  esac
done
for target in "${targets[@]}"; do echo "$target: $(find "fuzz/corpus/$target" -type f | wc -l) files"; done
