#!/usr/bin/env bash
# Conversion speed and peak memory: the engine, run headless by convert_driver, against ffmpeg
# doing the same job (scale with area averaging to uncompressed BGR24, audio copied) on the same
# files in the same run. Runs alternate (engine, ffmpeg, engine, ...), best of RUNS each, so
# that load from other work on the machine falls on both alike. Both run with their default
# threads. The codecs part makes the same comparison over the codecs AVI files commonly hold
# (H.264, MJPEG, MPEG-4 ASP, DV, HuffYUV, raw) and adds ffmpeg decoding each source on its own,
# a floor that no converter built on libavcodec's decoders can go below. Also, in the same run:
# vidcrunch.exe against ffmpeg + libx264 (compressor_bench.sh), and how long the window takes
# to appear on a virtual display.
#
#   bench/convert_bench.sh BUILD/bin/convert_driver [WORK_FOLDER]
#
# The other programs are taken from the driver's folder (vidcrunch.exe, reframe).
# Environment: RAW_SECONDS (60), H264_SECONDS (20), HUFFYUV_SECONDS (8), CODEC_SECONDS (10,
# the length of the codecs part's sources; its 2160p HuffYUV one takes HUFFYUV_SECONDS when
# that is set), RUNS (3), KEEP=1 keeps the sources, PARTS (default "raw h264 huffyuv memory
# codecs compressor window") picks the measurements.
# The 60-second 720p uncompressed source is about 4.2 GB and the 8-second 2160p HuffYUV one
# about 2 GB; WORK_FOLDER needs room for them and their conversions. The codecs part's sources
# at 10 seconds come to about 4.5 GB together (2.6 GB of it the 2160p HuffYUV).
set -euo pipefail

driver=${1:?usage: convert_bench.sh PATH/TO/convert_driver [WORK_FOLDER]}
work=${2:-/work/convert-bench}
raw_seconds=${RAW_SECONDS:-60}
h264_seconds=${H264_SECONDS:-20}
huffyuv_seconds=${HUFFYUV_SECONDS:-8}
codec_seconds=${CODEC_SECONDS:-10}
codec_huffyuv_seconds=${HUFFYUV_SECONDS:-$codec_seconds}
runs=${RUNS:-3}
parts=" ${PARTS:-raw h264 huffyuv memory codecs compressor window} "
bin=$(dirname "$driver")
want() { [[ $parts == *" $1 "* ]]; }
timer=/usr/bin/time

[ -x "$driver" ] || { echo "convert_bench: no driver at $driver" >&2; exit 1; }
[ -x "$timer" ] || { echo "convert_bench: $timer is missing (package time)" >&2; exit 1; }
mkdir -p "$work"
cleanup() {
    rm -f "$work"/dst-*.avi "$work"/time.txt "$work"/partial-*.avi
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

# The codecs part's sources. Each is written under another name first and renamed when ffmpeg
# has finished, so that an interrupted encode is never taken for a finished source next time.
make_coded() {  # name seconds size encoder-options...
    local name=$1 seconds=$2 size=$3
    shift 3
    local out="$work/src-$name-$seconds.avi"
    if [ ! -s "$out" ]; then
        ffmpeg -nostdin -v error -y -f lavfi -i "testsrc2=size=$size:rate=25" \
            -f lavfi -i sine=frequency=440:sample_rate=48000 -t "$seconds" -ac 2 \
            "$@" -c:a pcm_s16le "$work/partial-$name.avi" ||
            { echo "convert_bench: could not make $out" >&2; return 1; }
        mv "$work/partial-$name.avi" "$out"
    fi
    echo "$out"
}
make_mjpeg() {  # seconds; ffmpeg's MJPEG encoder gives full-range 4:2:0 (yuvj420p)
    make_coded mjpeg "$1" 1920x1080 -c:v mjpeg -q:v 3
}
# MPEG-4 ASP as Xvid writes it, 2 B-frames between references. libxvid when this ffmpeg has
# it, since that is what made most such files; otherwise ffmpeg's own encoder with Xvid's tag.
# The name records which, so a source made by the other encoder is not reused.
mpeg4_encoder=mpeg4
[[ $(ffmpeg -hide_banner -encoders 2>/dev/null) == *" libxvid "* ]] && mpeg4_encoder=libxvid
make_mpeg4() {  # seconds
    make_coded "mpeg4-$mpeg4_encoder" "$1" 1280x720 \
        -c:v "$mpeg4_encoder" -vtag XVID -bf 2 -q:v 4
}
make_dv() {  # seconds; PAL DV25, 4:2:0
    make_coded dv "$1" 720x576 -c:v dvvideo -pix_fmt yuv420p -r 25 -s 720x576
}
make_huffyuv_1080() {  # seconds; 4:2:2, as make_huffyuv but 1920x1080
    make_coded huffyuv1080 "$1" 1920x1080 -c:v huffyuv -pix_fmt yuv422p
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

# One source of the codecs part: the engine, ffmpeg converting, and ffmpeg decoding alone,
# alternating in that order so that outside load falls on all three alike; prints one table
# row. Wall and CPU times are the best of the runs, peak RSS the largest. Both converters use
# the same libavcodec decoder, so engine wall / decoding wall is what the engine adds on top of
# decoding (1.00x would be a free conversion).
codec_case() {  # label source width height
    local label=$1 src=$2 w=$3 h=$4
    local wall_ours=999999 wall_ff=999999 wall_dec=999999 cpu_ours=999999 cpu_ff=999999
    local rss_ours=0 rss_ff=0 t m c i
    for ((i = 0; i < runs; i++)); do
        rm -f "$work/dst-ours.avi" "$work/dst-ffmpeg.avi"
        read -r t m c < <(measure "$driver" "$src" "$work/dst-ours.avi" "$w" "$h" 8)
        wall_ours=$(min "$t" "$wall_ours"); cpu_ours=$(min "$c" "$cpu_ours")
        rss_ours=$((m > rss_ours ? m : rss_ours))
        rm -f "$work/dst-ours.avi"
        read -r t m c < <(measure ffmpeg -nostdin -v error -y -i "$src" \
            -vf "scale=$w:$h:flags=area" -c:v rawvideo -pix_fmt bgr24 -c:a copy \
            "$work/dst-ffmpeg.avi")
        wall_ff=$(min "$t" "$wall_ff"); cpu_ff=$(min "$c" "$cpu_ff")
        rss_ff=$((m > rss_ff ? m : rss_ff))
        rm -f "$work/dst-ffmpeg.avi"
        read -r t m c < <(measure ffmpeg -nostdin -v error -i "$src" -map 0:v -f null -)
        wall_dec=$(min "$t" "$wall_dec")
    done
    # time(1) reports wall time in hundredths, so a very short run can read 0.00.
    awk -v l="$label" -v o="$wall_ours" -v f="$wall_ff" -v co="$cpu_ours" -v cf="$cpu_ff" \
        -v ro="$rss_ours" -v rf="$rss_ff" -v d="$wall_dec" '
        function ratio(a, b) { return b > 0 ? sprintf("%.2fx", a / b) : "-" }
        BEGIN {
            printf "| %s | %.2f | %.2f | %s | %.2f | %.2f | %.0f | %.0f | %.2f | %s |\n",
                   l, o, f, ratio(f, o), co, cf, ro / 1024, rf / 1024, d, ratio(o, d) }'
}

# A codecs row, then one more run of the engine (untimed) for its phases, kept for after the
# table so the table stays in one piece for pasting.
codec_phases=()
codec() {  # short-name label source width height
    codec_case "$2" "$3" "$4" "$5"
    codec_phases+=("$(printf '%-15s' "$1:") $(phases "$3" "$4" "$5")")
}

echo "machine: $(lscpu | sed -n 's/^Model name: *//p'), $(nproc) cores; $(ffmpeg -version | head -n1)"
if want raw || want h264 || want huffyuv || want memory; then
    echo "| Job | Engine wall (s) | ffmpeg wall (s) | Wall ratio | Engine CPU (s) | ffmpeg CPU (s) | CPU ratio | Engine peak RSS (MiB) | ffmpeg peak RSS (MiB) |"
    echo "|---|---:|---:|---:|---:|---:|---:|---:|---:|"
fi

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

if want raw || want h264 || want huffyuv || want memory; then
    echo
    echo "engine phases, raw:     $phases_raw"
    echo "engine phases, H.264:   $phases_h264"
    echo "engine phases, HuffYUV: $phases_huffyuv"
fi

# The codecs AVI files commonly hold, one row each. The H.264 source is the memory part's
# 10-second one (reused when kept); the 2160p HuffYUV one can be long and large, so it and the
# 1080p one are deleted as soon as they are done with.
if want codecs; then
    s=$codec_seconds
    echo
    echo "codecs, best of $runs runs, peak RSS the largest;" \
        "engine / decoding = engine wall / ffmpeg decoding alone wall:"
    echo
    echo "| Job | Engine wall (s) | ffmpeg wall (s) | Wall ratio | Engine CPU (s) | ffmpeg CPU (s) | Engine peak RSS (MiB) | ffmpeg peak RSS (MiB) | ffmpeg decoding alone (s) | Engine / decoding |"
    echo "|---|---:|---:|---:|---:|---:|---:|---:|---:|---:|"
    src=$(make_h264 "$s")
    codec "H.264" "H.264 1920x1080 (x264 veryfast, 3 B-frames), $s s -> 1280x720" "$src" 1280 720
    src=$(make_mjpeg "$s")
    codec "MJPEG" "MJPEG 1920x1080 yuvj420p (q 3), $s s -> 1280x720" "$src" 1280 720
    src=$(make_mpeg4 "$s")
    codec "MPEG-4 ASP" "MPEG-4 ASP 1280x720 ($mpeg4_encoder, XVID, 2 B-frames), $s s -> 640x360" \
        "$src" 640 360
    src=$(make_dv "$s")
    codec "DV" "DV PAL 720x576 4:2:0, $s s -> 360x288" "$src" 360 288
    src=$(make_huffyuv_1080 "$s")
    codec "HuffYUV 1080p" "HuffYUV 1920x1080 4:2:2, $s s -> 960x540" "$src" 960 540
    [ "${KEEP:-0}" = 1 ] || rm -f "$src"
    src=$(make_huffyuv "$codec_huffyuv_seconds")
    codec "HuffYUV 2160p" "HuffYUV 3840x2160 4:2:2, $codec_huffyuv_seconds s -> 1920x1080" \
        "$src" 1920 1080
    [ "${KEEP:-0}" = 1 ] || rm -f "$src"
    src=$(make_raw "$s")
    codec "raw" "raw BGR24 1280x720, $s s -> 640x360" "$src" 640 360
    echo
    echo "engine phases (--phases, one more run each):"
    printf '  %s\n' "${codec_phases[@]}"
    [ "${KEEP:-0}" = 1 ] || rm -f "$work"/src-*.avi
fi

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
