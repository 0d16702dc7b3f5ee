#!/bin/bash
# Times vidcrunch.exe against ffmpeg's own libx264 encode with the same settings, in one run,
# on a 1280x720 uncompressed clip with PCM audio, and compares the output sizes.
# Usage: compressor_bench.sh PATH/TO/vidcrunch.exe [SECONDS] [REPEATS] [CRF] [PRESET]
set -euo pipefail
VC=${1:?path to vidcrunch.exe}
SECONDS_LONG=${2:-10}
REPEATS=${3:-3}
CRF=${4:-18}
PRESET=${5:-medium}
WORK=$(mktemp -d)
trap 'rm -rf "$WORK"' EXIT
IN=$WORK/in.avi

ffmpeg -nostdin -v error -y -f lavfi -i testsrc2=size=1280x720:rate=25:duration="$SECONDS_LONG" \
  -f lavfi -i sine=frequency=440:sample_rate=48000:duration="$SECONDS_LONG" -ac 2 \
  -c:v rawvideo -pix_fmt bgr24 -c:a pcm_s16le "$IN"

now() { date +%s.%N; }
vc_times=(); ff_times=()
for ((i = 0; i < REPEATS; i++)); do
  # Alternate the two so that load from other jobs falls on both alike.
  t0=$(now)
  "$VC" "$IN" "$WORK/vc.avi" /console /quality:"$CRF" /preset:"$PRESET" > /dev/null
  t1=$(now)
  ffmpeg -nostdin -v error -y -i "$IN" -c:v libx264 -crf "$CRF" -preset "$PRESET" -bf 0 \
    -pix_fmt yuv420p -c:a copy "$WORK/ff.avi"
  t2=$(now)
  vc_times+=("$(echo "$t1 - $t0" | bc)")
  ff_times+=("$(echo "$t2 - $t1" | bc)")
done
best() { printf '%s\n' "$@" | sort -n | head -n1; }
vc=$(best "${vc_times[@]}"); ff=$(best "${ff_times[@]}")
vc_size=$(stat -c %s "$WORK/vc.avi"); ff_size=$(stat -c %s "$WORK/ff.avi")
frames=$((SECONDS_LONG * 25))
echo "input: 1280x720 BGR24, 25 fps, $SECONDS_LONG s, 48 kHz stereo PCM ($(stat -c %s "$IN") bytes)"
echo "settings: crf $CRF, preset $PRESET, no B-frames, yuv420p, default threads; best of $REPEATS runs each"
echo "vidcrunch times: ${vc_times[*]}"
echo "ffmpeg    times: ${ff_times[*]}"
printf 'vidcrunch: %.2f s (%.1f fps), %d bytes\n' "$vc" "$(echo "$frames / $vc" | bc -l)" "$vc_size"
printf 'ffmpeg:    %.2f s (%.1f fps), %d bytes\n' "$ff" "$(echo "$frames / $ff" | bc -l)" "$ff_size"
printf 'speed vidcrunch/ffmpeg: %.3f (goal >= 1.0)\n' "$(echo "$ff / $vc" | bc -l)"
printf 'size  vidcrunch/ffmpeg: %.4f (goal within 0.99..1.01)\n' "$(echo "$vc_size / $ff_size" | bc -l)"
