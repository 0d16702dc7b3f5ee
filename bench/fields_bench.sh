#!/usr/bin/env bash
# Interlaced and progressive DV through reframe-convert, against the truth and against ffmpeg.
# Three moving scenes at 50 frames a second (testsrc2; a pan across a photograph; small text
# and digits scrolling fast) are woven into 25 frames of two fields, bottom field first as camcorders do and top
# field first, and also shot progressive at 25 frames a second; all are stored as PAL DV, which
# flags every frame interlaced. Each is shrunk to 360x288, averaged. PSNR is taken on the BGR24
# result, over all frames, against the 50 p frame of each first field's moment scaled the same
# way (area). Also: a progressive set of fine stripes and small text, where a comb threshold
# alone would fire, and the time deciding and deinterlacing take.
# usage: bench/fields_bench.sh BUILD_BIN [SECONDS]   (prints a Markdown table)
set -euo pipefail
bin=$(cd "$1" && pwd)
seconds=${2:-8}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work"

# A photograph stand-in: ImageMagick's built-in picture, scaled up, for the pan.
convert rose: -resize 2400x1600\! -modulate 100,130 photo.png
scene() { # NAME RATE: the scene as a lavfi input at RATE frames a second
  case $1 in
    testsrc2) echo "-f lavfi -i testsrc2=size=720x576:rate=$2" ;;
    pan) echo "-loop 1 -framerate $2 -i photo.png -vf crop=720:576:x='mod(t*420\,1600)':y='200+80*sin(t)'" ;;
    detail) echo "-f lavfi -i testsrc=size=720x576:rate=$2 -vf scroll=h=0.006:v=0.003" ;;
  esac
}
make_source() { # NAME: woven both ways, progressive, and the truth
  local name=$1
  # shellcheck disable=SC2046 # the scene's words
  ffmpeg -v error $(scene "$name" 50) -t "$seconds" -pix_fmt yuv420p -c:v ffv1 "$name-50p.nut"
  ffmpeg -v error -i "$name-50p.nut" -vf tinterlace=mode=interleave_bottom,setfield=bff \
    -c:v dvvideo -pix_fmt yuv420p "$name-bff.avi"
  ffmpeg -v error -i "$name-50p.nut" -vf tinterlace=mode=interleave_top,setfield=tff \
    -c:v dvvideo -pix_fmt yuv420p "$name-tff.avi"
  ffmpeg -v error -i "$name-50p.nut" -vf "select='not(mod(n\,2))',setpts=N/25/TB" -r 25 \
    -c:v dvvideo -pix_fmt yuv420p "$name-prog.avi"
  ffmpeg -v error -i "$name-50p.nut" \
    -vf "select='not(mod(n\,2))',format=bgr24,scale=360:288:flags=area" -c:v rawvideo \
    -f nut "$name-truth.nut"
}
psnr() { # FILE TRUTH
  ffmpeg -v info -i "$1" -i "$2" -lavfi '[0:v]format=bgr24[a];[1:v]format=bgr24[b];[a][b]psnr' \
    -f null - 2>&1 | sed -n 's/.*average:\([0-9.]*\).*/\1/p'
}
ours() { "$bin/reframe-convert" --progress=none --overwrite --average --size 360x288 "$@"; }

echo "| Scene | Source | Plain stretch (--deinterlace=off) | Reframe (auto) | ffmpeg bwdif + area |"
echo "|---|---|---:|---:|---:|"
for name in testsrc2 pan detail; do
  make_source "$name"
  for kind in bff tff prog; do
    ours --deinterlace=off "$name-$kind.avi" off.avi
    ours "$name-$kind.avi" auto.avi
    ffmpeg -v error -y -i "$name-$kind.avi" \
      -vf "bwdif=mode=send_frame,format=bgr24,scale=360:288:flags=area" -c:v rawvideo -f nut ff.nut
    printf '| %s | %s | %s | %s | %s |\n' "$name" "$kind" "$(psnr off.avi "$name-truth.nut")" \
      "$(psnr auto.avi "$name-truth.nut")" "$(psnr ff.nut "$name-truth.nut")"
  done
done

# Progressive stripes and small text: every frame must pass untouched.
ffmpeg -v error -f lavfi \
  -i "nullsrc=s=720x576:r=25,geq=lum='128+90*sin((X+5*N)/7)*(1-2*mod(Y+N\,2))':cb=128:cr=128" \
  -t "$seconds" -c:v dvvideo -pix_fmt yuv420p stripes.avi
ffmpeg -v error -f lavfi -i testsrc=size=720x576:rate=25 -vf scroll=h=0.01 -t "$seconds" \
  -c:v dvvideo -pix_fmt yuv420p text.avi
echo
echo "| Progressive set | Frames the same as with --deinterlace=off |"
echo "|---|---|"
for name in stripes text testsrc2-prog pan-prog detail-prog; do
  ours --deinterlace=off "$name.avi" off.avi
  ours "$name.avi" auto.avi
  echo "| $name | $(cmp -s off.avi auto.avi && echo "all (identical files)" || echo "**not all**") |"
done

# The cost, as the ratio of the job's time with deciding (and deinterlacing) to without.
echo
echo "| Cost | Source | auto / off (median of 5, wall) |"
echo "|---|---|---:|"
for kind in prog bff; do
  ratio=$(farm-bench -n 5 --timeout 600 \
    --vs "$bin/reframe-convert --progress=none --overwrite --average --size 360x288 --deinterlace=off testsrc2-$kind.avi b.avi" \
    -- "$bin/reframe-convert" --progress=none --overwrite --average --size 360x288 \
    "testsrc2-$kind.avi" a.avi 2>&1 | awk '/^A\/B wall/ { print $3 }')
  echo "| $([ "$kind" = prog ] && echo deciding || echo "deciding and deinterlacing") | testsrc2 $kind | $ratio |"
done
