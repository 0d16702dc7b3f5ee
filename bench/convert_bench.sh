#!/usr/bin/env bash
# Conversion speed and peak memory: the engine, run headless by convert_driver, against ffmpeg
# doing the same job (scale with area averaging to uncompressed BGR24, audio copied) on the same
# files in the same run. Runs alternate (engine, ffmpeg, engine, ...), best of RUNS each, so
# that load from other work on the machine falls on both alike.
#
#   bench/convert_bench.sh BUILD/bin/convert_driver [WORK_FOLDER]
#
# Environment: RAW_SECONDS (60), H264_SECONDS (20), RUNS (3), KEEP=1 keeps the sources,
# PARTS (default "raw h264 memory") picks the measurements.
# The 60-second 720p uncompressed source is about 4.2 GB; WORK_FOLDER needs room for it and
# its conversions.
set -euo pipefail

driver=${1:?usage: convert_bench.sh PATH/TO/convert_driver [WORK_FOLDER]}
work=${2:-/work/convert-bench}
raw_seconds=${RAW_SECONDS:-60}
h264_seconds=${H264_SECONDS:-20}
runs=${RUNS:-3}
parts=" ${PARTS:-raw h264 memory} "
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
make_h264() {  # seconds
    local out="$work/src-h264-$1.avi"
    [ -s "$out" ] || ffmpeg -v error -y -f lavfi -i testsrc2=size=1920x1080:rate=25 \
        -f lavfi -i sine=frequency=440:sample_rate=48000 -t "$1" -ac 2 \
        -c:v libx264 -preset veryfast -pix_fmt yuv420p -c:a pcm_s16le "$out"
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

echo "machine: $(lscpu | sed -n 's/^Model name: *//p'), $(nproc) cores"
echo "| Job | Engine wall (s) | ffmpeg wall (s) | Wall ratio | Engine CPU (s) | ffmpeg CPU (s) | CPU ratio | Engine peak RSS (MiB) | ffmpeg peak RSS (MiB) |"
echo "|---|---:|---:|---:|---:|---:|---:|---:|---:|"

phases_raw="not run"
phases_h264="not run"
if want raw; then
    raw=$(make_raw "$raw_seconds")
    compare "raw BGR24 1280x720 ${raw_seconds} s -> 640x360" "$raw" 640 360
    sync
    phases_raw=$("$driver" "$raw" "$work/dst-ours.avi" 640 360 8 --phases)
    rm -f "$work/dst-ours.avi"
    [ "${KEEP:-0}" = 1 ] || rm -f "$raw"
fi

if want h264; then
    h264=$(make_h264 "$h264_seconds")
    compare "H.264 1920x1080 ${h264_seconds} s -> 1280x720" "$h264" 1280 720
    sync
    phases_h264=$("$driver" "$h264" "$work/dst-ours.avi" 1280 720 8 --phases)
    rm -f "$work/dst-ours.avi"
fi

# Peak memory against the length of the video: the same jobs on files of two lengths.
if want memory; then
    compare "H.264 1920x1080 10 s -> 1280x720" "$(make_h264 10)" 1280 720
    compare "H.264 1920x1080 20 s -> 1280x720" "$(make_h264 20)" 1280 720
    compare "raw BGR24 1280x720 10 s -> 640x360" "$(make_raw 10)" 640 360
    compare "raw BGR24 1280x720 20 s -> 640x360" "$(make_raw 20)" 640 360
fi

echo
echo "engine phases, raw:   $phases_raw"
echo "engine phases, H.264: $phases_h264"
