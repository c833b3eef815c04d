#!/usr/bin/env bash
# Builds the Debian package: build/release/ferrowipe_4.30_amd64.deb. Install it with
#   sudo apt install ./build/release/ferrowipe_4.30_amd64.deb
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh
bash scripts/build.sh build/release -DCMAKE_BUILD_TYPE=Release -DFERROWIPE_BUILD_TESTS=OFF
(cd build/release && cpack -G DEB >/dev/null)
ls build/release/ferrowipe_*.deb
