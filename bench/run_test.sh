#!/usr/bin/env bash
# Runs bench/run.sh end to end on the small tree scaled down by 100, twice:
# - with the real tools, a stand-in for the window's runner (so the window rows
#   are filled), a stand-in md5_bench printing known figures, and the page
#   cache "dropped" through a plain file;
# - with a headless_search that drops a group and writes into the tree and its
#   working folder, no window runner, no md5_bench and no way to drop the cache,
#   all of which the run must report.
# Usage: run_test.sh BUILD_DIR    Exits 77 (skipped) when the peers are missing.
set -euo pipefail

build=$(cd "$1" && pwd)
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
for tool in jdupes fdupes rdfind rmlint /usr/bin/time; do
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
# Google Benchmark's CSV with aggregates; only the medians may count. The
# kernel names are new ones: the table must take them as they come.
cat >"$top/good/bench/md5_bench" <<'EOF'
#!/bin/sh
case "$*" in *--benchmark_format=csv*--benchmark_repetitions=* | *--benchmark_repetitions=*--benchmark_format=csv*) ;; *) exit 3 ;; esac
echo 'name,iterations,real_time,cpu_time,time_unit,bytes_per_second,items_per_second,label,error_occurred,error_message'
echo '"BM_OpenSSL_MD5_Update/1048576_mean",5,1,1,ns,9e+08,,,,'
echo '"BM_OpenSSL_MD5_Update/1048576_median",5,1,1,ns,8e+08,,,,'
echo '"BM_OpenSSL_MD5Messages/4096_median",5,1,1,ns,7.5e+08,,,,'
echo '"BM_OpenSSL_MD5Messages/1048576_median",5,1,1,ns,7e+08,,,,'
echo '"BM_Md5LanesMessages/scalar/4096/0_median",5,1,1,ns,7.5e+08,,"1 lanes",,'
echo '"BM_Md5LanesMessages/zmm/4096/0_mean",5,1,1,ns,1e+09,,"32 lanes",,'
echo '"BM_Md5LanesMessages/zmm/4096/0_median",5,1,1,ns,7.5e+09,,"32 lanes",,'
echo '"BM_LaneKernel/ymm_median",5,1,1,ns,4e+09,,"8, in two sets",,'
EOF
rm "$top/bad/bench/headless_search"
cat >"$top/bad/bench/headless_search" <<EOF
#!/bin/sh
: >"\$1/planted" && : >stray
"$build/bench/headless_search" "\$@" | awk '{ row[NR] = \$0 } \$1 == "---" { end = prev; prev = NR }
  END { for (i = 1; i <= end; i++) print row[i] }'
EOF
chmod +x "$top/good/bench/window_search" "$top/good/bench/md5_bench" "$top/bad/bench/headless_search"
: >"$top/drop_caches"

export DUPFIND_BENCH_OUT=$top/trees DUPFIND_BENCH_SCALE=100 DUPFIND_BENCH_RUNS=1 DUPFIND_BENCH_TREES=small
DUPFIND_BENCH_COLD_RUNS=1 DUPFIND_BENCH_DROP_CACHES=$top/drop_caches \
  "$here/run.sh" "$top/good" >"$top/good.md" 2>"$top/good.log" || { cat "$top/good.log"; exit 1; }
row="^\| small \| 1000 \| [0-9]+ \|"
for tool in headless_search "window_search \(offscreen\)" "md5sum \(file list made beforehand\)" "jdupes -r" "fdupes -r" rdfind \
  "rmlint -T df" "find -type f \(the listing alone\)"; do
  expect "a row for $tool" "$row $tool \| [0-9.]+ \| [0-9.]+–[0-9.]+ \| [0-9.–]+ \| [0-9.–]+ \|" "$top/good.md"
done
expect "headless_search's ratio to itself is 1" "$row headless_search \| [0-9.]+ \| [0-9.–]+ \| 1.00 \|" "$top/good.md"
for tool in headless_search "jdupes -r"; do
  expect "a cold row for $tool" "$row $tool, cold cache \(noisy\) \| [0-9.]+ \| [0-9.–]+ \| [0-9.]+ \| – \|" "$top/good.md"
done
expect "the page cache is dropped by writing 3" "^3$" "$top/drop_caches"
expect "headless_search agrees with fdupes" "^- small: headless_search and fdupes report the same [0-9]+ files" "$top/good.md"
expect "no tool changed the tree" "^- small: the tree is as it was before the runs" "$top/good.md"
expect "no tool wrote into its working folder" "^- no tool left a file in its working folder" "$top/good.md"
expect "the aims are marked as for the full trees" "scaled down by 100" "$top/good.md"
expect "the small tree's aim against jdupes" "^- small tree, headless_search / jdupes: (met|MISSED) \([0-9.]+, limit 0.35" "$top/good.md"
expect "the window's aim" "^- small tree, window_search / headless_search: (met|MISSED) \([0-9.]+, limit 1.5" "$top/good.md"
expect "the memory aim" "^- small tree, peak memory of headless_search: met \([0-9.]+ MiB, limit 64 MiB" "$top/good.md"
expect "a lane row beside OpenSSL's messages and the scalar kernel (medians only)" \
  "^\| BM_Md5LanesMessages/zmm/4096/0 \| 32 lanes \| 7.50 \| BM_OpenSSL_MD5Messages/4096 \| 0.75 \| 10.00 \| 10.00 \|$" "$top/good.md"
expect "a kernel without a size beside OpenSSL's longest stream" \
  "^\| BM_LaneKernel/ymm \| 8, in two sets \| 4.00 \| BM_OpenSSL_MD5_Update/1048576 \| 0.80 \| 5.00 \| – \|$" "$top/good.md"
expect "the grouping table ends with its largest size" "^\| 10001 \| [0-9]+ \| [0-9]+ \| [0-9.]+ \| skipped" "$top/good.md"

DUPFIND_BENCH_DROP_CACHES=$top/no/such/file "$here/run.sh" "$top/bad" >"$top/bad.md" 2>"$top/bad.log" ||
  { cat "$top/bad.log"; exit 1; }
expect "a lost group is reported as a mismatch" "^- small: MISMATCH between headless_search and fdupes" "$top/bad.md"
expect "a file added to the tree is reported" "^- small: the tree CHANGED during the runs" "$top/bad.md"
expect "a file left in the working folder is reported" "^- files LEFT in the tools' working folder: .*stray" "$top/bad.md"
expect "without a window runner the window rows say so" "^Window rows: skipped: the window is not built" "$top/bad.md"
expect "without a window runner its aim says so" "^- small tree, window_search / headless_search: not measured" "$top/bad.md"
expect "where the cache cannot be dropped, a note" "^Cold cache: skipped: the page cache cannot be dropped here" "$top/bad.md"
expect "without md5_bench, a note" "^MD5 kernels: skipped: .*md5_bench is not built" "$top/bad.md"

[ "$failures" -eq 0 ] || { echo "$failures check(s) failed"; exit 1; }
