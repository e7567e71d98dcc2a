# shellcheck shell=bash disable=SC2154  # bench_name and work come from the sourcing script
# Helpers shared by run.sh and scale.sh, sourced after each sets `bench_name`
# (the prefix of its messages) and `work` (its scratch folder).

die() {
  echo "$bench_name: $*" >&2
  exit 1
}
say() { echo "$bench_name: $*" >&2; }

# Runs the command once under GNU time and appends "seconds peak-KiB
# cpu-seconds" to FILE; WHAT names the run in an error. The command's standard
# output goes to /dev/null, its standard error to $work/stderr. Wall time is
# taken around the command; CPU time (user + system) and peak memory (maximum
# resident set) come from GNU time.
timed() {
  local file=$1 what=$2 start end
  shift 2
  start=$EPOCHREALTIME
  if ! /usr/bin/time -f '%M %U %S' -o "$work/rss" "$@" >/dev/null 2>"$work/stderr"; then
    die "$what failed: $(tail -n 3 "$work/stderr")"
  fi
  end=$EPOCHREALTIME
  tail -n 1 "$work/rss" | awk -v a="$start" -v b="$end" '{ printf "%.4f %s %.2f\n", b - a, $1, $2 + $3 }' \
    >>"$file"
}

median() { sort -g | awk '{ v[NR] = $1 } END { print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'; }
column_of() { awk -v c="$2" '{ print $c }' "$1"; }
fmt() { awk -v x="$1" -v f="$2" 'BEGIN { printf f, x }'; }
kib_to_mib() { awk -v k="$1" 'BEGIN { printf "%.1f", k / 1024 }'; }
ratio() { awk -v a="$1" -v b="$2" 'BEGIN { if (a != "" && b > 0) printf "%.2f", a / b; else printf "–" }'; }
# True when VALUE is at most LIMIT.
within() { awk -v v="$1" -v l="$2" 'BEGIN { exit !(v <= l) }'; }
# How far VALUE is over LIMIT, in per cent of LIMIT.
over() { awk -v v="$1" -v l="$2" 'BEGIN { printf "%.0f%%", (v / l - 1) * 100 }'; }
# An aim as a list item: "met" when VALUE is at most LIMIT, else "MISSED", with the figures.
aim() {
  local text=$1 value=$2 limit=$3 unit=$4
  if within "$value" "$limit"; then
    echo "- $text: met ($value$unit, limit $limit$unit)."
  else
    echo "- $text: MISSED ($value$unit, limit $limit$unit, $(over "$value" "$limit") over)."
  fi
}
