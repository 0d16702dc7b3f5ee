#!/usr/bin/env bash
# Regenerates the seed corpus of the AVI reader fuzzer in fuzz/corpus/avifile: tiny files from
# FFmpeg and GStreamer, and hand-made layouts from avifile_corpus_gen.cpp. The result is
# committed; run this only to change it.
set -euo pipefail
cd "$(dirname "$0")/.."
out=fuzz/corpus/avifile
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir -p "$out"
rm -f "$out"/*.avi

g++ -std=c++20 -O1 -o "$work/gen" fuzz/avifile_corpus_gen.cpp
"$work/gen" "$out"

v="-f lavfi -i testsrc=size=16x16:rate=25"
a="-f lavfi -i sine=sample_rate=8000"
ff() { ffmpeg -v error -y -nostdin "$@"; }
ff $v $a -frames:v 3 -t 0.12 -c:v mjpeg -c:a pcm_s16le "$out/ffmpeg-mjpeg-pcm.avi"
ff $v $a -frames:v 4 -t 0.16 -c:v mpeg4 -g 2 -c:a libmp3lame -b:a 32k "$out/ffmpeg-mpeg4-mp3.avi"
ff -f lavfi -i testsrc=size=4x4:rate=10 $a -f lavfi -i sine=sample_rate=4000 -map 0 -map 1 -map 2 \
   -frames:v 3 -t 0.3 -c:v rawvideo -pix_fmt bgr24 -c:a:0 pcm_u8 -c:a:1 pcm_s16le "$out/ffmpeg-raw-two-audio.avi"
gst-launch-1.0 -q videotestsrc num-buffers=3 ! video/x-raw,width=16,height=16,framerate=25/1 ! jpegenc ! \
  avimux name=mux ! filesink location="$out/gstreamer-jpeg-pcm.avi" \
  audiotestsrc num-buffers=2 samplesperbuffer=256 ! audio/x-raw,format=S16LE,rate=8000,channels=1 ! mux. >/dev/null

ls -l "$out"
