#!/usr/bin/env bash
# Builds the Windows programs (scripts/build-windows.sh) and their packages: the installer
# reframe-VERSION-setup.exe and the portable archive reframe-VERSION-windows-x64.zip, in
# build-windows/packages/. Prints the packages' paths.
# usage: scripts/package-windows.sh [cmake options...]
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/build-windows.sh "$@" >&2
dir=build-windows
cmake --build "$dir" --target windows_packages >&2
version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$dir/CMakeCache.txt")
for package in "reframe-$version-setup.exe" "reframe-$version-windows-x64.zip"; do
  [ -f "$dir/packages/$package" ] || { echo "package-windows: no $dir/packages/$package" >&2; exit 1; }
  echo "$PWD/$dir/packages/$package"
done
