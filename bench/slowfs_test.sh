#!/usr/bin/env bash
# Smoke test of slowfs: a throttled mount shows the source's files, links and
# inode numbers, refuses writes, passes unlink and rename through; a stalled
# file blocks its reader until released while other files still read; the
# mount then unmounts and slowfs exits.
# Usage: slowfs_test.sh SLOWFS    Exits 77 (skipped) where FUSE cannot be used.
set -euo pipefail

slowfs=$1
command -v fusermount3 >/dev/null || { echo "skipped: fusermount3 is not installed"; exit 77; }
if [ ! -r /dev/fuse ] || [ ! -w /dev/fuse ]; then
  echo "skipped: /dev/fuse cannot be opened"
  exit 77
fi

top=$(mktemp -d "${TMPDIR:-/tmp}/slowfs_test.XXXXXX")
src=$top/source
mnt=$top/mnt
pid=
reader=
cleanup() {
  [ -z "$reader" ] || kill "$reader" 2>/dev/null || true
  : >"$top/release"
  if mountpoint -q "$mnt"; then fusermount3 -u "$mnt" || fusermount3 -u -z "$mnt"; fi
  [ -z "$pid" ] || wait "$pid" || true
  rm -rf --one-file-system "$top"
}
trap cleanup EXIT

failures=0
check() {  # check WHAT COMMAND...
  if "${@:2}"; then
    echo "ok: $1"
  else
    echo "FAILED: $1"
    failures=$((failures + 1))
  fi
}

mkdir -p "$src/sub" "$mnt"
head -c 300000 /dev/urandom >"$src/data.bin"
echo stalled >"$src/sub/late.stall"
echo kept >"$src/sub/kept.txt"
ln -s sub/kept.txt "$src/link"

"$slowfs" --read-mbps=20 --open-delay-ms=5 --stall='*.stall' --release-file="$top/release" \
  "$src" "$mnt" -f 2>"$top/slowfs.err" &
pid=$!
for _ in $(seq 100); do  # waits for the mount, not for a result
  mountpoint -q "$mnt" && break
  kill -0 "$pid" 2>/dev/null || { echo "FAILED: slowfs did not start"; exit 1; }
  sleep 0.1
done

check "mounted" mountpoint -q "$mnt"
check "a throttled read gives the source's bytes" cmp "$src/data.bin" "$mnt/data.bin"
check "a link reads through" cmp "$src/sub/kept.txt" "$mnt/link"
check "inode numbers are the source's" \
  test "$(stat -c %i "$src/data.bin")" = "$(stat -c %i "$mnt/data.bin")"
check "writing is refused" bash -c "! { echo x >'$mnt/new'; } 2>/dev/null && ! { echo x >'$mnt/data.bin'; } 2>/dev/null"
check "nothing was written" test ! -e "$src/new" -a "$(stat -c %s "$src/data.bin")" = 300000

cat "$mnt/sub/late.stall" >"$top/late.out" &
reader=$!
stalled() {  # slowfs reports the held read (within 10 s)
  for _ in $(seq 100); do
    grep -q 'stalled read of /sub/late.stall' "$top/slowfs.err" && return 0
    sleep 0.1
  done
  return 1
}
check "the read of a stalled file is held" stalled
# Held until the release: the reader cannot have finished, and other files read.
check "another file reads while one is stalled" cmp "$src/sub/kept.txt" "$mnt/sub/kept.txt"
check "the stalled reader is still waiting" test ! -s "$top/late.out"
: >"$top/release"
check "the released read finishes" wait "$reader"
reader=
check "the released read gives the file" cmp "$src/sub/late.stall" "$top/late.out"

check "rename passes through" mv "$mnt/sub/kept.txt" "$mnt/sub/moved.txt"
check "the source sees the rename" test -f "$src/sub/moved.txt" -a ! -e "$src/sub/kept.txt"
check "unlink passes through" rm "$mnt/sub/moved.txt"
check "the source sees the unlink" test ! -e "$src/sub/moved.txt"

check "unmounts" fusermount3 -u "$mnt"
check "slowfs exits cleanly" wait "$pid"
pid=

[ "$failures" -eq 0 ] || { echo "$failures check(s) failed"; exit 1; }
echo "all passed"
