#!/usr/bin/env bash
# Installs what is missing, then builds and runs every test twice: a release build, and a
# build under AddressSanitizer + UndefinedBehaviorSanitizer. Tests that need root and loop
# devices skip themselves (and say so) where the machine has neither.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh

export QT_QPA_PLATFORM=offscreen
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1

run() {
  local dir=$1
  shift
  echo "== $dir"
  bash scripts/build.sh "$dir" "$@"
  (cd "$dir" && ctest --output-on-failure -j 2 --timeout 900)
}

# Built as the package is (Release): the tests judge the code that is shipped, warnings included.
run build/release -DCMAKE_BUILD_TYPE=Release
run build/asan -DCMAKE_BUILD_TYPE=Debug -DFERROWIPE_SANITIZE=ON

# --- the real-driver tier: once, on the Release tree, never under the sanitizers ---
# Boots Debian's kernel under QEMU against emulated SATA, IDE, NVMe, USB and SCSI disks (a few
# minutes; FERROWIPE_SKIP_TIERS=vm skips it by name).
echo "== vm tier (build/release)"
bash tests/vm/run.sh build/release
