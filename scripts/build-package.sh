#!/usr/bin/env bash
# Builds the Debian package (debian/, debhelper) from a copy of the source tree
# in BUILD_DIR/package: dpkg-buildpackage works inside the tree it is given and
# writes its results beside it, so the copy keeps both out of the work tree.
# Prints where the .deb is.
# Usage: build-package.sh BUILD_DIR    (JOBS: parallel jobs, default nproc)
set -euo pipefail
build=${1:?usage: build-package.sh BUILD_DIR}
root=$(cd "$(dirname "$0")/.." && pwd)
"$root/scripts/install-deps.sh" build package

version=$(dpkg-parsechangelog -l "$root/debian/changelog" -S Version)
arch=$(dpkg-architecture -q DEB_HOST_ARCH)
out=$(mkdir -p "$build" && cd "$build" && pwd)/package
src=$out/dupfind-$version
rm -rf "$out"
mkdir -p "$src"

# The tree as it stands: tracked files and new ones that are not ignored, less
# those deleted and not yet committed.
(cd "$root" && git ls-files -z --cached --others --exclude-standard) |
  (cd "$root" && while IFS= read -r -d '' f; do
    if [ -e "$f" ] || [ -L "$f" ]; then printf '%s\0' "$f"; fi
  done) |
  tar -C "$root" --null --no-recursion -T - -cf - | tar -C "$src" -xf -

(cd "$src" && dpkg-buildpackage -us -uc -J"${JOBS:-$(nproc)}")
deb=$out/dupfind_${version}_$arch.deb
[ -f "$deb" ] || { echo "build-package: $deb was not built" >&2; exit 1; }
echo "build-package: built $deb"
