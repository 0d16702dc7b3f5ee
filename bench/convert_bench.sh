#!/usr/bin/env bash
# Conversion speed and peak memory: the engine, run headless by convert_driver, against ffmpeg
# doing the same job (scale with area averaging to uncompressed BGR24, audio copied) on the same
# files in the same run. Runs alternate (engine, ffmpeg, engine, ...), best of RUNS each, so
# that load from other work on the machine falls on both alike. Both run with their default
# threads. Also, in the same run: vidcrunch.exe against ffmpeg + libx264 (compressor_bench.sh),
# and how long the window takes to appear on a virtual display.
#
#   bench/convert_bench.sh BUILD/bin/convert_driver [WORK_FOLDER]
#
# The other programs are taken from the driver's folder (vidcrunch.exe, reframe).
# Environment: RAW_SECONDS (60), H264_SECONDS (20), HUFFYUV_SECONDS (8), RUNS (3), KEEP=1
# keeps the sources, PARTS (default "raw h264 huffyuv memory compressor window") picks the
# measurements.
# The 60-second 720p uncompressed source is about 4.2 GB and the 8-second 2160p HuffYUV one
# about 2 GB; WORK_FOLDER needs room for them and their conversions.
set -euo pipefail

driver=${1:?usage: convert_bench.sh PATH/TO/convert_driver [WORK_FOLDER]}
work=${2:-/work/convert-bench}
raw_seconds=${RAW_SECONDS:-60}
h264_seconds=${H264_SECONDS:-20}
huffyuv_seconds=${HUFFYUV_SECONDS:-8}
runs=${RUNS:-3}
parts=" ${PARTS:-raw h264 huffyuv memory compressor window} "
bin=$(dirname "$driver")
want() { [[ $parts == *" $1 "* ]]; }
timer=/usr/bin/time

[ -x "$driver" ] || { echo "convert_bench: no driver at $driver" >&2; exit 1; }
[ -x "$timer" ] || { echo "convert_bench: $timer is missing (package time)" >&2; exit 1; }
mkdir -p "$work"
cleanup() {
    rm -f "$work"/dst-*.avi "$work"/time.txt
    [ "${KEEP:-0}" = 1 ] || rm -f "$work"/src-*.avi
}
trap cleanup EXIT

# Sources: ffmpeg's moving test pattern with a stereo 48 kHz tone.
make_raw() {  # seconds
    local out="$work/src-raw-$1.avi"
    [ -s "$out" ] || ffmpeg -v error -y -f lavfi -i testsrc2=size=1280x720:rate=25 \
        -f lavfi -i sine=frequency=440:sample_rate=48000 -t "$1" -ac 2 \
        -c:v rawvideo -pix_fmt bgr24 -c:a pcm_s16le "$out"
    echo "$out"
}
make_h264() {  # seconds; 3 B-frames between references, as x264 makes by default
    local out="$work/src-h264-$1.avi"
    [ -s "$out" ] || ffmpeg -v error -y -f lavfi -i testsrc2=size=1920x1080:rate=25 \
        -f lavfi -i sine=frequency=440:sample_rate=48000 -t "$1" -ac 2 \
        -c:v libx264 -preset veryfast -bf 3 -pix_fmt yuv420p -c:a pcm_s16le "$out"
    echo "$out"
}
make_huffyuv() {  # seconds; 4:2:2, HuffYUV's native layout
    local out="$work/src-huffyuv-$1.avi"
    [ -s "$out" ] || ffmpeg -v error -y -f lavfi -i testsrc2=size=3840x2160:rate=25 \
        -f lavfi -i sine=frequency=440:sample_rate=48000 -t "$1" -ac 2 \
        -c:v huffyuv -pix_fmt yuv422p -c:a pcm_s16le "$out"
    echo "$out"
}

# Runs a command under time(1); prints "wall-seconds peak-RSS-KiB cpu-seconds" (user + system,
# all threads). Dirty pages left by the run before are written back first (sync, not timed):
# otherwise each run pays for its predecessor's gigabyte of output through the kernel's
# write-back throttling.
measure() {
    sync
    "$timer" -f "%e %M %U %S" -o "$work/time.txt" "$@" >/dev/null 2>&1 ||
        { echo "convert_bench: failed: $*" >&2; exit 1; }
    awk '{ print $1, $2, $3 + $4 }' "$work/time.txt"
}

min() { awk -v a="$1" -v b="$2" 'BEGIN { print (a < b) ? a : b }'; }

# Engine and ffmpeg on one source, alternating; prints one table row. Wall and CPU times are
# the best of the runs, peak RSS the largest.
compare() {  # label source width height
    local label=$1 src=$2 w=$3 h=$4
    local wall_ours=999999 wall_ff=999999 cpu_ours=999999 cpu_ff=999999 rss_ours=0 rss_ff=0
    local t m c
    for ((i = 0; i < runs; i++)); do
        rm -f "$work/dst-ours.avi" "$work/dst-ffmpeg.avi"
        read -r t m c < <(measure "$driver" "$src" "$work/dst-ours.avi" "$w" "$h" 8)
        wall_ours=$(min "$t" "$wall_ours"); cpu_ours=$(min "$c" "$cpu_ours")
        ((m > rss_ours)) && rss_ours=$m
        rm -f "$work/dst-ours.avi"
        read -r t m c < <(measure ffmpeg -nostdin -v error -y -i "$src" \
            -vf "scale=$w:$h:flags=area" -c:v rawvideo -pix_fmt bgr24 -c:a copy \
            "$work/dst-ffmpeg.avi")
        wall_ff=$(min "$t" "$wall_ff"); cpu_ff=$(min "$c" "$cpu_ff")
        ((m > rss_ff)) && rss_ff=$m
    done
    rm -f "$work/dst-ffmpeg.avi"
    awk -v l="$label" -v o="$wall_ours" -v f="$wall_ff" -v co="$cpu_ours" -v cf="$cpu_ff" \
        -v ro="$rss_ours" -v rf="$rss_ff" 'BEGIN {
            printf "| %s | %.2f | %.2f | %.2fx | %.2f | %.2f | %.2fx | %.0f | %.0f |\n",
                   l, o, f, f / o, co, cf, cf / co, ro / 1024, rf / 1024 }'
}

# Where the engine's time went on one source: decoder (on its own thread), scaling, writing,
# and waiting for a decoded frame.
phases() {  # source width height
    sync
    local line
    line=$("$driver" "$1" "$work/dst-ours.avi" "$2" "$3" 8 --phases)
    rm -f "$work/dst-ours.avi"
    echo "$line"
}

# ffmpeg decoding the source and nothing else (default threads), best of the runs: the
# decoder's share, which no converter built on libavcodec's decoders can go below.
decode_only() {  # source
    local best=999999 t m c
    for ((i = 0; i < runs; i++)); do
        read -r t m c < <(measure ffmpeg -nostdin -v error -i "$1" -map 0:v -f null -)
        best=$(min "$t" "$best")
    done
    echo "$best s wall"
}

echo "machine: $(lscpu | sed -n 's/^Model name: *//p'), $(nproc) cores; $(ffmpeg -version | head -n1)"
echo "| Job | Engine wall (s) | ffmpeg wall (s) | Wall ratio | Engine CPU (s) | ffmpeg CPU (s) | CPU ratio | Engine peak RSS (MiB) | ffmpeg peak RSS (MiB) |"
echo "|---|---:|---:|---:|---:|---:|---:|---:|---:|"

phases_raw="not run"
phases_h264="not run"
phases_huffyuv="not run"
if want raw; then
    raw=$(make_raw "$raw_seconds")
    compare "raw BGR24 1280x720 ${raw_seconds} s -> 640x360" "$raw" 640 360
    phases_raw=$(phases "$raw" 640 360)
    [ "${KEEP:-0}" = 1 ] || rm -f "$raw"
fi

if want h264; then
    h264=$(make_h264 "$h264_seconds")
    compare "H.264 1920x1080 ${h264_seconds} s -> 1280x720" "$h264" 1280 720
    phases_h264="$(phases "$h264" 1280 720); ffmpeg decoding alone: $(decode_only "$h264")"
fi

if want huffyuv; then
    huffyuv=$(make_huffyuv "$huffyuv_seconds")
    compare "HuffYUV 3840x2160 ${huffyuv_seconds} s -> 1920x1080" "$huffyuv" 1920 1080
    phases_huffyuv="$(phases "$huffyuv" 1920 1080); ffmpeg decoding alone: $(decode_only "$huffyuv")"
    [ "${KEEP:-0}" = 1 ] || rm -f "$huffyuv"
fi

# Peak memory against the length of the video: the same jobs on files of other lengths.
if want memory; then
    compare "H.264 1920x1080 10 s -> 1280x720" "$(make_h264 10)" 1280 720
    compare "raw BGR24 1280x720 20 s -> 640x360" "$(make_raw 20)" 640 360
    compare "HuffYUV 3840x2160 2 s -> 1920x1080" "$(make_huffyuv 2)" 1920 1080
    [ "${KEEP:-0}" = 1 ] || rm -f "$work"/src-*.avi
fi

echo
echo "engine phases, raw:     $phases_raw"
echo "engine phases, H.264:   $phases_h264"
echo "engine phases, HuffYUV: $phases_huffyuv"

if want compressor; then
    echo
    "$(dirname "$0")/compressor_bench.sh" "$bin/vidcrunch.exe" 10 "$runs" 18 medium
fi

# From starting the program to its window being mapped on a virtual display with a window
# manager, best and median of 5 starts.
if want window; then
    echo
    "$(dirname "$0")/window_start_bench.sh" "$bin/reframe" 5
fi
