#!/usr/bin/env bash
# Many disks at once: N loop devices with direct I/O (N = 1, 2, 4), each over an image file of
# its own in /tmp, erased by one `ferrowipe-cli format --yes A B ...` against as many
# `dd if=/dev/zero bs=32M oflag=direct conv=fsync` run side by side on the same devices,
# alternated round by round. Aggregate MB/s is all the bytes over the wall time of the whole
# command (the dd side: until the last dd ends); peak RSS of the CLI from /usr/bin/time. Needs
# root; everything it makes is removed on exit, also on failure.
#
#   sudo bench/many_disks.sh [BUILD_DIR]                 (default: build/release)
#   ROUNDS=5 SIZE=$((2 << 30)) COUNTS="1 2 4" sudo bench/many_disks.sh ...
set -euo pipefail

build=${1:-build/release}
cli=$build/ferrowipe-cli
size=${SIZE:-$((2 << 30))}
rounds=${ROUNDS:-3}
counts=${COUNTS:-1 2 4}

[ "$(id -u)" -eq 0 ] || { echo "many_disks: needs root (loop devices)" >&2; exit 1; }
[ -x "$cli" ] || { echo "many_disks: build ferrowipe-cli in $build" >&2; exit 1; }
command -v /usr/bin/time >/dev/null || { echo "many_disks: /usr/bin/time (package time) is missing" >&2; exit 1; }

loops=()
work=$(mktemp -d /tmp/ferrowipe-bench-XXXXXX)
cleanup() {
  for loop in "${loops[@]}"; do losetup -d "$loop" || true; done
  rm -rf "$work"
}
trap cleanup EXIT
calc() { awk "BEGIN { print $* }"; }

max=0
for n in $counts; do [ "$n" -gt "$max" ] && max=$n; done
for i in $(seq 1 "$max"); do
  fallocate -l "$size" "$work/disk$i.img"
  loops+=("$(losetup --find --show --direct-io=on "$work/disk$i.img")")
  # One untimed pass: no timed writer pays for the file system allocating the image.
  dd if=/dev/zero of="${loops[-1]}" bs=32M count=$((size >> 25)) oflag=direct status=none
done
echo "devices: ${loops[*]} ($((size >> 20)) MiB each, direct I/O)"

# Wall seconds of one command.
seconds() {
  local start end
  start=$(date +%s.%N)
  "$@"
  end=$(date +%s.%N)
  calc "$end - $start"
}
run_format() {
  env -u FERROWIPE_DISKS /usr/bin/time -v -o "$work/time.txt" \
    "$cli" format --yes "$@" >"$work/format.log" 2>&1 || { cat "$work/format.log" >&2; exit 1; }
  awk -F': ' '/Maximum resident set size/ { print $2 }' "$work/time.txt" >>"$work/rss-$#.txt"
}
run_dd() {
  local pids=() device
  for device in "$@"; do
    dd if=/dev/zero of="$device" bs=32M count=$((size >> 25)) oflag=direct conv=fsync status=none &
    pids+=($!)
  done
  for pid in "${pids[@]}"; do wait "$pid"; done
}

median() { sort -n "$1" | awk '{ v[NR] = $1 } END { print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'; }
for n in $counts; do
  devices=("${loops[@]:0:$n}")
  : >"$work/format-$n.txt"; : >"$work/dd-$n.txt"; : >"$work/rss-$n.txt"
  order=(format dd)
  for round in $(seq 1 "$rounds"); do
    for name in "${order[@]}"; do
      took=$(seconds "run_$name" "${devices[@]}")
      speed=$(calc "$n * $size / $took / 1000000")
      echo "$speed" >>"$work/$name-$n.txt"
      printf '  N=%d round %d  %-6s %8.1f MB/s\n' "$n" "$round" "$name" "$speed"
    done
    order=("${order[@]:1}" "${order[0]}")
  done
  format=$(median "$work/format-$n.txt"); dd=$(median "$work/dd-$n.txt")
  peak=$(sort -n "$work/rss-$n.txt" | tail -1)
  printf 'N=%d medians: format %.1f MB/s, parallel dd %.1f MB/s, ratio %.3f (target >= 0.95); peak RSS %.1f MiB (target < %d MiB)\n' \
    "$n" "$format" "$dd" "$(calc "$format / $dd")" "$(calc "$peak / 1024")" $((64 * n + 16))
done
