#!/usr/bin/env bash
# Checks make_tree on trees scaled down by 100: the same bytes on every build,
# the shape each tree promises, content that does not compress, and the stamp
# that keeps a complete tree and rebuilds any other.
# Usage: make_tree_test.sh PATH_TO_MAKE_TREE
set -euo pipefail

make_tree=$1
top=$(mktemp -d "${TMPDIR:-/tmp}/make_tree_test.XXXXXX")
trap 'rm -rf "$top"' EXIT
failures=0

check() {
  local what=$1
  shift
  if "$@"; then
    echo "ok: $what"
  else
    echo "FAILED: $what"
    failures=$((failures + 1))
  fi
}
equal() { [ "$1" = "$2" ] || { echo "  got '$1', expected '$2'"; return 1; }; }
between() {
  if [ "$1" -lt "$2" ] || [ "$1" -gt "$3" ]; then
    echo "  got $1, expected $2 to $3"
    return 1
  fi
}

# "path size md5" for every file, sorted.
inventory() {
  (cd "$1" && find . -type f -print0 | LC_ALL=C sort -z >"$top/list" &&
    paste -d ' ' <(xargs -0 -a "$top/list" stat -c '%n %s') \
      <(xargs -0 -a "$top/list" md5sum | cut -c 1-32))
}
files_of() { awk 'END { print NR }' "$1"; }
distinct_of() { awk '{ print $3 }' "$1" | sort -u | awk 'END { print NR }'; }
largest_of() { awk '{ print $2 }' "$1" | sort -n | tail -n 1; }
empties_of() { awk '$2 == 0' "$1" | awk 'END { print NR }'; }

"$make_tree" --scale 100 "$top/a" small mixed >/dev/null
"$make_tree" --scale 100 "$top/b" small mixed >/dev/null
for tree in small mixed; do
  inventory "$top/a/$tree" >"$top/$tree.a"
  inventory "$top/b/$tree" >"$top/$tree.b"
  check "$tree: two builds hold the same files and bytes" cmp -s "$top/$tree.a" "$top/$tree.b"
done

# The trees on disk are kept by their stamp, whose leading number changes
# with the generator's output: a generator that changes its output without
# it leaves old trees that look like new ones. These are the bytes of version 1.
check "small: the bytes of every earlier build" equal "$(md5sum <"$top/small.a")" "a9bfd6446e0e5bb19e1a1ba30a24afaf  -"
check "mixed: the bytes of every earlier build" equal "$(md5sum <"$top/mixed.a")" "5260e5d5ec7a1d1c75d5084070cc263a  -"

# small: 1,000 files, 0-4096 bytes, 10 folders; a third copies, so at least
# 333 files repeat another's content (more only if empty originals meet).
s=$top/small.a
check "small: file count" equal "$(files_of "$s")" 1000
check "small: 10 folders, none nested" \
  equal "$(find "$top/a/small" -mindepth 1 -type d | wc -l)/$(find "$top/a/small" -mindepth 2 -type d | wc -l)" "10/0"
check "small: sizes up to 4 KiB" between "$(largest_of "$s")" 3000 4096
check "small: a third are copies" between $(($(files_of "$s") - $(distinct_of "$s"))) 333 $((333 + $(empties_of "$s")))

# mixed: 150 files up to 1 MiB, spread on a log scale, folders up to four deep.
m=$top/mixed.a
check "mixed: file count" equal "$(files_of "$m")" 150
check "mixed: sizes up to 1 MiB" between "$(largest_of "$m")" 100000 1048576
check "mixed: sizes spread on a log scale (some under 1 KiB, some over 64 KiB)" \
  equal "$(awk '$2 < 1024 { a = 1 } $2 > 65536 { b = 1 } END { print a + b }' "$m")" 2
check "mixed: folders nested four deep and no deeper" \
  equal "$(cd "$top/a/mixed" && find . -type d | awk -F / '{ if (NF - 1 > d) d = NF - 1 } END { print d }')" 4
check "mixed: a fifth are copies" between $(($(files_of "$m") - $(distinct_of "$m"))) 30 $((30 + $(empties_of "$m")))

largest=$(cd "$top/a/mixed" && find . -type f -printf '%s %p\n' | sort -n | tail -n 1 | cut -d ' ' -f 2)
check "content does not compress" \
  between "$(gzip -1 -c "$top/a/mixed/$largest" | wc -c)" "$(stat -c %s "$top/a/mixed/$largest")" 99999999

# large, scaled to its minimum: two files of 64 MiB, one a copy of the other.
"$make_tree" --scale 100 "$top/a" large >/dev/null
inventory "$top/a/large" >"$top/large.a"
check "large: two files of 64 MiB with the same content" \
  equal "$(awk '{ print $2 }' "$top/large.a" | sort -u)/$(distinct_of "$top/large.a")" "67108864/1"

# million: the small tree's kind at ten times its size: 10,000 files, a
# hundred to a folder, a third copies.
"$make_tree" --scale 100 "$top/a" million >/dev/null
inventory "$top/a/million" >"$top/million.a"
g=$top/million.a
check "million: file count" equal "$(files_of "$g")" 10000
check "million: 100 folders, none nested, numbered to the last" \
  equal "$(find "$top/a/million" -mindepth 1 -type d | wc -l)/$(find "$top/a/million" -mindepth 2 -type d | wc -l)/$(ls "$top/a/million" | tail -n 1)" "100/0/d0099"
check "million: sizes up to 4 KiB" between "$(largest_of "$g")" 3000 4096
check "million: a third are copies" between $(($(files_of "$g") - $(distinct_of "$g"))) 3333 $((3333 + $(empties_of "$g")))

# Stamps: a complete tree is kept as it is; a changed stamp, a missing stamp
# or a half-built tree left behind means building again from scratch.
touch "$top/a/small/marker"
check "a complete tree is kept" grep -q "small is complete, kept" <("$make_tree" --scale 100 "$top/a" small)
check "  and left untouched" test -e "$top/a/small/marker"
"$make_tree" --scale 50 "$top/a" small >/dev/null
check "another plan (scale) rebuilds the tree" equal "$(find "$top/a/small" -type f | wc -l)" 2000
touch "$top/a/small/marker"
rm "$top/a/small.done"
mkdir "$top/a/small.partial"
"$make_tree" --scale 50 "$top/a" small >/dev/null
check "a tree without its stamp is rebuilt" test ! -e "$top/a/small/marker"
check "  and a half-built tree is cleared away" test ! -e "$top/a/small.partial"
check "  and the stamp is written again" test -s "$top/a/small.done"

error=$("$make_tree" "$top/a" huge 2>&1 >/dev/null) && status=0 || status=$?
check "an unknown tree name is refused" equal "$status: $error" "2: make_tree: unknown tree 'huge'"

[ "$failures" -eq 0 ] || { echo "$failures check(s) failed"; exit 1; }
