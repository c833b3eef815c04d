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
