#!/usr/bin/env bash
# Checks the Debian package built by `make package`: unpacks it into a scratch
# root, checks that the files lie where the desktop looks for them and that the
# menu entry and metadata validate, then starts the installed program once and
# sees it come up.
# Usage: check-package.sh BUILD_DIR
set -euo pipefail
build=${1:?usage: check-package.sh BUILD_DIR}
"$(dirname "$0")/install-deps.sh" package

deb=$(ls "$build"/dupfind_*.deb | head -n 1)
root=$(mktemp -d)
log=$(mktemp)
trap 'rm -rf "$root" "$log"' EXIT
dpkg-deb -x "$deb" "$root"

id=org.example.dupfind
for f in usr/bin/dupfind \
         "usr/share/applications/$id.desktop" \
         "usr/share/icons/hicolor/scalable/apps/$id.svg" \
         "usr/share/metainfo/$id.metainfo.xml"; do
  [ -f "$root/$f" ] || { echo "check-package: missing /$f" >&2; exit 1; }
done
desktop-file-validate "$root/usr/share/applications/$id.desktop"
appstreamcli validate --no-net "$root/usr/share/metainfo/$id.metainfo.xml"

# The program reads no command line and has no way to quit on its own: it
# passes when it is still up after a few seconds, and is then ended.
status=0
QT_QPA_PLATFORM=offscreen xvfb-run -a timeout 5 "$root/usr/bin/dupfind" >"$log" 2>&1 || status=$?
if [ "$status" -ne 124 ]; then
  echo "check-package: the program ended early (status $status):" >&2
  cat "$log" >&2
  exit 1
fi
echo "check-package: $(basename "$deb") installs, validates and starts"
