#!/usr/bin/env bash
# `make package`: the Debian package of the tree as it stands, built by
# Debian's own tools in build/package/ (dpkg-buildpackage writes beside the
# source, so it builds a copy there), then checked: lintian must report no
# error and desktop-file-validate must accept the desktop entry. Prints the
# path of the .deb last.
set -euo pipefail
cd "$(dirname "$0")/.."

version=$(sed -n 's/^project(Lumo4410 VERSION \([0-9.]*\).*/\1/p' CMakeLists.txt)
changelog=$(dpkg-parsechangelog -S Version)
if [[ "$version" != "$changelog" ]]; then
  echo "package: debian/changelog says $changelog, CMakeLists.txt $version;" \
    "add a changelog entry for $version (dch -v $version)" >&2
  exit 1
fi

out=build/package
src=$out/lumo4410-$version
rm -rf "$out"
mkdir -p "$src"
# Tracked files and new ones not ignored: what a commit of the tree would hold.
git ls-files -z --cached --others --exclude-standard |
  while IFS= read -r -d '' f; do [[ -e $f ]] && printf '%s\0' "$f"; done |
  tar --null -T - -cf - | tar -xf - -C "$src"

jobs=${JOBS:-$(nproc)}
(cd "$src" && DEB_BUILD_OPTIONS="noautodbgsym parallel=$jobs" \
  dpkg-buildpackage -b -us -uc --no-sign)

deb=$(ls "$out"/lumo4410_"$version"_*.deb)
desktop-file-validate "$src/dist/lumo4410.desktop"
lintian --fail-on error --display-level '>=warning' "$deb"
echo "$deb"
