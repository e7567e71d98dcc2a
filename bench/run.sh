#!/usr/bin/env bash
# Times dupfind (headless_search, and window_search where the window is built)
# beside jdupes, fdupes, rdfind, rmlint and md5sum on three generated trees,
# then the MD5 kernels and the grouping pass alone, and prints Markdown tables.
#
# Usage: bench/run.sh BUILD_DIR
#   BUILD_DIR holds the built tools (bench/headless_search, bench/make_tree,
#   bench/grouping_bench; bench/window_search and bench/md5_bench if built), as
#   `make bench` leaves them.
# Environment:
#   DUPFIND_BENCH_OUT         where the trees are kept between runs (default bench/out)
#   DUPFIND_BENCH_RUNS        timed runs of each tool on each tree (default 5)
#   DUPFIND_BENCH_TREES       which trees (default "small mixed large")
#   DUPFIND_BENCH_SCALE       divides file counts and grouping rows by this (default 1;
#                             for a quick trial of the script, in another DUPFIND_BENCH_OUT)
#   DUPFIND_BENCH_COLD_RUNS   runs with the page cache dropped before each (default 3; 0: none)
#   DUPFIND_BENCH_DROP_CACHES the file "3" is written to to drop the page cache
#                             (default /proc/sys/vm/drop_caches; tests point it elsewhere)
#   DUPFIND_BENCH_MD5_FILTER  which md5_bench benchmarks (default: all but those
#                             with only some lanes busy, a second argument other than 0)
#   DUPFIND_BENCH_FIO_SECONDS how long each of fio's two runs lasts (default 3)
#   DUPFIND_BENCH_FIO_MIB     the size of fio's scratch file (default 1024)
#
# Method: every tree is read once before it is timed, so all tools find it in
# the page cache. The runs are interleaved (run 1 of every tool, then run 2...)
# so that a passing disturbance hits all tools alike; the tables give medians.
# Wall time is taken around each command; CPU time (user + system) and peak
# memory (maximum resident set) come from GNU time. CPU time varies less than
# wall time when other work shares the machine. md5sum gets the tree's file
# list, made once beforehand with find and fed through xargs; the other tools
# walk the tree themselves, so the listing alone (find) is timed as a row of
# its own. Every tool runs in an empty working folder of its own with its
# standard output to /dev/null, and only finds and lists duplicates: jdupes
# and fdupes with -q (no progress display), rdfind with its results file sent
# to the run's scratch folder, rmlint with duplicate files as its only lint
# type and fdupes-like output on standard output instead of its shell script
# and JSON file. The run checks that the trees and the working folder are left
# as they were.
#
# Cold cache: where the page cache can be dropped (root can write
# /proc/sys/vm/drop_caches), headless_search and jdupes also run with
# `sync; echo 3 > /proc/sys/vm/drop_caches` before each run, after the hot
# runs of all trees. These rows depend on the disk and on whatever else the
# machine reads at the time: they are marked as noisy.
#
# The disk's floor: between the hot and the cold runs, fio reads a scratch
# file beside the trees (so on their file system) with direct I/O, past the
# page cache: 4 KiB at random places with 32 reads in flight, then in order,
# 1 MiB at a time with 16 in flight. Each tree's cold rows are set beside the
# time the disk needs for the tree's bytes at that bandwidth, and for its read
# requests at that rate (one a file, and one for each further 4 KiB block).
#
# Aims: dupfind's time over jdupes', cold and hot, for each tree, met or
# missed; they are printed, never enforced.
#
# Progress goes to standard error, the tables to standard output.
set -euo pipefail
bench_name=bench
# shellcheck source=bench/lib.sh
source "$(dirname "${BASH_SOURCE[0]}")/lib.sh"

[ $# -eq 1 ] || die "usage: bench/run.sh BUILD_DIR"
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build=$(cd "$1" 2>/dev/null && pwd) || die "no build folder '$1' (run 'make build' first)"
out=${DUPFIND_BENCH_OUT:-$root/bench/out}
runs=${DUPFIND_BENCH_RUNS:-5}
trees=${DUPFIND_BENCH_TREES:-small mixed large}
scale=${DUPFIND_BENCH_SCALE:-1}
cold_runs=${DUPFIND_BENCH_COLD_RUNS:-3}
drop_caches=${DUPFIND_BENCH_DROP_CACHES:-/proc/sys/vm/drop_caches}
md5_filter=${DUPFIND_BENCH_MD5_FILTER:--/[0-9]+/[1-9][0-9]*\$}
fio_seconds=${DUPFIND_BENCH_FIO_SECONDS:-3}
fio_mib=${DUPFIND_BENCH_FIO_MIB:-1024}
[[ $runs =~ ^[1-9][0-9]*$ ]] || die "DUPFIND_BENCH_RUNS must be a positive number, not '$runs'"
[[ $scale =~ ^[1-9][0-9]*$ ]] || die "DUPFIND_BENCH_SCALE must be a positive number, not '$scale'"
[[ $cold_runs =~ ^[0-9]+$ ]] || die "DUPFIND_BENCH_COLD_RUNS must be a number, not '$cold_runs'"
[[ $fio_seconds =~ ^[1-9][0-9]*$ ]] || die "DUPFIND_BENCH_FIO_SECONDS must be a positive number, not '$fio_seconds'"
[[ $fio_mib =~ ^[1-9][0-9]*$ ]] || die "DUPFIND_BENCH_FIO_MIB must be a positive number, not '$fio_mib'"
for tree in $trees; do
  [[ $tree =~ ^(small|mixed|large)$ ]] || die "unknown tree '$tree' in DUPFIND_BENCH_TREES"
done

for tool in headless_search make_tree grouping_bench; do
  [ -x "$build/bench/$tool" ] || die "$build/bench/$tool is missing (run 'make build' first)"
done

"$root/scripts/install-deps.sh" bench
for tool in md5sum jdupes fdupes rdfind rmlint fio findmnt find xargs awk sync; do
  command -v "$tool" >/dev/null || die "$tool is not installed"
done
[ -x /usr/bin/time ] || die "/usr/bin/time (GNU time) is not installed"

mkdir -p "$out"
out=$(cd "$out" && pwd)
work=$(mktemp -d "${TMPDIR:-/tmp}/dupfind-bench.XXXXXX")
scratch=$out/fio-scratch.$$  # fio's file, beside the trees
trap 'rm -rf "$work"; rm -f "$scratch"' EXIT
# The tools' working folder: whatever one of them writes there is reported.
mkdir "$work/cwd"
cd "$work/cwd"

say "building the trees in $out (kept once complete)"
# shellcheck disable=SC2086  # the tree names are words
"$build/bench/make_tree" --scale "$scale" "$out" $trees >&2

window_built=false
[ -x "$build/bench/window_search" ] && window_built=true
# The timed tools, dupfind's first; the ratios are against headless_search.
hot_tools=(headless_search)
$window_built && hot_tools+=(window_search)
hot_tools+=(md5sum jdupes fdupes rdfind rmlint find)
cold_tools=(headless_search jdupes)

if [ "$cold_runs" -eq 0 ]; then
  cold_note="Cold cache: skipped (DUPFIND_BENCH_COLD_RUNS=0)."
elif [ ! -w "$drop_caches" ]; then
  cold_note="Cold cache: skipped: the page cache cannot be dropped here ($drop_caches is not writable; it takes root)."
  cold_runs=0
else
  cold_note="Cold cache: medians of $cold_runs runs, each after \`sync; echo 3 > $drop_caches\`; noisy: they time the disk as much as the tools."
fi

# --- one timed run ----------------------------------------------------------

# The command of `tool` on tree folder `dir` with file list `list`.
tool_command() {
  local tool=$1 dir=$2 list=$3
  case "$tool" in
    headless_search) cmd=("$build/bench/headless_search" "$dir") ;;
    window_search) cmd=(env QT_QPA_PLATFORM=offscreen "$build/bench/window_search" "$dir") ;;
    md5sum) cmd=(xargs -0 -a "$list" md5sum) ;;
    jdupes) cmd=(jdupes -r -q "$dir") ;;
    fdupes) cmd=(fdupes -r -q "$dir") ;;
    rdfind) cmd=(rdfind -outputname "$work/rdfind.results" "$dir") ;;
    rmlint) cmd=(rmlint -T df -o fdupes:stdout "$dir") ;;
    find) cmd=(find "$dir" -type f -print0) ;;
    *) die "unknown tool $tool" ;;
  esac
}

label_of() {
  case "$1" in
    window_search) echo "window_search (offscreen)" ;;
    md5sum) echo "md5sum (file list made beforehand)" ;;
    jdupes | fdupes) echo "$1 -r" ;;
    rmlint) echo "rmlint -T df" ;;
    find) echo "find -type f (the listing alone)" ;;
    *) echo "$1" ;;
  esac
}

# Runs `tool` once on `tree` and appends "seconds peak-KiB cpu-seconds" to
# $work/TREE.TOOL (with KIND "cold": $work/TREE.TOOL.cold); the own clock of
# dupfind's runners goes to $work/TREE.TOOL.clock.
time_once() {
  local tool=$1 tree=$2 kind=${3:-hot} file
  local cmd=()
  tool_command "$tool" "$out/$tree" "$work/$tree.list"
  file=$work/$tree.$tool
  [ "$kind" = cold ] && file+=.cold
  timed "$file" "$tool on $tree" "${cmd[@]}"
  if [ "$kind" = hot ] && [[ $tool == *_search ]]; then
    # "files N, ..., seconds S": the search alone, without start-up and output
    awk '/^files / { print $NF }' "$work/stderr" >>"$work/$tree.$tool.clock"
  fi
}

drop_page_cache() {
  sync
  echo 3 >"$drop_caches" || die "cannot drop the page cache through $drop_caches"
}

# --- the disk's floor --------------------------------------------------------

# One fio run on the scratch file, RW in blocks of BLOCK with DEPTH reads in
# flight, past the page cache; prints fio's terse line (version 3: field 5 is
# the error number, 7 the read bandwidth in KiB/s, 8 the read IOPS).
fio_once() {
  fio --name="dupfind-bench-$1" --filename="$scratch" --size="${fio_mib}m" --rw="$1" --bs="$2" \
    --iodepth="$3" --ioengine=libaio --direct=1 --time_based --runtime="$fio_seconds" \
    --output-format=terse --terse-version=3 2>"$work/fio.err"
}

# Sets iops and bandwidth (bytes a second), or floor_note to why not.
measure_disk() {
  local random sequential
  iops='' bandwidth=''
  say "the disk's floor: fio on $scratch, twice $fio_seconds s"
  if random=$(fio_once randread 4k 32) && sequential=$(fio_once read 1m 16); then
    iops=$(awk -F ';' '$5 == 0 && $8 > 0 { printf "%.0f", $8 }' <<<"$random")
    bandwidth=$(awk -F ';' '$5 == 0 && $7 > 0 { printf "%.0f", $7 * 1024 }' <<<"$sequential")
  fi
  rm -f "$scratch"
  if [ -z "$iops" ] || [ -z "$bandwidth" ]; then
    floor_note="Disk floor: not measured: fio failed on $scratch: $(tail -n 2 "$work/fio.err" | tr '\n' ' ')"
    iops='' bandwidth=''
  fi
}

# --- the checks ---------------------------------------------------------------

# Turns a list of groups into sorted "path TAB first path of its group" lines.
# headless_search rows are name TAB folder TAB digest, groups closed by "---";
# fdupes prints paths, groups parted by empty lines.
canonical_groups() {
  awk -v format="$1" -F '\t' '
    function flush(   i, first) {
      if (n == 0) return
      first = p[1]
      for (i = 2; i <= n; i++) if (p[i] < first) first = p[i]
      for (i = 1; i <= n; i++) print p[i] "\t" first
      n = 0
    }
    format == "headless" && $1 == "---" { flush(); next }
    format == "headless" { p[++n] = $2 $1; next }
    $0 == "" { flush(); next }
    { p[++n] = $0 }
    END { flush() }' | LC_ALL=C sort
}

check_against_fdupes() {
  local tree=$1 dir=$out/$1
  "$build/bench/headless_search" "$dir" >"$work/$tree.hs.out" 2>"$work/stderr" ||
    die "headless_search failed on $tree: $(tail -n 3 "$work/stderr")"
  canonical_groups headless <"$work/$tree.hs.out" >"$work/$tree.hs.groups"
  fdupes -r -q "$dir" >"$work/$tree.fd.out" || die "fdupes failed on $tree"
  canonical_groups fdupes <"$work/$tree.fd.out" >"$work/$tree.fd.groups"
  if cmp -s "$work/$tree.hs.groups" "$work/$tree.fd.groups"; then
    checks+=("$tree: headless_search and fdupes report the same $(wc -l <"$work/$tree.hs.groups") files in the same groups")
  else
    checks+=("$tree: MISMATCH between headless_search and fdupes (see diff below)")
    say "$tree: headless_search and fdupes disagree:"
    diff "$work/$tree.hs.groups" "$work/$tree.fd.groups" | head -n 10 >&2 || true
  fi
}

# Every entry of the tree with its type, size and modification time.
tree_state() { find "$out/$1" -printf '%P\t%y\t%s\t%T@\n' | LC_ALL=C sort; }

check_tree_kept() {
  local tree=$1
  if tree_state "$tree" | cmp -s - "$work/$tree.state"; then
    checks+=("$tree: the tree is as it was before the runs (names, sizes, modification times)")
  else
    checks+=("$tree: the tree CHANGED during the runs (see the differences below)")
    say "$tree: the tree changed during the runs:"
    tree_state "$tree" | diff "$work/$tree.state" - | head -n 10 >&2 || true
  fi
}

check_scratch_kept() {
  local left
  left=$(find . -mindepth 1 -printf '%P ' | head -c 200) || true
  if [ -z "$left" ]; then
    checks+=("no tool left a file in its working folder")
  else
    checks+=("files LEFT in the tools' working folder: $left")
  fi
}

# --- the runs -----------------------------------------------------------------

checks=()
load_before=$(cut -d ' ' -f 1-3 /proc/loadavg)
for tree in $trees; do
  dir=$out/$tree
  tree_state "$tree" >"$work/$tree.state"
  find "$dir" -type f -print0 >"$work/$tree.list"
  # "files bytes read-requests": one request a file, and one for each 4 KiB
  # block after its first, a last part block counted whole
  xargs -0 -a "$work/$tree.list" stat -c %s |
    awk '{ n++; s += $1; b = int(($1 + 4095) / 4096); r += b > 1 ? b : 1 } END { print n, s, r }' \
      >"$work/$tree.size"
  say "$tree: reading every file once (page cache), checking the results against fdupes"
  xargs -0 -a "$work/$tree.list" cat >/dev/null
  check_against_fdupes "$tree"
  for run in $(seq "$runs"); do
    say "$tree: run $run of $runs"
    for tool in "${hot_tools[@]}"; do
      time_once "$tool" "$tree"
    done
  done
done
floor_note=
measure_disk
# After all the hot runs, so that none of them starts with a dropped cache.
for tree in $trees; do
  for run in $(seq "$cold_runs"); do
    say "$tree: cold run $run of $cold_runs"
    for tool in "${cold_tools[@]}"; do
      drop_page_cache
      time_once "$tool" "$tree" cold
    done
  done
  check_tree_kept "$tree"
done
check_scratch_kept
load_after=$(cut -d ' ' -f 1-3 /proc/loadavg)

# --- the tables -------------------------------------------------------------

# One row of the table: FILE holds the runs, BASE and WINDOW the medians the
# ratios are taken against (empty: no ratio), BASE_CPU likewise for CPU time.
table_row() {
  local tree=$1 label=$2 file=$3 base=$4 window=$5 base_cpu=$6 m lo hi cpu peak
  m=$(column_of "$file" 1 | median)
  lo=$(column_of "$file" 1 | sort -g | head -n 1)
  hi=$(column_of "$file" 1 | sort -g | tail -n 1)
  cpu=$(column_of "$file" 3 | median)
  peak=$(column_of "$file" 2 | sort -g | tail -n 1)
  echo "| $tree | $files | $mib | $label | $(fmt "$m" %.3f) | $(fmt "$lo" %.3f)–$(fmt "$hi" %.3f)" \
    "| $(ratio "$base" "$m") | $(ratio "$window" "$m") | $(fmt "$cpu" %.2f) | $(ratio "$base_cpu" "$cpu")" \
    "| $(kib_to_mib "$peak") |"
}

echo "## Whole search"
echo
echo "$(nproc) cores, $(awk '/MemTotal/ { printf "%.0f GiB", $2 / 1048576 }' /proc/meminfo) memory," \
  "$(awk -F ': ' '/model name/ { print $2; exit }' /proc/cpuinfo); load average $load_before before, $load_after after."
echo "Files in the page cache unless the row says otherwise. Medians of $runs interleaved runs;"
echo "ratio = headless_search median / tool median, window ratio = window_search median / tool median"
echo "(below 1: dupfind is faster); CPU = user + system time, CPU ratio = headless_search's / the tool's."
echo
echo "| tree | files | MiB | tool | median s | fastest–slowest s | ratio | window ratio | CPU s | CPU ratio | peak memory MiB |"
echo "|---|---:|---:|---|---:|---:|---:|---:|---:|---:|---:|"
declare -A med peak
for tree in $trees; do
  read -r files bytes requests <"$work/$tree.size"
  mib=$(awk -v b="$bytes" 'BEGIN { printf "%.0f", b / 1048576 }')
  hs=$(column_of "$work/$tree.headless_search" 1 | median)
  hs_cpu=$(column_of "$work/$tree.headless_search" 3 | median)
  ws=
  $window_built && ws=$(column_of "$work/$tree.window_search" 1 | median)
  for tool in "${hot_tools[@]}"; do
    f=$work/$tree.$tool
    med[$tree.$tool]=$(column_of "$f" 1 | median)
    peak[$tree.$tool]=$(column_of "$f" 2 | sort -g | tail -n 1)
    if [ "$tool" = find ]; then
      table_row "$tree" "$(label_of "$tool")" "$f" "" "" ""
    else
      table_row "$tree" "$(label_of "$tool")" "$f" "$hs" "$ws" "$hs_cpu"
    fi
  done
  for tool in headless_search window_search; do
    [ -s "$work/$tree.$tool.clock" ] || continue
    s=$(median <"$work/$tree.$tool.clock")
    echo "| $tree | | | $tool, the search alone (its own clock) | $(fmt "$s" %.3f) | | | | | | |"
  done
  if [ "$cold_runs" -gt 0 ]; then
    hs_cold=$(column_of "$work/$tree.headless_search.cold" 1 | median)
    hs_cold_cpu=$(column_of "$work/$tree.headless_search.cold" 3 | median)
    for tool in "${cold_tools[@]}"; do
      f=$work/$tree.$tool.cold
      med[$tree.$tool.cold]=$(column_of "$f" 1 | median)
      table_row "$tree" "$(label_of "$tool"), cold cache (noisy)" "$f" "$hs_cold" "" "$hs_cold_cpu"
    done
  fi
done
echo
echo "Commands, each with standard output to /dev/null (TREE is the tree's folder under $out):"
echo "\`headless_search TREE\`; \`QT_QPA_PLATFORM=offscreen window_search TREE\`;"
echo "\`xargs -0 -a LIST md5sum\` with LIST made once by \`find TREE -type f -print0\`;"
echo "\`jdupes -r -q TREE\`; \`fdupes -r -q TREE\`; \`rdfind -outputname SCRATCH/rdfind.results TREE\`;"
echo "\`rmlint -T df -o fdupes:stdout TREE\`; \`find TREE -type f -print0\`."
echo "jdupes, rdfind and rmlint leave empty files out by default; fdupes and dupfind group them."
$window_built || echo "Window rows: skipped: the window is not built ($build/bench/window_search not found)."
echo "$cold_note"
echo

echo "## Cold reads against the disk's floor"
echo
if [ -n "$floor_note" ]; then
  echo "$floor_note"
else
  echo "Measured with fio between the hot and the cold runs, on a scratch file of $fio_mib MiB beside the"
  echo "trees in $out ($(findmnt -n -o FSTYPE,SOURCE --target "$out" | awk '{ print $1 " on " $2 }'), the trees' own file system),"
  echo "with direct I/O (past the page cache), $fio_seconds s each, the file removed afterwards:"
  echo "- random 4 KiB reads, 32 in flight: $(fmt "$iops" %.0f) IOPS"
  echo "  (\`fio --rw=randread --bs=4k --iodepth=32 --ioengine=libaio --direct=1 --size=${fio_mib}m --runtime=$fio_seconds\`);"
  echo "- sequential reads, 1 MiB at a time, 16 in flight: $(awk -v b="$bandwidth" 'BEGIN { printf "%.0f", b / 1048576 }') MiB/s"
  echo "  (\`fio --rw=read --bs=1m --iodepth=16\`, the rest alike)."
  echo
  echo "Read requests of a tree: one a file (its first 4 KiB, or an empty file's inode), and one for each"
  echo "further 4 KiB block, a last part block counted whole; metadata besides is left out. Requests ÷ IOPS"
  echo "is the floor for many small files; on big files the disk merges a file's blocks into larger reads,"
  echo "and bytes ÷ bandwidth is the floor."
  echo
  echo "| tree | files | MiB | read requests | bytes ÷ bandwidth s | requests ÷ IOPS s | headless_search cold s | jdupes -r cold s |"
  echo "|---|---:|---:|---:|---:|---:|---:|---:|"
  for tree in $trees; do
    read -r files bytes requests <"$work/$tree.size"
    hs_cold=– jd_cold=–
    if [ "$cold_runs" -gt 0 ]; then
      hs_cold=$(fmt "${med[$tree.headless_search.cold]}" %.3f)
      jd_cold=$(fmt "${med[$tree.jdupes.cold]}" %.3f)
    fi
    echo "| $tree | $files | $(awk -v b="$bytes" 'BEGIN { printf "%.0f", b / 1048576 }') | $requests" \
      "| $(awk -v b="$bytes" -v w="$bandwidth" 'BEGIN { printf "%.3f", b / w }')" \
      "| $(awk -v r="$requests" -v i="$iops" 'BEGIN { printf "%.3f", r / i }') | $hs_cold | $jd_cold |"
  done
fi
[ "$cold_runs" -gt 0 ] || echo "No cold rows: $cold_note"
echo

# dupfind's runner $3 (default headless_search) over tool $2 on tree $1, three decimals.
ratio_of() { awk -v a="${med[$1.${3:-headless_search}]}" -v b="${med[$1.$2]}" 'BEGIN { printf "%.3f", a / b }'; }
has_tree() { [[ " $trees " == *" $1 "* ]]; }
# One cell of the aims table: headless_search over jdupes on TREE, SUFFIX "" (hot) or ".cold".
aim_cell() {
  local tree=$1 suffix=$2 limit=$3 r
  if ! has_tree "$tree"; then
    echo "not run (limit $limit)"
  elif [ -z "${med[$tree.jdupes$suffix]:-}" ]; then
    echo "not measured (limit $limit)"
  else
    r=$(awk -v a="${med[$tree.headless_search$suffix]}" -v b="${med[$tree.jdupes$suffix]}" 'BEGIN { printf "%.3f", a / b }')
    if within "$r" "$limit"; then
      echo "$r (limit $limit): met"
    else
      echo "$r (limit $limit): MISSED, $(over "$r" "$limit") over"
    fi
  fi
}

echo "## Aims"
echo
[ "$scale" = 1 ] || echo "The trees are scaled down by $scale: the aims are for the full trees."
echo "headless_search's median time over jdupes -r's on the same tree, in this run (hot: the medians of"
echo "\"Whole search\"; cold: its cold rows, each after dropping the page cache):"
echo
echo "| cache | small | mixed | large |"
echo "|---|---|---|---|"
echo "| cold | $(aim_cell small .cold 0.25) | $(aim_cell mixed .cold 0.6) | $(aim_cell large .cold 0.55) |"
echo "| hot | $(aim_cell small "" 0.4) | $(aim_cell mixed "" 0.8) | $(aim_cell large "" 0.33) |"
echo
echo "Other aims, hot cache:"
if has_tree large; then
  aim "large tree, headless_search / md5sum" "$(ratio_of large md5sum)" 0.2 ""
fi
if has_tree small; then
  if $window_built; then
    aim "small tree, window_search / headless_search" "$(ratio_of small headless_search window_search)" 1.5 ""
  else
    echo "- small tree, window_search / headless_search: not measured (the window is not built)."
  fi
  aim "small tree, peak memory of headless_search" "$(kib_to_mib "${peak[small.headless_search]}")" 64 " MiB"
fi
echo "Memory at 1,000,000 files and the growth of time with the tree: \`make bench-scale\`."
echo
echo "Checks:"
for line in "${checks[@]}"; do echo "- $line"; done
echo

# --- the MD5 kernels ----------------------------------------------------------

# Google Benchmark's CSV (one row per benchmark and aggregate) as a table of
# medians. Each benchmark other than OpenSSL's is set beside the OpenSSL one on
# the same data: the same size (its first numeric argument; none: OpenSSL's
# longest), and of those the one whose name ends most like its own
# (MD5Messages for LanesMessages, MD5_Update for MD5Update), else the first.
# A benchmark named with a kernel (a word after its first part) is also set
# beside the same benchmark with the kernel "scalar".
md5_table() {
  awk '
    function split_csv(line, f,   n, i, c, field, quoted) {
      n = 0; field = ""; quoted = 0
      for (i = 1; i <= length(line); i++) {
        c = substr(line, i, 1)
        if (quoted) {
          if (c != "\"") field = field c
          else if (substr(line, i + 1, 1) == "\"") { field = field c; i++ }
          else quoted = 0
        } else if (c == "\"") quoted = 1
        else if (c == ",") { f[++n] = field; field = "" }
        else field = field c
      }
      f[++n] = field
      return n
    }
    function squeeze(s) { s = tolower(s); gsub(/_/, "", s); sub(/openssl/, "", s); return s }
    function common_tail(a, b,   n) {
      n = 0
      while (n < length(a) && n < length(b) && substr(a, length(a) - n, 1) == substr(b, length(b) - n, 1)) n++
      return n
    }
    function gbps(x) { return sprintf("%.2f", x / 1e9) }
    NR == 1 { n = split_csv($0, head); for (i = 1; i <= n; i++) col[head[i]] = i; next }
    {
      split_csv($0, f)
      name = f[col["name"]]
      if (name !~ /_median$/) next
      sub(/_median$/, "", name)
      names[++count] = name
      rate[name] = f[col["bytes_per_second"]]
      label[name] = f[col["label"]]
      if (f[col["error_occurred"]] == "true") error[name] = f[col["error_message"]]
      parts = split(name, part, "/")
      size[name] = ""; kernel[name] = 0; scalar[name] = part[1]
      for (i = 2; i <= parts; i++) {
        if (part[i] ~ /^[0-9]+$/) { if (size[name] == "") size[name] = part[i]; scalar[name] = scalar[name] "/" part[i] }
        else { kernel[name] = 1; scalar[name] = scalar[name] "/scalar" }
      }
      yardstick[name] = tolower(name) ~ /openssl/
      if (yardstick[name] && size[name] + 0 > longest) longest = size[name] + 0
    }
    END {
      print "| benchmark | label | GB/s | OpenSSL on the same data | its GB/s | ratio to OpenSSL | ratio to scalar |"
      print "|---|---|---:|---|---:|---:|---:|"
      for (i = 1; i <= count; i++) {
        name = names[i]
        if (name in error) { print "| " name " | error: " error[name] " | | | | | |"; continue }
        if (rate[name] == "") continue
        ref = ""; best = -1
        if (!yardstick[name]) {
          want = size[name] == "" ? longest "" : size[name]
          for (j = 1; j <= count; j++) {
            other = names[j]
            if (!yardstick[other] || size[other] != want || rate[other] == "") continue
            tail = common_tail(squeeze(substr(other, 1, index(other "/", "/") - 1)),
                               squeeze(substr(name, 1, index(name "/", "/") - 1)))
            if (tail > best) { best = tail; ref = other }
          }
        }
        versus = ref == "" ? "| – | – | – " : "| " ref " | " gbps(rate[ref]) " | " sprintf("%.2f", rate[name] / rate[ref]) " "
        s = scalar[name]
        by_scalar = kernel[name] && (s in rate) && rate[s] > 0 ? sprintf("%.2f", rate[name] / rate[s]) : "–"
        print "| " name " | " label[name] " | " gbps(rate[name]) " " versus "| " by_scalar " |"
      }
    }'
}

echo "## MD5 kernels, one core"
echo
md5_bench=$build/bench/md5_bench
if [ ! -x "$md5_bench" ]; then
  echo "MD5 kernels: skipped: $md5_bench is not built (it needs Google Benchmark and OpenSSL)."
else
  say "timing the MD5 kernels ($md5_bench)"
  md5_args=(--benchmark_filter="$md5_filter" --benchmark_repetitions=5
    --benchmark_report_aggregates_only=true --benchmark_min_time=0.1 --benchmark_format=csv)
  if timeout 300 "$md5_bench" "${md5_args[@]}" >"$work/md5.csv" 2>"$work/md5.err"; then
    echo "Medians of 5 repetitions of each benchmark, bytes per CPU second (\`md5_bench ${md5_args[*]}\`)."
    echo
    md5_table <"$work/md5.csv"
  else
    echo "MD5 kernels: md5_bench failed: $(tail -n 3 "$work/md5.err" | tr '\n' ' ')"
  fi
fi
echo

say "timing the grouping pass alone"
echo "## Grouping pass alone, synthetic rows"
echo
if [ "$scale" = 1 ]; then
  "$build/bench/grouping_bench"
else
  "$build/bench/grouping_bench" --sizes "$((10000 / scale + 1)),$((100000 / scale + 1)),$((1000000 / scale + 1))" \
    --cap "$(awk -v s="$scale" 'BEGIN { print 60 / s }')"
fi
