#!/usr/bin/env bash
# A format run started from the window against one from the CLI, on the same 4 GiB loop device
# with direct I/O, alternated round by round: both write passes timed by the engine (the
# average-speed line each front end shows), compared as medians. bench/window_run drives the
# main window offscreen. Needs root; everything it makes is removed on exit, also on failure.
#
#   sudo bench/window_throughput.sh [BUILD_DIR]   (default: build/release)
#   ROUNDS=10 sudo bench/window_throughput.sh ...  (default 5)
set -euo pipefail

build=${1:-build/release}
cli=$build/ferrowipe-cli
window=$build/window_run
size=$((4 << 30))
rounds=${ROUNDS:-5}

bench=window_throughput
[ -x "$cli" ] && [ -x "$window" ] || { echo "$bench: build ferrowipe-cli and window_run in $build" >&2; exit 1; }
source "$(dirname "$0")/bench_loop.sh"

dd if=/dev/zero of="$loop" bs=32M count=$((size >> 25)) oflag=direct status=none

# Both print the write pass's average speed; C numbers for a decimal point.
run_cli() {
  LC_ALL=C.UTF-8 env -u FERROWIPE_DISKS "$cli" format --yes "$loop" >"$work/format.log"
  grep '平均速度:' "$work/format.log" | head -1 | grep -o '[0-9.]* MB/s' | cut -d' ' -f1
}
run_window() {
  LC_ALL=C.UTF-8 XDG_RUNTIME_DIR=$work env -u FERROWIPE_DISKS /usr/bin/time -v -o "$work/time.txt" \
    "$window" "$loop" 2>"$work/window.err" | grep -o '[0-9.]*' | head -1
  awk -F': ' '/Maximum resident set size/ { print $2 }' "$work/time.txt" >>"$work/rss.txt"
}

: >"$work/cli.txt"; : >"$work/window.txt"
order=(window cli)
for round in $(seq 1 "$rounds"); do
  for name in "${order[@]}"; do
    speed=$("run_$name")
    [ -n "$speed" ] || { cat "$work/window.err" >&2; exit 1; }
    echo "$speed" >>"$work/$name.txt"
    printf '  round %d  %-6s %8.1f MB/s\n' "$round" "$name" "$speed"
  done
  order=("${order[@]:1}" "${order[0]}")
done
median() { sort -n "$1" | awk '{ v[NR] = $1 } END { print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'; }
window=$(median "$work/window.txt"); cli=$(median "$work/cli.txt")
printf 'medians over %d rounds: window %.1f MB/s, CLI %.1f MB/s, window / CLI %.3f (target >= 0.95); window peak RSS %.1f MiB\n' \
  "$rounds" "$window" "$cli" "$(calc "$window / $cli")" "$(calc "$(sort -n "$work/rss.txt" | tail -1) / 1024")"
