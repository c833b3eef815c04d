#!/usr/bin/env bash
# Throughput of a full `ferrowipe-cli format` on a 4 GiB loop device with direct I/O, against
# `dd bs=32M oflag=direct` and bench/bare_writer on the same device, alternating them for three
# rounds; plus the CLI's peak resident set size. Needs root. Everything it makes (image in /tmp,
# loop device) is removed on exit, also on failure.
#
#   sudo bench/throughput.sh [BUILD_DIR]      (default: build/release, as scripts/run.sh builds it)
#   ROUNDS=5 sudo bench/throughput.sh ...     (more rounds on a noisy machine)
set -euo pipefail

build=${1:-build/release}
cli=$build/ferrowipe-cli
bare=$build/bare_writer
size=$((4 << 30))
block=$((32 << 20))
rounds=${ROUNDS:-3}

bench=throughput
[ -x "$cli" ] && [ -x "$bare" ] || { echo "throughput: build ferrowipe-cli and bare_writer in $build" >&2; exit 1; }
source "$(dirname "$0")/bench_loop.sh"

# One untimed pass so that no timed writer pays for the file system allocating the image.
dd if=/dev/zero of="$loop" bs=32M count=$((size / block)) oflag=direct status=none

run_format() {
  env -u FERROWIPE_DISKS /usr/bin/time -v -o "$work/time.txt" \
    "$cli" format --yes "$loop" >"$work/format.log"
  awk -F': ' '/Maximum resident set size/ { print $2 }' "$work/time.txt" >>"$work/rss.txt"
}
run_dd() { dd if=/dev/zero of="$loop" bs=32M count=$((size / block)) oflag=direct status=none; }
run_bare() { "$bare" "$loop"; }

declare -A seconds=([format]=0 [dd]=0 [bare]=0)
timed() {
  local name=$1 start end took
  start=$(date +%s.%N)
  "run_$name"
  end=$(date +%s.%N)
  took=$(calc "$end - $start")
  seconds[$name]=$(calc "${seconds[$name]} + $took")
  printf '  %-7s %8.1f MB/s\n' "$name" "$(calc "$size / $took / 1000000")"
}

order=(format dd bare)
for round in $(seq 1 $rounds); do
  echo "round $round"
  for name in "${order[@]}"; do timed "$name"; done
  order=("${order[@]:1}" "${order[0]}")
done

mbs() { calc "$rounds * $size / ${seconds[$1]} / 1000000"; }
format=$(mbs format)
dd=$(mbs dd)
bare=$(mbs bare)
print_averages format "$format" "$dd" "$bare" 1.0
