#!/usr/bin/env bash
# The Windows programs under Wine against the Linux build, on the same sources: raw, MJPEG and
# H.264 with B-frames video with PCM and MP3 sound, and an OpenDML file above 1 GiB. Every
# destination reframe-convert.exe writes must equal, byte for byte, the one reframe-convert
# writes on Linux, plain and averaged, and vidcrunch.exe /codec:ffv1 must write the same
# compressed file as vidcrunch.exe on Linux.
# usage: same_bytes_test.sh WINE_RUN WINDOWS_BIN LINUX_BIN [quick|full]
set -euo pipefail
wine_run=$1
windows_bin=$2
linux_bin=$3
mode=${4:-quick}
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
make_source raw.avi 320x240 2 -c:v rawvideo -pix_fmt bgr24 -c:a pcm_s16le
make_source mjpeg.avi 352x288 2 -c:v mjpeg -q:v 3 -c:a pcm_s16le
make_source h264.avi 640x360 2 -c:v libx264 -bf 3 -g 25 -pix_fmt yuv420p -c:a libmp3lame -b:a 128k
sources=(raw.avi mjpeg.avi h264.avi)
if [ "$mode" = full ]; then
  # 1280x720 BGR frames are 2.7 MB: 420 of them pass 1 GiB, so ffmpeg writes OpenDML.
  make_source big.avi 1280x720 16.8 -c:v rawvideo -pix_fmt bgr24 -c:a pcm_s16le
  [ "$(stat -c %s big.avi)" -gt $((1 << 30)) ] || fail "big.avi is not above 1 GiB"
  sources+=(big.avi)
fi

compared=0
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

# The compressor, on one uncompressed file; FFV1 is lossless and exact, so both builds write
# the same stream, and our AVI writer the same file around it.
"$linux_bin/reframe-convert" --size 320x180 mjpeg.avi plain.avi
"$linux_bin/vidcrunch.exe" plain.avi linux-ffv1.avi /console /codec:ffv1 >/dev/null 2>err.txt ||
  fail "Linux vidcrunch: $(cat err.txt)"
"$wine_run" "$windows_bin/vidcrunch.exe" "$(win plain.avi)" "$(win windows-ffv1.avi)" /console \
  /codec:ffv1 >/dev/null 2>err.txt || fail "Windows vidcrunch: $(cat err.txt)"
cmp linux-ffv1.avi windows-ffv1.avi || fail "vidcrunch /codec:ffv1 wrote other bytes on Windows"
compared=$((compared + 1))
echo "PASS: $compared pairs of files byte for byte the same"
