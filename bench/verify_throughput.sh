#!/usr/bin/env bash
# Read-back speed of `ferrowipe-cli format --verify` on a 4 GiB loop device with direct I/O,
# against `dd of=/dev/null bs=32M iflag=direct` and bench/bare_reader on the same device,
# alternating them for three rounds; plus the CLI's peak resident set size. Each reader is
# timed over its reads alone: the verify pass by the engine (its average-speed line), dd by dd,
# the bare reader by itself. Needs root. Everything it makes is removed on exit, also on failure.
#
#   sudo bench/verify_throughput.sh [BUILD_DIR]      (default: build/release)
#   ROUNDS=5 sudo bench/verify_throughput.sh ...
set -euo pipefail

build=${1:-build/release}
cli=$build/ferrowipe-cli
bare=$build/bare_reader
size=$((4 << 30))
rounds=${ROUNDS:-3}

bench=verify_throughput
[ -x "$cli" ] && [ -x "$bare" ] || { echo "verify_throughput: build ferrowipe-cli and bare_reader in $build" >&2; exit 1; }
source "$(dirname "$0")/bench_loop.sh"

# The engine's second average-speed line is the verify pass's; C numbers for a decimal point.
run_verify() {
  LC_ALL=C.UTF-8 env -u FERROWIPE_DISKS /usr/bin/time -v -o "$work/time.txt" \
    "$cli" format --yes --verify "$loop" >"$work/format.log"
  grep -q '驗證通過' "$work/format.log" || { cat "$work/format.log" >&2; exit 1; }
  awk -F': ' '/Maximum resident set size/ { print $2 }' "$work/time.txt" >>"$work/rss.txt"
  grep '平均速度:' "$work/format.log" | tail -1 | grep -o '[0-9.]* MB/s' | cut -d' ' -f1
}
run_dd() {
  local seconds
  seconds=$(LC_ALL=C dd if="$loop" of=/dev/null bs=32M iflag=direct 2>&1 | awk -F', ' '/copied/ { print $3 }' | cut -d' ' -f1)
  calc "$size / $seconds / 1000000"
}
run_bare() { calc "$size / $("$bare" "$loop") / 1000000"; }

declare -A total=([verify]=0 [dd]=0 [bare]=0)
order=(verify dd bare)
for round in $(seq 1 "$rounds"); do
  echo "round $round"
  for name in "${order[@]}"; do
    speed=$("run_$name")
    total[$name]=$(calc "${total[$name]} + $speed")
    printf '  %-7s %8.1f MB/s\n' "$name" "$speed"
  done
  order=("${order[@]:1}" "${order[0]}")
done

verify=$(calc "${total[verify]} / $rounds")
dd=$(calc "${total[dd]} / $rounds")
bare=$(calc "${total[bare]} / $rounds")
print_averages verify "$verify" "$dd" "$bare"
