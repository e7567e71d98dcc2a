#!/usr/bin/env bash
# Times headless_search beside md5sum, jdupes and fdupes on three generated
# trees, then the grouping pass alone, and prints Markdown tables.
#
# Usage: bench/run.sh BUILD_DIR
#   BUILD_DIR holds the built tools (bench/headless_search, bench/make_tree,
#   bench/grouping_bench), as `make bench` leaves them.
# Environment:
#   DUPFIND_BENCH_OUT    where the trees are kept between runs (default bench/out)
#   DUPFIND_BENCH_RUNS   timed runs of each tool on each tree (default 5)
#   DUPFIND_BENCH_TREES  which trees (default "small mixed large")
#   DUPFIND_BENCH_SCALE  divides file counts and grouping rows by this (default 1;
#                        for a quick trial of the script, in another DUPFIND_BENCH_OUT)
#
# Method: every tree is read once before it is timed, so all tools find it in
# the page cache. The runs are interleaved (run 1 of every tool, then run 2...)
# so that a passing disturbance hits all tools alike; the tables give medians.
# Wall time is taken around each command; CPU time (user + system) and peak
# memory (maximum resident set) come from GNU time. CPU time varies less than
# wall time when other work shares the machine. md5sum gets the tree's file list, made once beforehand with
# find and fed through xargs; the other tools walk the tree themselves, so the
# listing alone (find) is timed as a row of its own. jdupes and fdupes run with
# -q, which only hides their progress display. Progress goes to standard
# error, the tables to standard output.
set -euo pipefail

die() {
  echo "bench: $*" >&2
  exit 1
}
say() { echo "bench: $*" >&2; }

[ $# -eq 1 ] || die "usage: bench/run.sh BUILD_DIR"
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build=$(cd "$1" 2>/dev/null && pwd) || die "no build folder '$1' (run 'make build' first)"
out=${DUPFIND_BENCH_OUT:-$root/bench/out}
runs=${DUPFIND_BENCH_RUNS:-5}
trees=${DUPFIND_BENCH_TREES:-small mixed large}
scale=${DUPFIND_BENCH_SCALE:-1}
[[ $runs =~ ^[1-9][0-9]*$ ]] || die "DUPFIND_BENCH_RUNS must be a positive number, not '$runs'"
[[ $scale =~ ^[1-9][0-9]*$ ]] || die "DUPFIND_BENCH_SCALE must be a positive number, not '$scale'"
for tree in $trees; do
  [[ $tree =~ ^(small|mixed|large)$ ]] || die "unknown tree '$tree' in DUPFIND_BENCH_TREES"
done

for tool in headless_search make_tree grouping_bench; do
  [ -x "$build/bench/$tool" ] || die "$build/bench/$tool is missing (run 'make build' first)"
done

"$root/scripts/install-deps.sh" bench
for tool in md5sum jdupes fdupes find xargs awk; do
  command -v "$tool" >/dev/null || die "$tool is not installed"
done
[ -x /usr/bin/time ] || die "/usr/bin/time (GNU time) is not installed"

mkdir -p "$out"
work=$(mktemp -d "${TMPDIR:-/tmp}/dupfind-bench.XXXXXX")
trap 'rm -rf "$work"' EXIT

say "building the trees in $out (kept once complete)"
# shellcheck disable=SC2086  # the tree names are words
"$build/bench/make_tree" --scale "$scale" "$out" $trees >&2

# --- one timed run ----------------------------------------------------------

# The command of `tool` on tree folder `dir` with file list `list`.
tool_command() {
  local tool=$1 dir=$2 list=$3
  case "$tool" in
    headless_search) cmd=("$build/bench/headless_search" "$dir") ;;
    md5sum) cmd=(xargs -0 -a "$list" md5sum) ;;
    jdupes) cmd=(jdupes -r -q "$dir") ;;
    fdupes) cmd=(fdupes -r -q "$dir") ;;
    find) cmd=(find "$dir" -type f -print0) ;;
    window_search) cmd=(env QT_QPA_PLATFORM=offscreen "$build/bench/window_search" "$dir") ;;
    *) die "unknown tool $tool" ;;
  esac
}

# Runs `tool` once on `tree` and appends "seconds peak-KiB cpu-seconds" to
# $work/TREE.TOOL; headless_search's own clock goes to $work/TREE.search.
time_once() {
  local tool=$1 tree=$2 start end
  local cmd=()
  tool_command "$tool" "$out/$tree" "$work/$tree.list"
  start=$EPOCHREALTIME
  if ! /usr/bin/time -f '%M %U %S' -o "$work/rss" "${cmd[@]}" >/dev/null 2>"$work/stderr"; then
    die "$tool failed on $tree: $(tail -n 3 "$work/stderr")"
  fi
  end=$EPOCHREALTIME
  tail -n 1 "$work/rss" | awk -v a="$start" -v b="$end" '{ printf "%.4f %s %.2f\n", b - a, $1, $2 + $3 }' \
    >>"$work/$tree.$tool"
  if [ "$tool" = headless_search ]; then
    # "files N, bytes B, seconds S": the search alone, without start-up and output
    awk '/^files / { print $NF }' "$work/stderr" >>"$work/$tree.search"
  fi
}

median() { sort -g | awk '{ v[NR] = $1 } END { print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'; }
column_of() { awk -v c="$2" '{ print $c }' "$1"; }
fmt() { awk -v x="$1" -v f="$2" 'BEGIN { printf f, x }'; }
kib_to_mib() { awk -v k="$1" 'BEGIN { printf "%.1f", k / 1024 }'; }

# --- the check: headless_search and fdupes must find the same groups -------

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

# --- the hook for the window --------------------------------------------------

# A search in the main window, on the small tree, against headless_search in
# the same runs. The window's runner is $BUILD/bench/window_search: it takes the
# folder as its one argument, runs the find command in the main window on the
# offscreen platform and exits when the search is done.
window_tools() {
  if [ "$1" = small ] && [ -x "$build/bench/window_search" ]; then
    echo window_search
  fi
}

window_row() {
  if [ ! -x "$build/bench/window_search" ]; then
    echo "Window against headless: skipped: the window is not built ($build/bench/window_search not found)."
  elif [ ! -s "$work/small.window_search" ]; then
    echo "Window against headless: skipped: the small tree was not timed."
  else
    local window headless
    window=$(column_of "$work/small.window_search" 1 | median)
    headless=$(column_of "$work/small.headless_search" 1 | median)
    echo "Window against headless, small tree: $(fmt "$window" %.2f) s against $(fmt "$headless" %.2f) s," \
      "ratio window / headless_search $(fmt "$(awk -v a="$window" -v b="$headless" 'BEGIN { print a / b }')" %.2f) (aim: at most 1.2)."
  fi
}

# --- the runs -----------------------------------------------------------------

checks=()
load_before=$(cut -d ' ' -f 1-3 /proc/loadavg)
for tree in $trees; do
  dir=$out/$tree
  find "$dir" -type f -print0 >"$work/$tree.list"
  say "$tree: reading every file once (page cache), checking the results against fdupes"
  xargs -0 -a "$work/$tree.list" cat >/dev/null
  check_against_fdupes "$tree"
  # shellcheck disable=SC2207
  tools=(headless_search md5sum jdupes fdupes find $(window_tools "$tree"))
  for run in $(seq "$runs"); do
    say "$tree: run $run of $runs"
    for tool in "${tools[@]}"; do
      time_once "$tool" "$tree"
    done
  done
done
load_after=$(cut -d ' ' -f 1-3 /proc/loadavg)

# --- the tables -------------------------------------------------------------

echo "## Whole search, files in the page cache"
echo
echo "$(nproc) cores, $(awk '/MemTotal/ { printf "%.0f GiB", $2 / 1048576 }' /proc/meminfo) memory," \
  "$(awk -F ': ' '/model name/ { print $2; exit }' /proc/cpuinfo); load average $load_before before, $load_after after."
echo "Medians of $runs interleaved runs; ratio = headless_search median / tool median (below 1: headless_search is faster);"
echo "CPU = user + system time, CPU ratio likewise."
echo
echo "| tree | files | MiB | tool | median s | fastest–slowest s | ratio | CPU s | CPU ratio | peak memory MiB |"
echo "|---|---:|---:|---|---:|---:|---:|---:|---:|---:|"
declare -A med peak
for tree in $trees; do
  files=$(tr -cd '\0' <"$work/$tree.list" | wc -c)
  mib=$(xargs -0 -a "$work/$tree.list" stat -c %s | awk '{ s += $1 } END { printf "%.0f", s / 1048576 }')
  hs=$(column_of "$work/$tree.headless_search" 1 | median)
  hs_cpu=$(column_of "$work/$tree.headless_search" 3 | median)
  # shellcheck disable=SC2207
  tools=(headless_search md5sum jdupes fdupes find $(window_tools "$tree"))
  for tool in "${tools[@]}"; do
    f=$work/$tree.$tool
    m=$(column_of "$f" 1 | median)
    med[$tree.$tool]=$m
    peak[$tree.$tool]=$(column_of "$f" 2 | sort -g | tail -n 1)
    lo=$(column_of "$f" 1 | sort -g | head -n 1)
    hi=$(column_of "$f" 1 | sort -g | tail -n 1)
    case "$tool" in
      md5sum) label="md5sum (file list made beforehand)" ;;
      jdupes | fdupes) label="$tool -r" ;;
      find) label="find -type f (the listing alone)" ;;
      window_search) label="window_search (offscreen)" ;;
      *) label=$tool ;;
    esac
    cpu=$(column_of "$f" 3 | median)
    ratio=$(awk -v a="$hs" -v b="$m" 'BEGIN { printf "%.2f", a / b }')
    cpu_ratio=$(awk -v a="$hs_cpu" -v b="$cpu" 'BEGIN { if (b > 0) printf "%.2f", a / b; else printf "–" }')
    [ "$tool" = find ] && ratio="–" && cpu_ratio="–"
    echo "| $tree | $files | $mib | $label | $(fmt "$m" %.3f) | $(fmt "$lo" %.3f)–$(fmt "$hi" %.3f) | $ratio | $(fmt "$cpu" %.2f) | $cpu_ratio | $(kib_to_mib "${peak[$tree.$tool]}") |"
  done
  s=$(median <"$work/$tree.search")
  echo "| $tree | | | headless_search, the search alone (its own clock) | $(fmt "$s" %.3f) | | | | | |"
done
echo
echo "Commands, each with standard output to /dev/null (TREE is the tree's folder under $out):"
echo "\`headless_search TREE\`; \`xargs -0 -a LIST md5sum\` with LIST made once by \`find TREE -type f -print0\`;"
echo "\`jdupes -r -q TREE\`; \`fdupes -r -q TREE\`; \`find TREE -type f -print0\`."
echo

# An aim, "met" or "MISSED" with the figures: VALUE must stay below LIMIT, or
# reach it at most when the last argument is "at-most".
aim() {
  local text=$1 value=$2 limit=$3 unit=$4 bound=${5:-below}
  if awk -v v="$value" -v l="$limit" -v b="$bound" 'BEGIN { exit !(v < l || (b == "at-most" && v == l)) }'; then
    echo "- $text: met ($value$unit, limit $limit$unit)."
  else
    echo "- $text: MISSED ($value$unit, limit $limit$unit, $(awk -v v="$value" -v l="$limit" 'BEGIN { printf "%.0f%%", (v / l - 1) * 100 }') over)."
  fi
}
ratio_of() { awk -v a="${med[$1.headless_search]}" -v b="${med[$1.$2]}" 'BEGIN { printf "%.2f", a / b }'; }

echo "Aims:"
[ "$scale" = 1 ] || echo "- (the trees are scaled down by $scale: the aims are for the full trees)"
if [[ " $trees " == *" small "* ]]; then
  aim "small tree, faster than jdupes (time ratio)" "$(ratio_of small jdupes)" 1 ""
  aim "small tree, faster than md5sum (time ratio)" "$(ratio_of small md5sum)" 1 ""
  aim "small tree, peak memory of headless_search" "$(kib_to_mib "${peak[small.headless_search]}")" 64 " MiB"
fi
if [[ " $trees " == *" large "* ]]; then
  aim "large files, within 1.1 of md5sum (time ratio)" "$(ratio_of large md5sum)" 1.1 "" at-most
fi
echo
echo "Checks:"
for line in "${checks[@]}"; do echo "- $line"; done
echo
window_row
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
