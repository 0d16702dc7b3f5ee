#!/usr/bin/env bash
# Large and long files through the real window on a virtual display: a source and a
# destination above 4 GiB (OpenDML, several RIFF chunks), 4096 x 4096 frames, and sources of
# 1, 10 and 60 minutes whose conversion must not need more memory the longer they are.
# Slow (over two minutes on two cores, many more under AddressSanitizer) and needs about 10 GB
# of free disk at a time.
# SIZE_ENDURANCE_QUICK=1 shrinks every case, to check the script itself in a few minutes.
# usage: size_endurance_test.sh REFRAME
set -euo pipefail
reframe=$1

work=$(mktemp -d)
# shellcheck source=../xvfb_session.sh
source "$(dirname "$0")/../xvfb_session.sh"

if [ -n "${SIZE_ENDURANCE_QUICK:-}" ]; then
  large_seconds=12 large_bytes=$((256 * 1024 * 1024)) square_frames=3 minutes=(0.2 0.5 1)
else
  # 921,600 bytes a frame at 25 frames a second: 195 s is 4875 frames, 4.5 GB with the audio.
  large_seconds=195 large_bytes=4294967296 square_frames=10 minutes=(1 10 60)
fi
# A whole job, from the window opening to the last box, may take minutes on a loaded machine.
# shellcheck disable=SC2034  # read by run_job
job_wait=1200

start_display
# The tool alone, without a compressor beside it: the destination stays uncompressed, and
# each job ends with the box saying the compressor is missing, then "Information".
mkdir "$work/app"
cp "$reframe" "$work/app/reframe"
tool="$work/app/reframe"

# Called by run_job before the window closes: the job's seconds so far and the process's peak
# resident memory in KiB, which /proc no longer holds once it has exited.
before_close() {
  job_seconds=$(awk -v s="$job_started" -v e="$(date +%s.%N)" 'BEGIN { printf "%.1f", e - s }')
  peak_kib=$(awk '/^VmHWM:/ { print $2 }' "/proc/$1/status")
  [ -n "$peak_kib" ] || fail "no VmHWM for process $1"
}
convert() {
  job_seconds="" peak_kib=""
  job_started=$(date +%s.%N)
  run_job "$tool" "$@" ERROR
  [ -n "$peak_kib" ] || fail "the job on $2 ended without a memory reading"
}
mib() { awk -v k="$1" 'BEGIN { printf "%.1f", k / 1024 }'; }

make_avi() {  # DESTINATION SIZE RATE SECONDS VIDEO-CODEC-OPTIONS...
  local file=$1 size=$2 rate=$3 seconds=$4
  shift 4
  ffmpeg -v error -f lavfi -i "testsrc2=size=$size:rate=$rate" \
    -f lavfi -i sine=frequency=440:sample_rate=48000 -t "$seconds" -ac 2 "$@" \
    -c:a pcm_s16le "$file" || fail "ffmpeg could not make $file"
}

# Packets in the first video stream; with one frame a chunk, the frames the index holds.
packet_count() {
  ffprobe -v error -count_packets -select_streams v:0 -show_entries stream=nb_read_packets \
    -of csv=p=0 "$1" 2>/dev/null | head -n1
}
# Data chunks of every stream together: the entries an index of the file holds.
chunk_count() {
  ffprobe -v error -count_packets -show_entries stream=nb_read_packets -of csv=p=0 "$1" \
    2>/dev/null | awk '{ n += $1 } END { print n }'
}

# Decodes every frame and every sample of $1 in one pass and prints the MD5 sums of the video
# and of the audio. Any complaint from ffmpeg fails: a truncated last frame, a chunk the index
# points past, a size that wrapped at 4 GiB.
stream_sums() {
  ffmpeg -v error -y -i "$1" -map 0:v:0 -f md5 "$work/video.md5" \
    -map 0:a:0 -f md5 "$work/audio.md5" 2>"$work/decode.err" ||
    fail "ffmpeg could not decode $1: $(head -c 500 "$work/decode.err")"
  [ ! -s "$work/decode.err" ] || fail "decoding $1: $(head -c 500 "$work/decode.err")"
  echo "$(cat "$work/video.md5") $(cat "$work/audio.md5")"
}

# Walks the top-level RIFF chunks of $1 and prints their form types. Each chunk's size must
# lead exactly to the next one, and the last must end where the file ends: a size that wrapped
# past 4 GiB, or a file that grew past its last chunk, stops the walk.
four_bytes() { dd if="$1" bs=4 count=1 skip="$2" iflag=skip_bytes status=none; }
riff_forms() {
  local file=$1 offset=0 end id size forms=()
  end=$(stat -c %s "$file")
  while [ "$offset" -lt "$end" ]; do
    id=$(four_bytes "$file" "$offset" | tr -d '\0')
    size=$(od -An -tu4 --endian=little -j "$((offset + 4))" -N 4 "$file" | tr -d ' ')
    if [ "$id" != RIFF ] || [ -z "$size" ]; then fail "$file: no RIFF chunk at byte $offset"; fi
    forms+=("$(four_bytes "$file" "$((offset + 8))" | tr ' \0' _.)")
    offset=$((offset + 8 + size + (size & 1)))
  done
  [ "$offset" = "$end" ] || fail "$file: its last RIFF chunk ends at $offset, the file at $end"
  [ "${forms[0]}" = AVI_ ] || fail "$file starts with a '${forms[0]}' RIFF, not 'AVI '"
  local form
  for form in "${forms[@]:1}"; do
    [ "$form" = AVIX ] || fail "$file: a later RIFF chunk is '$form', not 'AVIX'"
  done
  echo "${forms[*]}"
}

expect_frames() {  # FILE CODEC WIDTH,HEIGHT FRAMES
  local codec size frames
  codec=$(probe "$1" v:0 codec_name)
  size=$(probe "$1" v:0 width,height)
  frames=$(packet_count "$1")
  [ "$codec" = "$2" ] || fail "$1 holds '$codec' video, not $2"
  [ "$size" = "$3" ] || fail "$1 is $size, not $3"
  [ "$frames" = "$4" ] || fail "$1 has $frames frames, the source $4"
}

# --- above 4 GiB in and out: an OpenDML source ffmpeg wrote, kept at its size ---------------
# At the same size the pixels come through unchanged, so the whole video, past the 4 GiB mark
# included, is compared with the source's.
echo "case: above 4 GiB"
make_avi "$work/large.avi" 640x480 25 "$large_seconds" -c:v rawvideo -pix_fmt bgr24
large_size=$(stat -c %s "$work/large.avi")
[ "$large_size" -gt "$large_bytes" ] || fail "the source has only $large_size bytes"
large_riffs=$(riff_forms "$work/large.avi")
large_frames=$(packet_count "$work/large.avi")
large_sums=$(stream_sums "$work/large.avi")
convert "$work/large.avi" "$work/large-out.avi" 640 480
out_size=$(stat -c %s "$work/large-out.avi")
[ "$out_size" -gt "$large_bytes" ] || fail "the destination has only $out_size bytes"
out_riffs=$(riff_forms "$work/large-out.avi")
expect_frames "$work/large-out.avi" rawvideo 640,480 "$large_frames"
out_sums=$(stream_sums "$work/large-out.avi")
[ "$out_sums" = "$large_sums" ] || fail "the destination's frames or samples are not the source's"
echo "  source $large_size bytes ($large_riffs), destination $out_size bytes ($out_riffs)"
echo "  $large_frames frames, $job_seconds s, VmHWM $(mib "$peak_kib") MiB"
rm -f "$work/large.avi" "$work/large-out.avi"

# --- 4096 x 4096 frames: made smaller, and kept (pixels unchanged) ------------------------
echo "case: 4096 x 4096"
make_avi "$work/square.avi" 4096x4096 5 "$((square_frames / 5)).$((square_frames % 5 * 2))" \
  -c:v rawvideo -pix_fmt bgr24
square_size=$(stat -c %s "$work/square.avi")
square_sums=$(stream_sums "$work/square.avi")
[ "$(packet_count "$work/square.avi")" = "$square_frames" ] || fail "the source lacks frames"
for side in 1024 4096; do
  convert "$work/square.avi" "$work/square-out.avi" "$side" "$side"
  expect_frames "$work/square-out.avi" rawvideo "$side,$side" "$square_frames"
  sums=$(stream_sums "$work/square-out.avi")
  [ "${sums#* }" = "${square_sums#* }" ] || fail "the audio changed at $side x $side"
  if [ "$side" = 4096 ]; then
    [ "$sums" = "$square_sums" ] || fail "the frames changed although their size did not"
  fi
  echo "  $square_frames frames, $square_size bytes -> ${side}x$side" \
    "$(stat -c %s "$work/square-out.avi") bytes, $job_seconds s, VmHWM $(mib "$peak_kib") MiB"
  rm -f "$work/square-out.avi"
done
rm -f "$work/square.avi"

# --- length: the same small frames for 1, 10 and 60 minutes ----------------------------------
# What may grow with the length is the two indexes: the source's, read whole when it is
# opened, and the destination's, written at its end. Measured, that is about 22 bytes a chunk
# of both files together (60 minutes: 259,000 chunks in each, 11 MiB more than at 1 minute).
# The bound allows 40 bytes a chunk (an entry is 16 bytes, a growing table may hold twice its
# entries, and the lookups by sample need a few bytes more) and 4 MiB for the allocator and
# the threads' timing: 24 MiB at 60 minutes. Keeping one 96 x 72 frame a frame would exceed it
# about 80 times over, one 4 KiB audio buffer a chunk about 28 times.
echo "case: length"
sanitized=""
if grep -qa __asan_init "$tool"; then
  sanitized=yes
  echo "  (an AddressSanitizer build: the peaks are shown, not bounded)"
fi
printf '  %8s %8s %12s %9s %10s\n' minutes frames "src bytes" seconds "VmHWM MiB"
first_peak="" first_chunks=""
for minute in "${minutes[@]}"; do
  seconds=$(awk -v m="$minute" 'BEGIN { print m * 60 }')
  make_avi "$work/long.avi" 160x120 25 "$seconds" -c:v mjpeg -q:v 5 -pix_fmt yuvj420p
  long_size=$(stat -c %s "$work/long.avi")
  long_frames=$(packet_count "$work/long.avi")
  [ "$long_frames" = "$((${seconds%.*} * 25))" ] || fail "the source has $long_frames frames"
  long_sums=$(stream_sums "$work/long.avi")
  convert "$work/long.avi" "$work/long-out.avi" 96 72
  expect_frames "$work/long-out.avi" rawvideo 96,72 "$long_frames"
  riff_forms "$work/long-out.avi" >/dev/null
  sums=$(stream_sums "$work/long-out.avi")
  [ "${sums#* }" = "${long_sums#* }" ] || fail "the audio of $minute minutes changed"
  chunks=$(($(chunk_count "$work/long.avi") + $(chunk_count "$work/long-out.avi")))
  printf '  %8s %8s %12s %9s %10s\n' "$minute" "$long_frames" "$long_size" "$job_seconds" \
    "$(mib "$peak_kib")"
  if [ -z "$first_peak" ]; then
    first_peak=$peak_kib first_chunks=$chunks
  elif [ -n "$sanitized" ]; then
    : # the sanitizer's shadow memory and its quarantine of freed blocks would be measured
  else
    allowed=$((first_peak + (chunks - first_chunks) * 40 / 1024 + 4096))
    [ "$peak_kib" -le "$allowed" ] || fail "$minute minutes took $peak_kib KiB at the peak," \
      "${minutes[0]} minutes $first_peak KiB; at most $allowed KiB were allowed"
  fi
  rm -f "$work/long.avi" "$work/long-out.avi"
done

echo "PASS"
