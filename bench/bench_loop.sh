# Sourced by the throughput benchmarks: checks for root and /usr/bin/time, then makes $work (a
# folder in /tmp) and $loop, a loop device with direct I/O over a $size-byte image in it; both
# are removed on exit, also on failure. Needs $bench (the benchmark's name) and $size.

[ "$(id -u)" -eq 0 ] || { echo "$bench: needs root (loop devices)" >&2; exit 1; }
command -v /usr/bin/time >/dev/null || { echo "$bench: /usr/bin/time (package time) is missing" >&2; exit 1; }

loop=""
work=$(mktemp -d /tmp/ferrowipe-bench-XXXXXX)
cleanup() {
  if [ -n "$loop" ]; then losetup -d "$loop" || true; fi
  rm -rf "$work"
}
trap cleanup EXIT

fallocate -l "$size" "$work/disk.img"
loop=$(losetup --find --show --direct-io=on "$work/disk.img")
echo "device: $loop ($((size >> 20)) MiB, direct I/O, image $work/disk.img)"

calc() { awk "BEGIN { print $* }"; }

# The closing lines of both benchmarks: averages of the reader or writer under test ($1, named
# by six letters), dd and the bare program, their ratios, and the CLI's peak RSS. $5: the ratio
# to dd that counts as a target, or nothing.
print_averages() {
  local name=$1 value=$2 dd=$3 bare=$4 dd_target=${5:-} peak
  peak=$(sort -n "$work/rss.txt" | tail -1)
  echo "average over $rounds rounds"
  printf '  %s  %8.1f MB/s\n  dd      %8.1f MB/s\n  bare    %8.1f MB/s\n' "$name" "$value" "$dd" "$bare"
  printf '  %s / dd   %.3f%s\n' "$name" "$(calc "$value / $dd")" \
    "${dd_target:+   (target >= $dd_target)}"
  printf '  %s / bare %.3f   (target >= 0.9)\n' "$name" "$(calc "$value / $bare")"
  printf '  ferrowipe-cli peak RSS %d KiB (%.1f MiB; target < 64 MiB)\n' "$peak" "$(calc "$peak / 1024")"
}
