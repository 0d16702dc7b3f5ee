#!/usr/bin/env bash
# Writes that fail as on a broken or full disk (EIO, ENOSPC) and writes cut short, at the
# first, a middle and the last write of a job, for reframe-convert and for vidcrunch.exe, made
# by a preload shim. A failed job must remove its output, say so, and leave the source and
# every other file alone; a short write must change nothing in the result.
# usage: write_faults_test.sh REFRAME_CONVERT VIDCRUNCH SHIM
set -euo pipefail
convert=$1
vidcrunch=$2
shim=$3
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }
# Sanitizer builds check that their runtime comes first; here the shim must.
export ASAN_OPTIONS=${ASAN_OPTIONS:+$ASAN_OPTIONS:}verify_asan_link_order=0

mkdir "$work/in" "$work/out"
ffmpeg -v error -f lavfi -i testsrc2=size=320x240:rate=25 -f lavfi -i sine=frequency=300 -t 3 \
  -c:v rawvideo -pix_fmt bgr24 -c:a pcm_s16le "$work/in/source.avi"
echo "the user's own file" >"$work/out/other.txt"
sums() { (cd "$work" && find in out -type f -print0 | sort -z | xargs -0 md5sum); }

# Runs "$@" with the shim; fault settings come from the environment of the caller.
with_shim() { LD_PRELOAD=$shim REFRAME_FAULT_MATCH=$work/out/ "$@"; }

# Counts the writes into out/ that a clean run of "$@" makes, and keeps its result.
count_writes() {
  rm -f "$work/count"
  REFRAME_FAULT_COUNT=$work/count with_shim "$@" >/dev/null 2>&1 || fail "the clean run failed: $*"
  total=$(tail -n1 "$work/count")
  [ "$total" -ge "${want_writes:-3}" ] || fail "only $total writes: no middle one to break"
  positions=$(printf '%s\n' 1 $(((total + 1) / 2)) "$total" | sort -un | tr '\n' ' ')
}

# check NAME RESULT -- COMMAND...: every fault at the first, a middle and the last write.
check() {
  local name=$1 result=$2
  shift 3
  local clean
  clean=$(md5sum <"$result")
  rm -f "$result"
  local before
  before=$(sums)
  for at in $positions; do
    for kind in eio enospc; do
      local status=0
      REFRAME_FAULT_AT=$at REFRAME_FAULT_KIND=$kind with_shim "$@" >/dev/null 2>"$work/err" || status=$?
      [ "$status" != 0 ] || fail "$name: $kind at write $at of $total was reported as success"
      [ "$(wc -l <"$work/err")" -ge 1 ] || fail "$name: $kind at write $at: no message"
      grep -qiE "$name_message" "$work/err" || fail "$name: $kind at write $at said: $(cat "$work/err")"
      [ ! -e "$result" ] || fail "$name: $kind at write $at left $result behind"
      [ "$(sums)" = "$before" ] || fail "$name: $kind at write $at touched other files"
      [ -z "$(find "$work/out" -name '.reframe-*')" ] || fail "$name: a temporary file was left"
    done
    REFRAME_FAULT_AT=$at REFRAME_FAULT_KIND=short with_shim "$@" >/dev/null 2>"$work/err" ||
      fail "$name: a short write at $at of $total failed the job: $(cat "$work/err")"
    [ "$(md5sum <"$result")" = "$clean" ] || fail "$name: a short write at $at changed the result"
    rm -f "$result"
  done
  echo "$name: failures and short writes at writes ${positions}of $total: ok"
}

# --- the converter --------------------------------------------------------------------------
name_message="couldn't write the destination"
count_writes "$convert" --size 200x150 "$work/in/source.avi" "$work/out/small.avi"
check reframe-convert "$work/out/small.avi" -- "$convert" --size 200x150 "$work/in/source.avi" "$work/out/small.avi"

# --- the compressor -------------------------------------------------------------------------
name_message="disk|written|write|complete"
for codec in ffv1 h264; do
  # A small H.264 file goes out in one write, when the output is completed.
  want_writes=3
  [ $codec = ffv1 ] || want_writes=1
  count_writes "$vidcrunch" "$work/in/source.avi" "$work/out/packed.avi" /codec:$codec
  if [ $codec = h264 ]; then
    # x264's threads may make other, equally good bytes from run to run: the frames are checked.
    frames=$(ffprobe -v error -count_frames -select_streams v:0 -show_entries stream=nb_read_frames \
      -of csv=p=0 "$work/out/packed.avi")
    [ "$frames" = 75 ] || fail "vidcrunch.exe h264: $frames frames"
    rm -f "$work/out/packed.avi"
    for at in $positions; do
      status=0
      REFRAME_FAULT_AT=$at REFRAME_FAULT_KIND=enospc with_shim "$vidcrunch" "$work/in/source.avi" \
        "$work/out/packed.avi" /codec:h264 >/dev/null 2>"$work/err" || status=$?
      if [ "$status" = 0 ] || [ -e "$work/out/packed.avi" ]; then fail "vidcrunch.exe h264: ENOSPC at $at"; fi
    done
    echo "vidcrunch.exe h264: ENOSPC at writes ${positions}of $total: ok"
  else
    check "vidcrunch.exe $codec" "$work/out/packed.avi" -- "$vidcrunch" "$work/in/source.avi" \
      "$work/out/packed.avi" /codec:$codec
  fi
done
echo PASS
