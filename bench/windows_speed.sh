#!/usr/bin/env bash
# reframe-convert.exe under Wine against reframe-convert on Linux, on the same jobs in the same
# run: alternating runs (Linux, Windows, Linux, ...), best of RUNS each, so that load from
# other work falls on both alike. Both use every core.
#
#   bench/windows_speed.sh build/bin build-windows/bin [WORK_FOLDER]
#
# Environment: RUNS (3), SECONDS_OF_VIDEO (10).
set -euo pipefail
linux_bin=${1:?usage: windows_speed.sh LINUX_BIN WINDOWS_BIN [WORK_FOLDER]}
windows_bin=${2:?usage: windows_speed.sh LINUX_BIN WINDOWS_BIN [WORK_FOLDER]}
work=${3:-/tmp/reframe-windows-speed}
runs=${RUNS:-3}
seconds=${SECONDS_OF_VIDEO:-10}
wine_run=$windows_bin/../wine_run.sh
[ -x "$wine_run" ] || { echo "windows_speed: no $wine_run (configure the Windows build with tests)" >&2; exit 1; }
mkdir -p "$work"
trap 'rm -f "$work"/dst-*.avi' EXIT
win() { printf 'Z:%s' "${1//\//\\}"; }
now() { date +%s.%N; }

make_source() { # NAME SIZE, then ffmpeg's output options
  local out=$work/$1 size=$2
  shift 2
  [ -s "$out" ] || ffmpeg -v error -y -f lavfi -i "testsrc2=size=$size:rate=25" \
    -f lavfi -i sine=frequency=440:sample_rate=48000 -t "$seconds" -ac 2 "$@" "$out"
  echo "$out"
}

# Wine's own start-up (about 0.1-2 s per process, its server already running) is part of what
# a user waits for, so it is counted; one untimed start first brings the server up.
"$wine_run" "$windows_bin/reframe-convert.exe" --version >/dev/null

printf '| Job | Linux (s) | Windows under Wine (s) | Wine / Linux |\n|---|---:|---:|---:|\n'
job() { # LABEL SOURCE OPTIONS...
  local label=$1 source=$2 best_linux=999999 best_windows=999999 start t
  shift 2
  for _ in $(seq "$runs"); do
    start=$(now)
    "$linux_bin/reframe-convert" --overwrite "$@" "$source" "$work/dst-linux.avi"
    t=$(awk -v a="$(now)" -v b="$start" 'BEGIN { print a - b }')
    best_linux=$(awk -v t="$t" -v b="$best_linux" 'BEGIN { print (t < b ? t : b) }')
    start=$(now)
    "$wine_run" "$windows_bin/reframe-convert.exe" --overwrite "$@" "$(win "$source")" \
      "$(win "$work/dst-windows.avi")" >/dev/null
    t=$(awk -v a="$(now)" -v b="$start" 'BEGIN { print a - b }')
    best_windows=$(awk -v t="$t" -v b="$best_windows" 'BEGIN { print (t < b ? t : b) }')
  done
  cmp -s "$work/dst-linux.avi" "$work/dst-windows.avi" || echo "windows_speed: $label: outputs differ" >&2
  printf '| %s | %.2f | %.2f | %.2fx |\n' "$label" "$best_linux" "$best_windows" \
    "$(awk -v w="$best_windows" -v l="$best_linux" 'BEGIN { print w / l }')"
}

job "H.264 1280x720 -> 640x360, averaged" \
  "$(make_source src-h264.avi 1280x720 -c:v libx264 -bf 3 -pix_fmt yuv420p -c:a pcm_s16le)" \
  --size 640x360 --average
job "MJPEG 1280x720 -> 640x360, averaged" \
  "$(make_source src-mjpeg.avi 1280x720 -c:v mjpeg -q:v 3 -c:a pcm_s16le)" --size 640x360 --average
job "raw BGR 1280x720 -> 640x360, averaged" \
  "$(make_source src-raw.avi 1280x720 -c:v rawvideo -pix_fmt bgr24 -c:a pcm_s16le)" \
  --size 640x360 --average
