#!/usr/bin/env bash
# Runs bench/run.sh end to end on the small tree scaled down by 100, once with
# the real tools (and a stand-in for the window's runner, so the window row is
# filled), once with a headless_search that drops a group, which the check
# against fdupes must report.
# Usage: run_test.sh BUILD_DIR    Exits 77 (skipped) when the peers are missing.
set -euo pipefail

build=$(cd "$1" && pwd)
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
for tool in jdupes fdupes /usr/bin/time; do
  command -v "$tool" >/dev/null || { echo "skipped: $tool is not installed"; exit 77; }
done
top=$(mktemp -d "${TMPDIR:-/tmp}/run_test.XXXXXX")
trap 'rm -rf "$top"' EXIT
failures=0
expect() {  # expect WHAT PATTERN FILE: FILE has a line matching PATTERN
  if grep -qE "$2" "$3"; then
    echo "ok: $1"
  else
    echo "FAILED: $1 (no line matching '$2')"
    failures=$((failures + 1))
  fi
}

# A build folder of stand-ins: the real tools, a window runner that checks it
# is started on the offscreen platform, and a headless_search that leaves out
# the last group of its output.
mkdir -p "$top/good/bench" "$top/bad/bench"
for tool in headless_search make_tree grouping_bench; do
  ln -s "$build/bench/$tool" "$top/good/bench/$tool"
  ln -s "$build/bench/$tool" "$top/bad/bench/$tool"
done
cat >"$top/good/bench/window_search" <<EOF
#!/bin/sh
[ "\$QT_QPA_PLATFORM" = offscreen ] || exit 3
exec "$build/bench/headless_search" "\$@"
EOF
rm "$top/bad/bench/headless_search"
cat >"$top/bad/bench/headless_search" <<EOF
#!/bin/sh
"$build/bench/headless_search" "\$@" | awk '{ row[NR] = \$0 } \$1 == "---" { end = prev; prev = NR }
  END { for (i = 1; i <= end; i++) print row[i] }'
EOF
chmod +x "$top/good/bench/window_search" "$top/bad/bench/headless_search"

export DUPFIND_BENCH_OUT=$top/trees DUPFIND_BENCH_SCALE=100 DUPFIND_BENCH_RUNS=1 DUPFIND_BENCH_TREES=small
"$here/run.sh" "$top/good" >"$top/good.md" 2>"$top/good.log" || { cat "$top/good.log"; exit 1; }
for tool in headless_search "md5sum \(file list" "jdupes -r" "fdupes -r" "find -type f" "window_search"; do
  expect "a row for $tool" "^\| small \| 1000 \| [0-9]+ \| $tool" "$top/good.md"
done
expect "headless_search agrees with fdupes" "^- small: headless_search and fdupes report the same [0-9]+ files" "$top/good.md"
expect "the window row gives its ratio" "^Window against headless, small tree: .*ratio window / headless_search [0-9.]+" "$top/good.md"
expect "the aims are marked as for the full trees" "scaled down by 100" "$top/good.md"
expect "the grouping table ends with its largest size" "^\| 10001 \| [0-9]+ \| [0-9]+ \| [0-9.]+ \| skipped" "$top/good.md"

DUPFIND_BENCH_TREES=small "$here/run.sh" "$top/bad" >"$top/bad.md" 2>"$top/bad.log" || { cat "$top/bad.log"; exit 1; }
expect "a lost group is reported as a mismatch" "^- small: MISMATCH between headless_search and fdupes" "$top/bad.md"
expect "without a window runner the window row says so" "^Window against headless: skipped: the window is not built" "$top/bad.md"

[ "$failures" -eq 0 ] || { echo "$failures check(s) failed"; exit 1; }
