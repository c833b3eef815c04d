#!/usr/bin/env bash
# Builds the Debian packages: build/release/ferrowipe-cli_4.30_amd64.deb (the command, without
# Qt) and build/release/ferrowipe_4.30_amd64.deb (the window). Install both with
#   sudo apt install ./build/release/ferrowipe-cli_4.30_amd64.deb ./build/release/ferrowipe_4.30_amd64.deb
# or the CLI alone on a server.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh
bash scripts/build.sh build/release -DCMAKE_BUILD_TYPE=Release -DFERROWIPE_BUILD_TESTS=OFF
(cd build/release && cpack -G DEB >/dev/null)
ls build/release/ferrowipe-cli_*.deb build/release/ferrowipe_*.deb
