#!/usr/bin/env bash
# Takes the pictures under docs/ on a virtual X server with the real xcb
# platform: the main window after a search over a small demo tree
# (screenshot.png), its columns scrolled to the bottom (columns_scrolled.png),
# the About window (about.png) and the folder chooser (folder_chooser.png).
# Usage: scripts/screenshot.sh BUILD_DIR   (a build with the window and its tests)
set -euo pipefail

if [ $# -ne 1 ]; then
  echo "usage: $0 BUILD_DIR" >&2
  exit 2
fi
root=$(cd "$(dirname "$0")/.." && pwd)
tests=$(cd "$1" && pwd)/tests/ui
for test_program in Unit1_test Unit2_test folder_chooser_test; do
  if [ ! -x "$tests/$test_program" ]; then
    echo "screenshot: $tests/$test_program not built" >&2
    exit 1
  fi
done
"$root/scripts/install-deps.sh" package  # xvfb and xauth

mkdir -p "$root/docs"
# Each test's screenshot steps alone: they build their demo trees and grab the windows.
shoot() {
  QT_QPA_PLATFORM=xcb DUPFIND_SCREENSHOTS="$root/docs" \
    xvfb-run -a -s "-screen 0 1024x768x24" "$tests/$@"
}
shoot Unit1_test screenshot screenshotScrolledToTheBottom
shoot Unit2_test screenshot
shoot folder_chooser_test screenshot
echo "screenshot: wrote screenshot.png, columns_scrolled.png, about.png, folder_chooser.png in $root/docs"
