#!/usr/bin/env bash
# Measures how long the program's window goes without answering the window
# manager's ping while it searches or deletes: on a virtual X server (Xvfb,
# with openbox where asked), it starts build/ui/dupfind, types a folder into
# the folder field, clicks "Найти" with xdotool, and pings the window every
# 50 ms with wm_ping until the step has ended.
#
# Usage: bench/responsiveness.sh [--wm] [--screenshots DIR] BUILD_DIR SCENARIO...
#   --wm             run openbox as the window manager (default: none)
#   --screenshots D  save the screen mid-step and at its end as D/SCENARIO-STEP-{mid,end}.png
# Scenarios:
#   slow-mount   a folder with a 1 GiB file on slowfs reading 50 MB/s: the search
#   cold-large   a local file of PROBE_LARGE_GIB GiB, page cache dropped: the search
#   warm-large   the same, read once beforehand so that it is in the page cache
#   many-opens   3,000 files of 16 KiB in 10 folders on slowfs, 20 ms per open: the search
#   delete-slow  two equal 1 GiB files on slowfs reading 50 MB/s: the search, then
#                the first result row selected and deleted
# Environment:
#   PROBE_DIR        folder for the scenario's files and mounts (default: a new
#                    folder in /var/tmp); whatever the run makes there is removed
#   PROBE_LARGE_GIB  size of the cold-large file (default 8)
#   PROBE_TIMEOUT    seconds a step may take before it counts as hung (default 900)
#   PROBE_SETTLE     seconds the pinging goes on after a step has ended (default 2)
#   PROBE_SHOT_AFTER seconds after the click the mid-step screenshot is taken (default 5)
#
# A step has ended when the program has read (rchar in /proc/PID/io) at least
# the bytes of the files it has to read, holds no file beneath the scenario's
# folder open and, for a delete, the file has gone from the source folder.
# Pinging goes on PROBE_SETTLE seconds longer, so a window still blocked then
# shows as a gap to the end. The table goes to standard output, progress to
# standard error. Everything the run starts (X server, window manager,
# program, slowfs mounts, files) is stopped and removed on exit, also on
# Ctrl-C. Needs root for dropping the page cache (cold-large) and /dev/fuse.
set -euo pipefail

die() {
  echo "responsiveness: $*" >&2
  exit 1
}
say() { echo "responsiveness: $*" >&2; }

wm=0
shots=
while [ $# -gt 0 ]; do
  case "$1" in
    --wm) wm=1 ;;
    --screenshots)
      shots=$2
      shift
      ;;
    *) break ;;
  esac
  shift
done
[ $# -ge 2 ] || die "usage: bench/responsiveness.sh [--wm] [--screenshots DIR] BUILD_DIR SCENARIO..."
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build=$(cd "$1" 2>/dev/null && pwd) || die "no build folder '$1'"
shift
scenarios=("$@")
for s in "${scenarios[@]}"; do
  case "$s" in
    slow-mount | cold-large | warm-large | many-opens | delete-slow) ;;
    *) die "unknown scenario '$s'" ;;
  esac
done
large_gib=${PROBE_LARGE_GIB:-8}
step_timeout=${PROBE_TIMEOUT:-900}
settle=${PROBE_SETTLE:-2}
shot_after=${PROBE_SHOT_AFTER:-5}
title="Поиск дубликатов файлов"

"$root/scripts/install-deps.sh" probe
program=$build/ui/dupfind
slowfs=$build/bench/slowfs
wm_ping=$build/bench/wm_ping
for tool in "$program" "$slowfs" "$wm_ping"; do
  [ -x "$tool" ] || die "$tool is not built (re-run cmake after install-deps.sh probe)"
done
[ -z "$shots" ] || { mkdir -p "$shots" && shots=$(cd "$shots" && pwd); }

# --- Everything started is recorded here and stopped by cleanup ----------------
work=
xvfb_pid=
wm_pid=
app_pid=
ping_pid=
mounts=()    # mount points
fs_pids=()   # their slowfs processes, same order
fs_conns=()  # their FUSE connection numbers, to abort one that cannot be unmounted

stop_pid() {  # stop_pid PID: TERM, then KILL if it has not gone within 3 s
  local pid=$1 i
  [ -n "$pid" ] && kill -0 "$pid" 2>/dev/null || return 0
  kill -TERM "$pid" 2>/dev/null || true
  for i in $(seq 30); do
    kill -0 "$pid" 2>/dev/null || break
    sleep 0.1
  done
  kill -KILL "$pid" 2>/dev/null || true
  wait "$pid" 2>/dev/null || true
}

unmount() {  # unmount INDEX
  local i=$1 mnt=${mounts[$1]} pid=${fs_pids[$1]} conn=${fs_conns[$1]}
  [ -n "$mnt" ] || return 0
  : >"$work/release"  # no read stays stalled
  for _ in $(seq 20); do
    mountpoint -q "$mnt" || break
    fusermount3 -u "$mnt" 2>/dev/null && break
    sleep 0.2
  done
  if mountpoint -q "$mnt"; then
    say "$mnt stays busy: detached, and its connection aborted"
    fusermount3 -u -z "$mnt" 2>/dev/null || true
  fi
  if kill -0 "$pid" 2>/dev/null && [ -n "$conn" ] && [ -e "/sys/fs/fuse/connections/$conn/abort" ]; then
    # Still serving after the mount has gone: a request it cannot finish.
    sleep 1
    if kill -0 "$pid" 2>/dev/null; then
      echo 1 >"/sys/fs/fuse/connections/$conn/abort" 2>/dev/null || true
    fi
  fi
  stop_pid "$pid"
  mounts[i]=
}

cleanup() {
  set +e
  stop_pid "$ping_pid"
  stop_pid "$app_pid"
  local i
  for i in "${!mounts[@]}"; do unmount "$i"; done
  stop_pid "$wm_pid"
  stop_pid "$xvfb_pid"
  if [ -n "$work" ] && [ -d "$work" ]; then
    # Never through a mount that could not be undone.
    rm -rf --one-file-system "$work"
  fi
}
trap cleanup EXIT
trap 'exit 130' INT
trap 'exit 143' TERM HUP

if [ -n "${PROBE_DIR:-}" ]; then
  mkdir -p "$PROBE_DIR"
  work=$(mktemp -d "$PROBE_DIR/responsiveness.XXXXXX")
else
  work=$(mktemp -d /var/tmp/responsiveness.XXXXXX)
fi

# --- The display ---------------------------------------------------------------
# A display number of its own: never one another program already serves.
Xvfb -displayfd 9 -screen 0 1280x1024x24 -nolisten tcp 9>"$work/display" 2>"$work/xvfb.log" &
xvfb_pid=$!
for _ in $(seq 100); do
  [ -s "$work/display" ] && break
  kill -0 "$xvfb_pid" 2>/dev/null || die "Xvfb did not start: $(cat "$work/xvfb.log")"
  sleep 0.1
done
[ -s "$work/display" ] || die "Xvfb did not report its display"
DISPLAY=":$(head -n1 "$work/display")"
export DISPLAY
export QT_QPA_PLATFORM=xcb
unset WAYLAND_DISPLAY
say "display $DISPLAY"
if [ "$wm" -eq 1 ]; then
  openbox >"$work/openbox.log" 2>&1 &
  wm_pid=$!
  for _ in $(seq 100); do  # openbox is up once it has claimed the root window
    xprop -root _NET_SUPPORTING_WM_CHECK 2>/dev/null | grep -q 'window id' && break
    sleep 0.1
  done
fi

# --- Files and mounts ----------------------------------------------------------
# mount_slowfs SOURCE MOUNTPOINT OPTIONS...: mounts and waits until it serves.
mount_slowfs() {
  local source=$1 mnt=$2
  shift 2
  mkdir -p "$mnt"
  rm -f "$work/release"
  "$slowfs" "$@" --release-file="$work/release" "$source" "$mnt" -f 2>"$work/slowfs.log" &
  local pid=$!
  mounts+=("$mnt")
  fs_pids+=("$pid")
  fs_conns+=("")
  for _ in $(seq 100); do
    mountpoint -q "$mnt" && break
    kill -0 "$pid" 2>/dev/null || die "slowfs did not start: $(cat "$work/slowfs.log")"
    sleep 0.1
  done
  mountpoint -q "$mnt" || die "slowfs did not mount $mnt"
  fs_conns[${#fs_conns[@]} - 1]=$(mountpoint -d "$mnt" | cut -d: -f2)
}

unmount_all() {
  local i
  for i in "${!mounts[@]}"; do unmount "$i"; done
  mounts=()
  fs_pids=()
  fs_conns=()
}

# --- The program and its steps -------------------------------------------------
window=

start_program() {
  "$program" >"$work/program.log" 2>&1 &
  app_pid=$!
  window=$(timeout 30 xdotool search --sync --onlyvisible --pid "$app_pid" --name "^$title\$" | head -n1)
  [ -n "$window" ] || die "the program's window did not appear"
  if [ "$wm" -eq 1 ]; then
    xdotool windowactivate --sync "$window"
  else
    xdotool windowfocus --sync "$window"
  fi
}

stop_program() {
  stop_pid "$app_pid"
  app_pid=
}

click() {  # click X Y: in the window's client area
  xdotool mousemove --window "$window" "$1" "$2" click 1
}

rchar() { awk '/^rchar:/ {print $2}' "/proc/$app_pid/io"; }

holds_files_in() {  # holds_files_in DIR: the program has a file beneath DIR open
  local fd
  for fd in /proc/"$app_pid"/fd/*; do
    case "$(readlink "$fd" 2>/dev/null)" in "$1"/*) return 0 ;; esac
  done
  return 1
}

shoot() {  # shoot NAME
  [ -n "$shots" ] || return 0
  xwd -root -silent | convert xwd:- "png:$shots/$1.png" && say "screenshot $shots/$1.png"
}

results=()

# measure NAME DIR BYTES DONE_CHECK CLICK...: pings the window from just before
# the clicks until the program has read BYTES more, holds nothing under DIR and
# DONE_CHECK succeeds, then PROBE_SETTLE seconds longer.
measure() {
  local name=$1 dir=$2 bytes=$3 done_check=$4
  shift 4
  local base started now shot=0 outcome=ended
  base=$(rchar)
  "$wm_ping" --pid "$app_pid" --gaps 100 --log "$work/$name.pings" >"$work/$name.ping" 2>&1 &
  ping_pid=$!
  sleep 0.3  # the ping has found the window and answers come in
  started=$(date +%s)
  "$@"
  while :; do
    now=$(date +%s)
    if [ "$shot" -eq 0 ] && [ $((now - started)) -ge "$shot_after" ]; then
      shoot "$name-mid"
      shot=1
    fi
    kill -0 "$app_pid" 2>/dev/null || {
      outcome="program ended"
      break
    }
    if [ $(($(rchar) - base)) -ge "$bytes" ] && ! holds_files_in "$dir" && $done_check; then
      break
    fi
    if [ $((now - started)) -ge "$step_timeout" ]; then
      outcome="timed out"
      break
    fi
    sleep 0.2
  done
  sleep "$settle"
  shoot "$name-end"
  kill -TERM "$ping_pid" 2>/dev/null || true
  wait "$ping_pid" || true
  ping_pid=
  local line
  line=$(grep '^pings' "$work/$name.ping" || echo "pings ? (wm_ping: $(cat "$work/$name.ping"))")
  say "$name: $outcome after $(($(date +%s) - started)) s; $line"
  grep '^gap_ms' "$work/$name.ping" | sort -k2 -rn | head -n5 | sed "s/^/responsiveness: $name: /" >&2 || true
  results+=("$name|$outcome|$line")
}

always() { true; }
bytes_in() { find "$1" -type f -printf '%s\n' | awk '{n += $1} END {printf "%.0f\n", n}'; }

search_in() {  # search_in FOLDER: types it into the folder field and clicks "Найти"
  click 96 34
  xdotool type --delay 2 "$1"
  click 464 36
}

delete_first_row() {
  click 96 78      # the first row of the names list
  click 96 188     # "Удалить выделеное"
}

files_left=
one_file_left() { [ "$(find "$files_left" -maxdepth 1 -type f | wc -l)" -eq 1 ]; }

for scenario in "${scenarios[@]}"; do
  say "scenario $scenario"
  dir=$work/$scenario
  mkdir -p "$dir/source"
  case "$scenario" in
    slow-mount)
      truncate -s 1G "$dir/source/big.bin"
      mount_slowfs "$dir/source" "$dir/mnt" --read-mbps=50
      start_program
      measure "$scenario-search" "$dir/mnt" "$(bytes_in "$dir/source")" always search_in "$dir/mnt"
      ;;
    cold-large | warm-large)
      say "writing $large_gib GiB"
      dd if=/dev/zero of="$dir/source/big.bin" bs=16M count=$((large_gib * 64)) status=none
      sync
      if [ "$scenario" = cold-large ]; then
        echo 3 >/proc/sys/vm/drop_caches || die "cannot drop the page cache (needs root)"
      else
        cat "$dir/source/big.bin" >/dev/null
      fi
      start_program
      measure "$scenario-search" "$dir/source" "$(bytes_in "$dir/source")" always search_in "$dir/source"
      ;;
    many-opens)
      pad=$(head -c 16370 /dev/zero | tr '\0' x)
      for d in $(seq 0 9); do
        mkdir "$dir/source/d$d"
        for f in $(seq 0 299); do
          # Distinct contents: a line that names the file, then the padding.
          printf 'd%s/f%s\n%s' "$d" "$f" "$pad" >"$dir/source/d$d/f$f"
        done
      done
      mount_slowfs "$dir/source" "$dir/mnt" --open-delay-ms=20
      start_program
      measure "$scenario-search" "$dir/mnt" "$(bytes_in "$dir/source")" always search_in "$dir/mnt"
      ;;
    delete-slow)
      truncate -s 1G "$dir/source/a.bin" "$dir/source/b.bin"
      mount_slowfs "$dir/source" "$dir/mnt" --read-mbps=50
      start_program
      measure "$scenario-search" "$dir/mnt" "$(bytes_in "$dir/source")" always search_in "$dir/mnt"
      files_left=$dir/source
      measure "$scenario-delete" "$dir/mnt" $((1 << 30)) one_file_left delete_first_row
      ;;
  esac
  stop_program
  unmount_all
  rm -rf --one-file-system "$dir"
done

echo "| step | window manager | outcome | longest gap (ms) | pings answered | p50 (ms) | p99 (ms) | step length (ms) |"
echo "|---|---|---|---:|---:|---:|---:|---:|"
for r in "${results[@]}"; do
  IFS='|' read -r name outcome line <<<"$r"
  field() { awk -v k="$1" '{for (i = 1; i < NF; i++) if ($i == k) print $(i + 1)}' <<<"$line"; }
  echo "| $name | $([ "$wm" -eq 1 ] && echo openbox || echo none) | $outcome |" \
    "$(field longest_gap_ms) | $(field answered)/$(field pings) | $(field p50_ms) |" \
    "$(field p99_ms) | $(field duration_ms) |"
done
