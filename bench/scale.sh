#!/usr/bin/env bash
# Times dupfind's search as the tree grows: headless_search, window_search (the
# window offscreen, where it is built) and jdupes on 100,000 and on 1,000,000
# files of 0-4 KiB, a hundred to a folder, a third of them copies (make_tree's
# small and million trees: one kind, one generator), and prints the time and
# peak memory of each, the memory aims at 1,000,000 files and how the time
# grows from the one tree to the other.
#
# Usage: bench/scale.sh BUILD_DIR     (`make bench-scale`)
# Environment:
#   DUPFIND_BENCH_OUT    where the trees are kept between runs (default bench/out;
#                        the million tree takes about 4 GiB and a minute or two to build)
#   DUPFIND_BENCH_RUNS   timed runs of each tool on each tree (default 3)
#   DUPFIND_BENCH_SCALE  divides the file counts by this (default 1; for a quick
#                        trial of the script, in another DUPFIND_BENCH_OUT)
#
# Method as in run.sh: each tree is read once so that all tools find it in the
# page cache; runs are interleaved (run 1 of every tool on both trees, then run
# 2...); the tables give medians of the wall time and the highest peak memory
# (maximum resident set, from GNU time). Every run of dupfind must report every
# file of its tree. The time grows linearly when time(1,000,000) /
# time(100,000) is 10; the aim counts up to 12 as linear, room for the noise
# of a shared machine, where an n log n growth would give about 12 too but a
# quadratic one 100. Progress goes to standard error, the tables to standard
# output. Aims are printed, never enforced.
set -euo pipefail
bench_name=bench-scale
# shellcheck source=bench/lib.sh
source "$(dirname "${BASH_SOURCE[0]}")/lib.sh"

[ $# -eq 1 ] || die "usage: bench/scale.sh BUILD_DIR"
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build=$(cd "$1" 2>/dev/null && pwd) || die "no build folder '$1' (run 'make build' first)"
out=${DUPFIND_BENCH_OUT:-$root/bench/out}
runs=${DUPFIND_BENCH_RUNS:-3}
scale=${DUPFIND_BENCH_SCALE:-1}
[[ $runs =~ ^[1-9][0-9]*$ ]] || die "DUPFIND_BENCH_RUNS must be a positive number, not '$runs'"
[[ $scale =~ ^[1-9][0-9]*$ ]] || die "DUPFIND_BENCH_SCALE must be a positive number, not '$scale'"
for tool in headless_search make_tree; do
  [ -x "$build/bench/$tool" ] || die "$build/bench/$tool is missing (run 'make build' first)"
done
"$root/scripts/install-deps.sh" bench
command -v jdupes >/dev/null || die "jdupes is not installed"
[ -x /usr/bin/time ] || die "/usr/bin/time (GNU time) is not installed"

mkdir -p "$out"
out=$(cd "$out" && pwd)
work=$(mktemp -d "${TMPDIR:-/tmp}/dupfind-bench-scale.XXXXXX")
trap 'rm -rf "$work"' EXIT
mkdir "$work/cwd"
cd "$work/cwd"

trees=(small million)  # the smaller first: the ratios are million's over small's
say "building the trees in $out (kept once complete)"
"$build/bench/make_tree" --scale "$scale" "$out" "${trees[@]}" >&2

tools=(headless_search)
window_built=false
if [ -x "$build/bench/window_search" ]; then
  window_built=true
  tools+=(window_search)
fi
tools+=(jdupes)

tool_command() {
  case "$1" in
    headless_search) cmd=("$build/bench/headless_search" "$2") ;;
    window_search) cmd=(env QT_QPA_PLATFORM=offscreen "$build/bench/window_search" "$2") ;;
    jdupes) cmd=(jdupes -r -q "$2") ;;
  esac
}

checks=()
declare -A files
for tree in "${trees[@]}"; do
  find "$out/$tree" -type f -print0 >"$work/$tree.list"
  files[$tree]=$(tr -cd '\0' <"$work/$tree.list" | wc -c)
  say "$tree: reading its ${files[$tree]} files once (page cache)"
  xargs -0 -a "$work/$tree.list" cat >/dev/null
done
load_before=$(cut -d ' ' -f 1-3 /proc/loadavg)
for run in $(seq "$runs"); do
  for tree in "${trees[@]}"; do
    say "$tree: run $run of $runs"
    for tool in "${tools[@]}"; do
      cmd=()
      tool_command "$tool" "$out/$tree"
      timed "$work/$tree.$tool" "$tool on $tree" "${cmd[@]}"
      [ "$tool" = jdupes ] && continue
      # "files N, seconds S": the files the search digested, its own clock
      read -r found clock < <(awk '/^files / { sub(",", "", $2); print $2, $NF }' "$work/stderr")
      echo "$clock" >>"$work/$tree.$tool.clock"
      [ "$found" = "${files[$tree]}" ] ||
        checks+=("$tree, run $run: $tool reported ${found:-no} files of ${files[$tree]}")
    done
  done
done
load_after=$(cut -d ' ' -f 1-3 /proc/loadavg)

echo "## Search time and memory as the tree grows"
echo
echo "$(nproc) cores, $(awk '/MemTotal/ { printf "%.0f GiB", $2 / 1048576 }' /proc/meminfo) memory," \
  "$(awk -F ': ' '/model name/ { print $2; exit }' /proc/cpuinfo); load average $load_before before, $load_after after."
echo "Files of 0–4 KiB, a hundred to a folder, a third of them copies, in the page cache; medians of $runs"
echo "interleaved runs, and the highest peak memory (maximum resident set) of the runs."
echo
echo "| tree | files | tool | median s | fastest–slowest s | the search alone (its own clock) s | peak memory MiB |"
echo "|---|---:|---|---:|---:|---:|---:|"
declare -A med peak
for tree in "${trees[@]}"; do
  for tool in "${tools[@]}"; do
    f=$work/$tree.$tool
    med[$tree.$tool]=$(column_of "$f" 1 | median)
    peak[$tree.$tool]=$(column_of "$f" 2 | sort -g | tail -n 1)
    clock=
    [ -s "$f.clock" ] && clock=$(fmt "$(median <"$f.clock")" %.3f)
    label=$tool
    [ "$tool" = window_search ] && label="window_search (offscreen)"
    [ "$tool" = jdupes ] && label="jdupes -r"
    echo "| $tree | ${files[$tree]} | $label | $(fmt "${med[$tree.$tool]}" %.3f)" \
      "| $(fmt "$(column_of "$f" 1 | sort -g | head -n 1)" %.3f)–$(fmt "$(column_of "$f" 1 | sort -g | tail -n 1)" %.3f)" \
      "| $clock | $(kib_to_mib "${peak[$tree.$tool]}") |"
  done
done
echo
echo "Commands, each with standard output to /dev/null (TREE is the tree's folder under $out):"
echo "\`headless_search TREE\`; \`QT_QPA_PLATFORM=offscreen window_search TREE\`; \`jdupes -r -q TREE\`."
$window_built || echo "Window rows: skipped: the window is not built ($build/bench/window_search not found)."
echo

echo "## Aims at 1,000,000 files"
echo
[ "$scale" = 1 ] || echo "The trees are scaled down by $scale: the aims are for the full trees."
for tool in "${tools[@]}"; do
  extra=$(awk -v a="${peak[small.$tool]}" -v b="${peak[million.$tool]}" -v n="${files[small]}" -v m="${files[million]}" \
    'BEGIN { if (m > n) printf "%.0f", (b - a) * 1024 / (m - n); else printf "–" }')
  echo "- $tool: $extra bytes of peak memory for each file the larger tree has more."
done
aim "peak memory of headless_search" "$(kib_to_mib "${peak[million.headless_search]}")" 200 " MiB"
if $window_built; then
  aim "peak memory of window_search" "$(kib_to_mib "${peak[million.window_search]}")" 260 " MiB"
else
  echo "- peak memory of window_search: not measured (the window is not built)."
fi
growth() { awk -v a="${med[million.$1]}" -v b="${med[small.$1]}" 'BEGIN { printf "%.2f", a / b }'; }
aim "time of headless_search, ${files[million]} files over ${files[small]} (linear: 10)" "$(growth headless_search)" 12 ""
if $window_built; then
  aim "time of window_search, ${files[million]} files over ${files[small]} (linear: 10)" "$(growth window_search)" 12 ""
else
  echo "- time of window_search: not measured (the window is not built)."
fi
echo "- for comparison, jdupes -r: $(growth jdupes) times the time; headless_search's time at" \
  "${files[million]} files over jdupes': $(awk -v a="${med[million.headless_search]}" -v b="${med[million.jdupes]}" 'BEGIN { printf "%.3f", a / b }')."
echo
echo "Checks:"
[ ${#checks[@]} -gt 0 ] || checks=("every run of dupfind reported every file of its tree")
for line in "${checks[@]}"; do echo "- $line"; done
