#!/usr/bin/env bash
# The write and verify passes against fio's best setting measured in the same run, on a 4 GiB
# loop device with direct I/O. First a small fio grid (io_uring and libaio; 1, 4 and 16 in
# flight; 1, 4 and 32 MiB per request; writes and reads, one pass each) picks fio's best writer
# and best reader; then rounds alternate a full `ferrowipe-cli format --yes --verify` with those
# two, and the medians are compared. The write pass and the verify pass are timed by the engine
# (its two average-speed lines: the write pass's includes the closing flush), fio by fio. Peak
# RSS of the CLI from /usr/bin/time. Needs root and fio; everything it makes is removed on exit.
#
#   sudo bench/queue_throughput.sh [BUILD_DIR]    (default: build/release)
#   ROUNDS=10 sudo bench/queue_throughput.sh ...  (default 5)
set -euo pipefail

build=${1:-build/release}
cli=$build/ferrowipe-cli
size=$((4 << 30))
rounds=${ROUNDS:-5}

bench=queue_throughput
[ -x "$cli" ] || { echo "$bench: build ferrowipe-cli in $build" >&2; exit 1; }
command -v fio >/dev/null || { echo "$bench: fio is missing" >&2; exit 1; }
source "$(dirname "$0")/bench_loop.sh"

dd if=/dev/zero of="$loop" bs=32M count=$((size >> 25)) oflag=direct status=none

# fio's bandwidth in MB/s: terse fields 7 (read) and 48 (write) are KiB/s.
run_fio() {
  local rw=$1 engine=$2 depth=$3 bs=$4 field=7
  [ "$rw" = write ] && field=48
  fio --name=bench --filename="$loop" --rw="$rw" --bs="$bs" --iodepth="$depth" \
    --ioengine="$engine" --direct=1 --size="$size" --output-format=terse --terse-version=3 |
    awk -F';' -v f="$field" '{ printf "%.1f\n", $f * 1024 / 1000000 }'
}

declare -A best_setting=() best_speed=([write]=0 [read]=0)
echo "fio grid"
for rw in write read; do
  for engine in io_uring libaio; do
    for depth in 1 4 16; do
      for bs in 1M 4M 32M; do
        speed=$(run_fio "$rw" "$engine" "$depth" "$bs")
        printf '  %-5s %-8s %2d in flight %3s  %8.1f MB/s\n' "$rw" "$engine" "$depth" "$bs" "$speed"
        if awk "BEGIN { exit !($speed > ${best_speed[$rw]}) }"; then
          best_speed[$rw]=$speed
          best_setting[$rw]="$engine $depth $bs"
        fi
      done
    done
  done
done
echo "fio's best write: ${best_setting[write]}; best read: ${best_setting[read]}"

# The engine's two average-speed lines, in MB/s; C numbers for a decimal point.
run_format() {
  LC_ALL=C.UTF-8 env -u FERROWIPE_DISKS /usr/bin/time -v -o "$work/time.txt" \
    "$cli" format --yes --verify "$loop" >"$work/format.log"
  grep -q '驗證通過' "$work/format.log" || { cat "$work/format.log" >&2; exit 1; }
  awk -F': ' '/Maximum resident set size/ { print $2 }' "$work/time.txt" >>"$work/rss.txt"
  grep '平均速度:' "$work/format.log" | grep -o '[0-9.]* MB/s' | cut -d' ' -f1 | paste -sd' '
}

: >"$work/write.txt"; : >"$work/verify.txt"; : >"$work/fio-write.txt"; : >"$work/fio-read.txt"
order=(format fio-write fio-read)
for round in $(seq 1 "$rounds"); do
  echo "round $round"
  for name in "${order[@]}"; do
    case $name in
      format)
        read -r write verify <<<"$(run_format)"
        echo "$write" >>"$work/write.txt"; echo "$verify" >>"$work/verify.txt"
        printf '  format   write %8.1f MB/s  verify %8.1f MB/s\n' "$write" "$verify" ;;
      fio-write)
        # shellcheck disable=SC2086
        speed=$(run_fio write ${best_setting[write]}); echo "$speed" >>"$work/fio-write.txt"
        printf '  fio      write %8.1f MB/s\n' "$speed" ;;
      fio-read)
        # shellcheck disable=SC2086
        speed=$(run_fio read ${best_setting[read]}); echo "$speed" >>"$work/fio-read.txt"
        printf '  fio      read  %8.1f MB/s\n' "$speed" ;;
    esac
  done
  order=("${order[@]:1}" "${order[0]}")
done

median() { sort -n "$1" | awk '{ v[NR] = $1 } END { print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'; }
write=$(median "$work/write.txt"); verify=$(median "$work/verify.txt")
fio_write=$(median "$work/fio-write.txt"); fio_read=$(median "$work/fio-read.txt")
peak=$(sort -n "$work/rss.txt" | tail -1)
echo "medians over $rounds rounds"
printf '  write pass   %8.1f MB/s   fio (%s) %8.1f MB/s   ratio %.3f (target >= 0.95)\n' \
  "$write" "${best_setting[write]}" "$fio_write" "$(calc "$write / $fio_write")"
printf '  verify pass  %8.1f MB/s   fio (%s) %8.1f MB/s   ratio %.3f (target >= 0.95)\n' \
  "$verify" "${best_setting[read]}" "$fio_read" "$(calc "$verify / $fio_read")"
printf '  ferrowipe-cli peak RSS %d KiB (%.1f MiB; target < 64 MiB)\n' "$peak" "$(calc "$peak / 1024")"
