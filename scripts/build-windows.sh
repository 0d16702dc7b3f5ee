#!/usr/bin/env bash
# Builds the Windows programs (reframe-convert.exe, vidcrunch.exe) with mingw-w64 into
# build-windows/bin/, statically linked: scripts/build-windows.sh [cmake options...]
# The first run on a machine also cross-builds FFmpeg and x264 (scripts/windows-deps.sh,
# cached under ~/.cache/reframe) and makes the build's Wine prefix for the tests.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh
deps=$(scripts/windows-deps.sh | tail -1)
dir=build-windows
cmake -S . -B "$dir" -G Ninja -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake \
  -DCMAKE_BUILD_TYPE=Release -DREFRAME_WINDOWS_DEPS="$deps" "$@" >/dev/null
# The Wine prefix is made once here: the tests' first starts, in parallel, would race to make it.
if [ ! -f "$dir/wineprefix/system.reg" ]; then
  echo "build-windows: making the Wine prefix $dir/wineprefix" >&2
  WINEPREFIX=$PWD/$dir/wineprefix WINEDEBUG=-all WINEDLLOVERRIDES=mscoree,mshtml= \
    wineboot --init >/dev/null 2>&1
  WINEPREFIX=$PWD/$dir/wineprefix wineserver --wait
fi
cmake --build "$dir" -j"$(nproc)"
