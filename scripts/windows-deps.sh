#!/usr/bin/env bash
# Cross-builds the static libraries the Windows programs link: x264 and FFmpeg (libavcodec,
# libavformat's RIFF tag tables, libavfilter's deinterlacer, libavutil, libswscale), from
# Debian's own source packages.
#
#   scripts/windows-deps.sh            prints the prefix that holds lib/, include/ and
#                                      lib/pkgconfig/ (last line of the output)
#
# The result is kept in a cache outside the checkout, keyed by the package versions and by
# this script's build settings, so a fresh clone on the same machine reuses it and a second
# run builds nothing. Sources come through a private apt configuration: it reads the archive's
# address from the machine's own apt sources, keeps its lists and downloads inside the cache,
# and never touches the system's apt lists or lock.
set -euo pipefail

cache_root=${REFRAME_CACHE:-${XDG_CACHE_HOME:-$HOME/.cache}/reframe}/windows
host=x86_64-w64-mingw32
jobs=$(nproc)

# Every video decoder an AVI file may need. Audio is copied, never decoded, so no audio
# decoder is built.
video_decoders=(
  rawvideo bitpacked v210 v210x v308 v408 v410 y41p yuv4 ayuv r210 r10k avrp avui zero12v
  h261 h263 h263i h263p flv h264 hevc mpeg4 msmpeg4v1 msmpeg4v2 msmpeg4v3 mpeg1video
  mpeg2video wmv1 wmv2 wmv3 wmv3image vc1 vc1image mjpeg mjpegb jpegls amv sp5x
  dvvideo huffyuv ffvhuff ffv1 cinepak indeo2 indeo3 indeo4 indeo5 msvideo1 msrle vp3 theora
  vp5 vp6 vp6a vp6f vp7 vp8 vp9 zmbv cscd tscc tscc2 utvideo magicyuv lagarith png apng bmp
  targa tiff qtrle rpza smc eightbps aasc cljr asv1 asv2 fraps loco mszh zlib wnv1 vcr1 snow
  svq1 svq3 dirac prores dnxhd cfhd hq_hqa hqx cllc fic g2m mimic aura aura2 vmnc flashsv
  flashsv2 qpeg kgv1 tdsc rscc screenpresso mss1 mss2 msa1 mts2 truemotion1 truemotion2
  truemotion2rt ulti xan_wc4 zerocodec sheervideo ylc pixlet hap mvc1 mvc2 lscr imm4 imm5
  rv10 rv20 rv30 rv40 sgirle speedhq mpeg1video anm idcin vqa
)
encoders=(mpeg4 mjpeg ffv1 libx264)

ffmpeg_flags=(
  --enable-cross-compile --target-os=mingw32 --arch=x86_64 --cross-prefix="$host-"
  --cc="$host-gcc-posix" --cxx="$host-g++-posix"
  --pkg-config=pkg-config --pkg-config-flags=--static
  --enable-static --disable-shared --enable-gpl --enable-version3
  --disable-autodetect --disable-everything --disable-programs --disable-doc
  --disable-network --disable-avdevice --disable-swresample
  --disable-postproc --disable-debug
  --enable-avcodec --enable-avformat --enable-avfilter --enable-avutil --enable-swscale
  --enable-filter=bwdif  # the deinterlacer; a graph's buffer source and sink are always built
  --enable-zlib --enable-w32threads --enable-libx264
  --enable-bsf=mpeg4_unpack_bframes
)
for d in "${video_decoders[@]}"; do ffmpeg_flags+=(--enable-decoder="$d"); done
for e in "${encoders[@]}"; do ffmpeg_flags+=(--enable-encoder="$e"); done
x264_flags=(--host="$host" --cross-prefix="$host-" --enable-static --disable-cli --bit-depth=8
            --disable-opencl --disable-avs --disable-swscale --disable-lavf --disable-ffms
            --disable-gpac --disable-lsmash)

# ccache, where the machine has it, makes a rebuild after a change of settings quick; it is
# left out of the fingerprint, as it changes no byte of the result.
launcher=()
command -v ccache >/dev/null && launcher=(--cc="ccache $host-gcc-posix")

# The settings' fingerprint: a change of flags or compiler builds a new cache entry.
compiler=$("$host-gcc-posix" -dumpfullversion)
settings=$(printf '%s\n' "${ffmpeg_flags[@]}" "${x264_flags[@]}" "$compiler" | sha256sum | cut -c1-12)

# One build at a time per cache: a second run (another clone, a parallel build) waits for the
# first and then reuses what it made.
mkdir -p "$cache_root"
exec 9>"$cache_root/.lock"
flock 9

# A finished build with these settings is reused without asking the archive anything.
for done_stamp in "$cache_root"/*-"$settings"/.complete; do
  if [ -f "$done_stamp" ]; then
    echo "windows-deps: reusing $(dirname "$done_stamp")" >&2
    dirname "$done_stamp"
    exit 0
  fi
done

# The private apt configuration.
apt_dir=$cache_root/apt
mkdir -p "$apt_dir/lists/partial" "$apt_dir/cache/archives/partial" "$apt_dir/parts"
archive=""
keyring=""
if [ -f /etc/apt/sources.list.d/debian.sources ]; then
  archive=$(awk '/^URIs:/ { print $2; exit }' /etc/apt/sources.list.d/debian.sources)
  keyring=$(awk '/^Signed-By:/ { print $2; exit }' /etc/apt/sources.list.d/debian.sources)
fi
if [ -z "$archive" ] && [ -f /etc/apt/sources.list ]; then
  archive=$(awk '$1 == "deb" && $0 ~ / bookworm / { for (i = 2; i <= NF; i++) if ($i ~ /^[a-z]+:\/\//) { print $i; exit } }' /etc/apt/sources.list)
fi
if [ -z "$archive" ]; then
  echo "windows-deps: no Debian archive address found in /etc/apt/sources.list(.d)" >&2
  exit 1
fi
security=${archive%/debian}/debian-security
signed=""
[ -n "$keyring" ] && signed="[signed-by=$keyring] "
{
  echo "deb-src ${signed}$archive bookworm main"
  echo "deb-src ${signed}$archive bookworm-updates main"
  echo "deb-src ${signed}$security bookworm-security main"
} > "$apt_dir/sources.list"
apt_opts=(
  -o Dir::Etc::SourceList="$apt_dir/sources.list"
  -o Dir::Etc::SourceParts="$apt_dir/parts"
  -o Dir::State::Lists="$apt_dir/lists"
  -o Dir::Cache="$apt_dir/cache"
  -o Debug::NoLocking=1
  -o APT::Sandbox::User=root
)
echo "windows-deps: reading the source lists of $archive" >&2
apt-get "${apt_opts[@]}" -qq update >&2

# The newest version the machine's suites offer; the Linux build's libraries come from the
# same suites, so both builds decode with the same FFmpeg.
newest() {
  apt-cache "${apt_opts[@]}" showsrc "$1" | awk '/^Version:/ { print $2 }' |
    sort -V | tail -1 # dpkg's order agrees with sort -V for these version strings
}
ffmpeg_version=$(newest ffmpeg)
x264_version=$(newest x264)
entry=$cache_root/ffmpeg-${ffmpeg_version//[:~+]/_}-x264-${x264_version//[:~+]/_}-$settings
prefix=$entry
work=$entry.work
rm -rf "$work" "$prefix"
mkdir -p "$work"
echo "windows-deps: building FFmpeg $ffmpeg_version and x264 $x264_version into $prefix" >&2

(cd "$work" && apt-get "${apt_opts[@]}" -qq source "x264=$x264_version" "ffmpeg=$ffmpeg_version" >&2)

# x264 first: FFmpeg's configure looks for it.
x264_src=$(find "$work" -mindepth 1 -maxdepth 1 -type d -name 'x264-*' | head -1)
(cd "$x264_src" && ./configure --prefix="$prefix" "${x264_flags[@]}" >&2 &&
  make -j"$jobs" >&2 && make install-lib-static >&2)

ffmpeg_src=$(find "$work" -mindepth 1 -maxdepth 1 -type d -name 'ffmpeg-*' | head -1)
(
  cd "$ffmpeg_src"
  if ! PKG_CONFIG_LIBDIR="$prefix/lib/pkgconfig" ./configure --prefix="$prefix" \
    "${ffmpeg_flags[@]}" "${launcher[@]}" --extra-cflags="-I$prefix/include" \
    --extra-ldflags="-L$prefix/lib" >configure.log 2>&1; then
    cat configure.log ffbuild/config.log >&2
    exit 1
  fi
  cat configure.log >&2
  # A component name FFmpeg doesn't know is only a warning to configure; here it is an error,
  # so that the list above can't quietly lose a decoder.
  if grep 'did not match anything' configure.log >&2; then exit 1; fi
  make -j"$jobs" >&2
  make install >&2
)

# The pkg-config files point at the prefix they were installed to; keep that true if the
# cache moves by making them relative to their own folder.
for pc in "$prefix"/lib/pkgconfig/*.pc; do
  sed -i "s|$prefix|\${prefix}|g; s|^prefix=.*|prefix=\${pcfiledir}/../..|" "$pc"
done
printf 'ffmpeg %s\nx264 %s\n' "$ffmpeg_version" "$x264_version" > "$prefix/versions"
rm -rf "$work"
touch "$prefix/.complete"
echo "$prefix"
