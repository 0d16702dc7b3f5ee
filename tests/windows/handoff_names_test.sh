#!/usr/bin/env bash
# reframe-convert.exe under Wine: names with spaces, apostrophes, Greek, CJK and an emoji in
# source, destination and folder (the same bytes as the Linux build writes for them); the
# hand-off to vidcrunch.exe through CreateProcessW (progress read, exit code honoured, the
# compressed copy put in place) and a compressor that is missing, fails or is ended half-way
# (the uncompressed result kept, exit code 1, nothing else left behind); and --jobs.
# usage: handoff_names_test.sh WINE_RUN WINDOWS_BIN LINUX_BIN FAKE_COMPRESSOR
set -euo pipefail
wine_run=$1
windows_bin=$2
linux_bin=$3
fake=$4

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }
cd "$work"
win() { local p=$1; [ "${p:0:1}" = / ] || p=$PWD/$p; printf 'Z:%s' "${p//\//\\}"; }
probe() { ffprobe -v error -select_streams "$2" -show_entries "stream=$3" -of csv=p=0 "$1" | head -n1; }
frames() { ffprobe -v error -count_frames -select_streams v:0 -show_entries stream=nb_read_frames -of csv=p=0 "$1"; }
# Runs reframe-convert.exe from $bin expecting exit code $1; standard error lands in err.txt.
bin=$windows_bin
expect() {
  local want=$1 got=0
  shift
  "$wine_run" "$bin/reframe-convert.exe" "$@" 2>"$work/err.txt" >/dev/null || got=$?
  [ "$got" = "$want" ] || fail "exit $got, not $want, for: $* ($(cat "$work/err.txt"))"
}
says() { grep -q -- "$1" "$work/err.txt" || fail "expected '$1' on stderr, got: $(cat "$work/err.txt")"; }
only_files() { # FOLDER, then the names expected in it
  local folder=$1 want got
  shift
  want=$(printf '%s\n' "$@" | sort)
  got=$(find "$folder" -maxdepth 1 -type f -printf '%P\n' | sort)
  [ "$got" = "$want" ] || fail "files in $folder: ${got//$'\n'/ }, expected: ${want//$'\n'/ }"
}

# Statically linked: each program needs only DLLs that every Windows has.
for program in reframe-convert.exe vidcrunch.exe; do
  dlls=$(x86_64-w64-mingw32-objdump -p "$windows_bin/$program" | sed -n 's/^\s*DLL Name: //p')
  for dll in $dlls; do
    case ${dll,,} in
      kernel32.dll | msvcrt.dll | bcrypt.dll | shell32.dll | user32.dll | advapi32.dll | ole32.dll) ;;
      *) fail "$program needs $dll, which Windows doesn't have" ;;
    esac
  done
done

ffmpeg -v error -f lavfi -i testsrc2=size=160x120:rate=25 -f lavfi -i sine=frequency=300 -t 1 \
  -c:v mjpeg -q:v 3 -c:a pcm_s16le src.avi

# --- names ------------------------------------------------------------------------------------
folder="folder with space Ω 文件夹"
mkdir -p "$folder"
source_name="Ελληνικά 漢字 🎬 it's.avi"
cp src.avi "$folder/$source_name"
expect 0 --size 80x60 --average "$(win "$folder/$source_name")" "$(win "$folder/out ñ 日本 🎞.avi")"
[ "$(probe "$folder/out ñ 日本 🎞.avi" v:0 codec_name,width,height)" = "rawvideo,80,60" ] ||
  fail "the converted file with a Unicode name is not right"
"$linux_bin/reframe-convert" --size 80x60 --average "$folder/$source_name" linux.avi
cmp linux.avi "$folder/out ñ 日本 🎞.avi" || fail "the Unicode-named result differs from Linux's"
only_files "$folder" "$source_name" "out ñ 日本 🎞.avi"

# --- the hand-off to the real compressor ---------------------------------------------------
expect 0 --size 80x60 --compress=mjpeg --progress=json "$(win "$folder/$source_name")" \
  "$(win "$folder/κ 圧縮 🎥.avi")"
[ "$(probe "$folder/κ 圧縮 🎥.avi" v:0 codec_name,width,height)" = "mjpeg,80,60" ] ||
  fail "--compress did not put the compressed copy in place"
[ "$(frames "$folder/κ 圧縮 🎥.avi")" = 25 ] || fail "the compressed copy lost frames"
only_files "$folder" "$source_name" "out ñ 日本 🎞.avi" "κ 圧縮 🎥.avi"
# The compressor's progress lines reach the report.
"$wine_run" "$windows_bin/reframe-convert.exe" --size 80x60 --compress=mjpeg --progress=json \
  "$(win src.avi)" "$(win progress.avi)" >progress.txt 2>err.txt || fail "the job with progress failed"
grep -q '"stage":"compress"' progress.txt || fail "no compressing progress reported: $(head -c 400 progress.txt)"

# --- a compressor that is missing, fails, or is ended -------------------------------------
mkdir lone broken
cp "$windows_bin/reframe-convert.exe" lone/
bin=$work/lone
expect 1 --size 80x60 --compress "$(win src.avi)" "$(win lone/kept.avi)"
says "vidcrunch.exe is missing"
[ "$(probe lone/kept.avi v:0 codec_name)" = rawvideo ] || fail "without a compressor the result was not kept"
only_files lone reframe-convert.exe kept.avi

cp "$windows_bin/reframe-convert.exe" broken/
cp "$fake" broken/vidcrunch.exe
bin=$work/broken
REFRAME_FAKE_COMPRESSOR="fail" expect 1 --size 80x60 --compress "$(win src.avi)" "$(win broken/failed.avi)"
says "the compressor failed (exit code 3); the uncompressed file was kept"
[ "$(probe broken/failed.avi v:0 codec_name)" = rawvideo ] || fail "a failing compressor lost the result"
REFRAME_FAKE_COMPRESSOR="kill" expect 1 --size 80x60 --compress "$(win src.avi)" "$(win broken/ended.avi)"
says "the compressor failed (exit code 9); the uncompressed file was kept"
[ "$(probe broken/ended.avi v:0 codec_name)" = rawvideo ] || fail "an ended compressor lost the result"
only_files broken reframe-convert.exe vidcrunch.exe failed.avi ended.avi

# --- several files in parallel processes: the same bytes as one at a time -----------------
mkdir batch one
cp src.avi batch/a.avi
cp src.avi "batch/b ü.avi"
bin=$windows_bin
expect 0 --size 64x48 --jobs 2 -o "$(win batch/out)" "$(win batch/a.avi)" "$(win "batch/b ü.avi")"
expect 0 --size 64x48 "$(win src.avi)" "$(win one/a.avi)"
cmp batch/out/a.avi one/a.avi || fail "--jobs wrote other bytes for a.avi"
cmp "batch/out/b ü.avi" one/a.avi || fail "--jobs wrote other bytes for b ü.avi"
echo "PASS"
