#!/usr/bin/env bash
# Runs bench/scale.sh on its trees scaled down by 1000 (100 and 1,000 files),
# twice: with a stand-in for the window's runner, then with a headless_search
# that misses files and no window runner, which the run must report.
# Usage: scale_test.sh BUILD_DIR    Exits 77 (skipped) when jdupes or GNU time is missing.
set -euo pipefail

build=$(cd "$1" && pwd)
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
# shellcheck source=bench/test_lib.sh
source "$here/test_lib.sh"
require jdupes /usr/bin/time
scratch scale_test

mkdir -p "$top/good/bench" "$top/bad/bench"
for tool in headless_search make_tree; do
  ln -s "$build/bench/$tool" "$top/good/bench/$tool"
done
ln -s "$build/bench/make_tree" "$top/bad/bench/make_tree"
cat >"$top/good/bench/window_search" <<EOF
#!/bin/sh
[ "\$QT_QPA_PLATFORM" = offscreen ] || exit 3
exec "$build/bench/headless_search" "\$@"
EOF
cat >"$top/bad/bench/headless_search" <<EOF
#!/bin/sh
"$build/bench/headless_search" "\$@" 2>/dev/null
echo "files 7, seconds 0.001" >&2
EOF
chmod +x "$top/good/bench/window_search" "$top/bad/bench/headless_search"

export DUPFIND_BENCH_OUT=$top/trees DUPFIND_BENCH_SCALE=1000 DUPFIND_BENCH_RUNS=2
"$here/scale.sh" "$top/good" >"$top/good.md" 2>"$top/good.log" || { cat "$top/good.log"; exit 1; }
for tree in "small | 100" "million | 1000"; do
  for tool in headless_search "window_search \(offscreen\)" "jdupes -r"; do
    expect "a row for $tool on ${tree% |*}" "^\| $tree \| $tool \| [0-9.]+ \| [0-9.]+–[0-9.]+ \| [0-9.]* \| [0-9.]+ \|$" "$top/good.md"
  done
done
expect "the aims are marked as for the full trees" "scaled down by 1000" "$top/good.md"
# Each aim from the table: the memory aims the larger tree's peaks, the
# growth the larger tree's median over the smaller's (the table rounds them).
awk -F ' *[|] *' '
  $2 ~ /^(small|million)$/ { t[$2 $4] = $5; m[$2 $4] = $8 }
  /^- peak memory of headless_search: / { print "memory headless", $0 ~ "\\(" m["millionheadless_search"] " MiB" }
  /^- peak memory of window_search: / { print "memory window", $0 ~ "\\(" m["millionwindow_search (offscreen)"] " MiB" }
  /^- time of headless_search, 1000 files over 100 \(linear: 10\): (met|MISSED) \(/ {
    split($0, v, "[(,]"); r = t["millionheadless_search"] / t["smallheadless_search"]
    print "growth headless", (v[4] / r - 1) ^ 2 < 0.01 }
  /^- time of window_search, 1000 files over 100 \(linear: 10\): (met|MISSED) \(/ {
    split($0, v, "[(,]"); r = t["millionwindow_search (offscreen)"] / t["smallwindow_search (offscreen)"]
    print "growth window", (v[4] / r - 1) ^ 2 < 0.01 }' "$top/good.md" >"$top/aims"
for aim in "memory headless" "memory window" "growth headless" "growth window"; do
  expect "the $aim aim, from the table" "^$aim 1$" "$top/aims"
done
expect "every file found" "^- every run of dupfind reported every file of its tree$" "$top/good.md"

"$here/scale.sh" "$top/bad" >"$top/bad.md" 2>"$top/bad.log" || { cat "$top/bad.log"; exit 1; }
expect "files missed are reported, run by run" "^- million, run 2: headless_search reported 7 files of 1000$" "$top/bad.md"
expect "without a window runner its aims say so" "^- peak memory of window_search: not measured" "$top/bad.md"

finish
