#!/usr/bin/env bash
# Builds the Debian package and checks it with lintian: scripts/package-debian.sh [OUT_DIR]
# The source tree is copied to OUT_DIR (build-debian/ unless given) and built there with
# dpkg-buildpackage, so the tree stays clean and the .deb lands in OUT_DIR, not beside the
# checkout. Prints the path of the .deb on its last line.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh >&2

out=$(realpath -m "${1:-build-debian}")
version=$(dpkg-parsechangelog -S Version)
project_version=$(sed -n 's/^project(Reframe VERSION \([0-9.]*\).*/\1/p' CMakeLists.txt)
if [ "$version" != "$project_version" ]; then
  echo "package-debian: debian/changelog is at $version but the project at $project_version;" \
    "add a changelog entry (dch -v $project_version)" >&2
  exit 1
fi

# The files of the checkout, without build trees: git's list where there is one.
src=$out/reframe-$version
rm -rf "$out"
mkdir -p "$src"
if git rev-parse --is-inside-work-tree >/dev/null 2>&1; then
  git ls-files -z --cached --others --exclude-standard |
    while IFS= read -r -d '' f; do [ -e "$f" ] && printf '%s\0' "$f"; done |
    tar --null -T - -cf - | tar -xf - -C "$src"
else
  tar --exclude='./build*' --exclude=./.git --anchored -cf - . | tar -xf - -C "$src"
fi

echo "package-debian: building reframe $version in $src" >&2
(cd "$src" && DEB_BUILD_OPTIONS="parallel=$(nproc) ${DEB_BUILD_OPTIONS:-}" \
  dpkg-buildpackage -us -uc -b) >"$out/build.log" 2>&1 || {
  tail -n 60 "$out/build.log" >&2
  echo "package-debian: dpkg-buildpackage failed; the whole log is $out/build.log" >&2
  exit 1
}
deb=$out/reframe_${version}_$(dpkg-architecture -qDEB_HOST_ARCH).deb
[ -f "$deb" ] || { echo "package-debian: $deb was not made" >&2; exit 1; }

echo "package-debian: lintian" >&2
lintian --fail-on error,warning --info --display-experimental --show-overrides "$deb" >&2
echo "$deb"
