#!/usr/bin/env bash
# Takes docs/screenshot.png, the main window after a search over a small demo
# tree, on a virtual X server with the real xcb platform.
# Usage: scripts/screenshot.sh BUILD_DIR   (a build with the window and its tests)
set -euo pipefail

if [ $# -ne 1 ]; then
  echo "usage: $0 BUILD_DIR" >&2
  exit 2
fi
root=$(cd "$(dirname "$0")/.." && pwd)
test_program=$(cd "$1" && pwd)/tests/ui/Unit1_test
if [ ! -x "$test_program" ]; then
  echo "screenshot: $test_program not built" >&2
  exit 1
fi
"$root/scripts/install-deps.sh" package  # xvfb and xauth

mkdir -p "$root/docs"
# The test's screenshot step alone: it builds the demo tree, searches and grabs the window.
QT_QPA_PLATFORM=xcb DUPFIND_SCREENSHOT="$root/docs/screenshot.png" \
  xvfb-run -a -s "-screen 0 1024x768x24" "$test_program" screenshot
echo "screenshot: wrote $root/docs/screenshot.png"
