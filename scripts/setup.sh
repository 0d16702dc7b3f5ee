#!/usr/bin/env bash
# Installs every Debian 12 package that building, running and testing Reframe needs.
# Quick when everything is there already: apt is only called for missing packages.
set -euo pipefail

packages=(
  build-essential cmake ninja-build pkg-config clang clang-format clang-tidy shellcheck git
  desktop-file-utils appstream parallel
  qt6-base-dev
  libavcodec-dev libavformat-dev libavfilter-dev libavutil-dev libswscale-dev libx264-dev
  libgtest-dev libgmock-dev libbenchmark-dev libyuv-dev
  xvfb xauth xdotool openbox x11-utils imagemagick
  ffmpeg gstreamer1.0-tools gstreamer1.0-plugins-good
  time
  fonts-urw-base35 fonts-dejavu-core
  # The Windows programs: the cross compiler, what FFmpeg and x264 need to build from their
  # Debian source packages, Wine to run them, and NSIS for their installer.
  g++-mingw-w64-x86-64-posix libz-mingw-w64-dev nasm dpkg-dev wine nsis
  # The Debian package: its build and its checker.
  debhelper lintian
)

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
    missing+=("$p")
  fi
done

if [ ${#missing[@]} -gt 0 ]; then
  echo "setup: installing ${missing[*]}"
  sudo_cmd=()
  [ "$(id -u)" -eq 0 ] || sudo_cmd=(sudo)
  "${sudo_cmd[@]}" apt-get update -qq
  DEBIAN_FRONTEND=noninteractive "${sudo_cmd[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi
