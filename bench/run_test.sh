#!/usr/bin/env bash
# Runs bench/run.sh end to end on trees scaled down by 100, twice:
# - on the small and mixed trees with the real tools and fio, a stand-in for
#   the window's runner (so the window rows are filled), a stand-in md5_bench
#   printing known figures, and the page cache "dropped" through a plain file,
#   headless_search taking longer after each drop, as on a real disk;
# - on the small tree with a headless_search that drops a group and writes
#   into the tree and its working folder, no window runner, no md5_bench, no
#   way to drop the cache and a fio that fails, all of which the run must report.
# Usage: run_test.sh BUILD_DIR    Exits 77 (skipped) when the peers are missing.
set -euo pipefail

build=$(cd "$1" && pwd)
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
# shellcheck source=bench/test_lib.sh
source "$here/test_lib.sh"
require jdupes fdupes rdfind rmlint /usr/bin/time
scratch run_test

mkdir -p "$top/good/bench" "$top/bad/bench"
for tool in headless_search make_tree grouping_bench; do
  ln -s "$build/bench/$tool" "$top/good/bench/$tool"
  ln -s "$build/bench/$tool" "$top/bad/bench/$tool"
done
rm "$top/good/bench/headless_search"
cat >"$top/good/bench/headless_search" <<EOF
#!/bin/sh
if [ -s "$top/drop_caches" ]; then : >"$top/drop_caches"; sleep 0.3; fi
exec "$build/bench/headless_search" "\$@"
EOF
mkdir "$top/bin"
cat >"$top/bin/fio" <<'EOF'
#!/bin/sh
echo "fio: engine libaio not loadable" >&2
exit 1
EOF
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
chmod +x "$top/good/bench/window_search" "$top/good/bench/md5_bench" "$top/good/bench/headless_search" \
  "$top/bad/bench/headless_search" "$top/bin/fio"
: >"$top/drop_caches"

export DUPFIND_BENCH_OUT=$top/trees DUPFIND_BENCH_SCALE=100 DUPFIND_BENCH_RUNS=1
DUPFIND_BENCH_TREES="small mixed" DUPFIND_BENCH_COLD_RUNS=1 DUPFIND_BENCH_DROP_CACHES=$top/drop_caches \
  DUPFIND_BENCH_FIO_SECONDS=1 DUPFIND_BENCH_FIO_MIB=16 \
  "$here/run.sh" "$top/good" >"$top/good.md" 2>"$top/good.log" || { cat "$top/good.log"; exit 1; }
row="^\| small \| 1000 \| [0-9]+ \|"
for tool in headless_search "window_search \(offscreen\)" "md5sum \(file list made beforehand\)" "jdupes -r" "fdupes -r" rdfind \
  "rmlint -T df" "find -type f \(the listing alone\)"; do
  expect "a row for $tool" "$row $tool \| [0-9.]+ \| [0-9.]+–[0-9.]+ \| [0-9.–]+ \| [0-9.–]+ \|" "$top/good.md"
done
expect "headless_search's ratio to itself is 1" "$row headless_search \| [0-9.]+ \| [0-9.–]+ \| 1.00 \|" "$top/good.md"
for tree in "small | 1000" "mixed | 150"; do
  for tool in headless_search "jdupes -r"; do
    expect "a cold row for $tool on ${tree% |*}" \
      "^\| $tree \| [0-9]+ \| $tool, cold cache \(noisy\) \| [0-9.]+ \| [0-9.–]+ \| [0-9.]+ \| – \|" "$top/good.md"
  done
done
expect "the page cache is dropped by writing 3" "^3$" "$top/drop_caches"
expect "headless_search agrees with fdupes" "^- small: headless_search and fdupes report the same [0-9]+ files" "$top/good.md"
expect "no tool changed the tree" "^- small: the tree is as it was before the runs" "$top/good.md"
expect "no tool wrote into its working folder" "^- no tool left a file in its working folder" "$top/good.md"
expect "the aims are marked as for the full trees" "scaled down by 100" "$top/good.md"

# The disk's floor: a tree of 1,000 files of at most 4 KiB needs 1,000 reads;
# the mixed one 150 files and 1,895 further 4 KiB blocks (from its sizes).
expect "fio's random reads" "^- random 4 KiB reads, 32 in flight: [1-9][0-9]* IOPS$" "$top/good.md"
expect "fio's sequential reads" "^- sequential reads, 1 MiB at a time, 16 in flight: [1-9][0-9]* MiB/s$" "$top/good.md"
floor_row="\| [0-9.]+ \| [0-9.]+ \| [0-9.]+ \| [0-9.]+ \|$"
expect "the small tree's read requests" "^\| small \| 1000 \| 2 \| 1000 $floor_row" "$top/good.md"
expect "the mixed tree's read requests" "^\| mixed \| 150 \| 8 \| 2045 $floor_row" "$top/good.md"
# Each floor within rounding of the tree's bytes (from the stamps) or requests
# over fio's figure.
floors=$(awk -F ' *[|:] *' '
  /^- random 4 KiB reads/ { iops = $2 + 0 } /^- sequential reads/ { mibs = $2 + 0 }
  function near(a, b) { return (a - b) ^ 2 < 1e-6 }
  $2 == "small" && $5 == 1000 { print near($6, 1959765 / 1048576 / mibs), near($7, 1000 / iops) }
  $2 == "mixed" && $5 == 2045 { print near($6, 7931452 / 1048576 / mibs), near($7, 2045 / iops) }' "$top/good.md")
expect "bytes ÷ bandwidth and requests ÷ IOPS" "^1 1 1 1$" <(paste -sd " " <<<"$floors")
expect "fio's scratch file is removed" "^0$" <(find "$top/trees" -maxdepth 1 -name 'fio-scratch*' | wc -l)
# The cold cells come from the cold rows (where headless_search is slower
# here), each limit in its place.
cold_cells=$(awk -F ' *[|] *' '$5 ~ /, cold cache/ { t[$2 $5] = $6 }
  $2 == "cold" { cell["small"] = $3 + 0; cell["mixed"] = $4 + 0 }
  END { c = ", cold cache (noisy)"  # the table rounds the medians: within 5 %
    for (tree in cell) print tree, (cell[tree] / (t[tree "headless_search" c] / t[tree "jdupes -r" c]) - 1) ^ 2 < 0.0025 }' \
  "$top/good.md" | sort)
expect "the cold aims are the cold rows' ratios" "^mixed 1 small 1$" <(paste -sd " " <<<"$cold_cells")
verdict="(met|MISSED, [0-9]+% over)"
expect "the cold aims" "^\| cold \| [0-9.]+ \(limit 0.25\): MISSED, [0-9]+% over \| [0-9.]+ \(limit 0.6\): MISSED, [0-9]+% over \| not run \(limit 0.55\) \|$" "$top/good.md"
expect "the hot aims" "^\| hot \| [0-9.]+ \(limit 0.4\): $verdict \| [0-9.]+ \(limit 0.8\): $verdict \| not run \(limit 0.33\) \|$" "$top/good.md"
expect "the window's aim" "^- small tree, window_search / headless_search: (met|MISSED) \([0-9.]+, limit 1.5" "$top/good.md"
expect "the memory aim" "^- small tree, peak memory of headless_search: met \([0-9.]+ MiB, limit 64 MiB" "$top/good.md"
expect "a lane row beside OpenSSL's messages and the scalar kernel (medians only)" \
  "^\| BM_Md5LanesMessages/zmm/4096/0 \| 32 lanes \| 7.50 \| BM_OpenSSL_MD5Messages/4096 \| 0.75 \| 10.00 \| 10.00 \|$" "$top/good.md"
expect "a kernel without a size beside OpenSSL's longest stream" \
  "^\| BM_LaneKernel/ymm \| 8, in two sets \| 4.00 \| BM_OpenSSL_MD5_Update/1048576 \| 0.80 \| 5.00 \| – \|$" "$top/good.md"
expect "the grouping table ends with its largest size" "^\| 10001 \| [0-9]+ \| [0-9]+ \| [0-9.]+ \| skipped" "$top/good.md"

PATH=$top/bin:$PATH DUPFIND_BENCH_TREES=small DUPFIND_BENCH_DROP_CACHES=$top/no/such/file \
  "$here/run.sh" "$top/bad" >"$top/bad.md" 2>"$top/bad.log" || { cat "$top/bad.log"; exit 1; }
expect "a lost group is reported as a mismatch" "^- small: MISMATCH between headless_search and fdupes" "$top/bad.md"
expect "a file added to the tree is reported" "^- small: the tree CHANGED during the runs" "$top/bad.md"
expect "a file left in the working folder is reported" "^- files LEFT in the tools' working folder: .*stray" "$top/bad.md"
expect "without a window runner the window rows say so" "^Window rows: skipped: the window is not built" "$top/bad.md"
expect "without a window runner its aim says so" "^- small tree, window_search / headless_search: not measured" "$top/bad.md"
expect "where the cache cannot be dropped, a note" "^Cold cache: skipped: the page cache cannot be dropped here" "$top/bad.md"
expect "  and the cold aims are not measured" "^\| cold \| not measured \(limit 0.25\) \| not run" "$top/bad.md"
expect "where fio fails, its reason" "^Disk floor: not measured: fio failed on .*: fio: engine libaio not loadable" "$top/bad.md"
expect "without md5_bench, a note" "^MD5 kernels: skipped: .*md5_bench is not built" "$top/bad.md"

finish
