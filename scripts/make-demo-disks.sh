#!/usr/bin/env bash
# Builds the bundled set of simulated disks into a folder (FERROWIPE_DISKS points at it).
# Usage: make-demo-disks.sh DIR
set -euo pipefail
dir=${1:?usage: make-demo-disks.sh DIR}
mkdir -p "$dir"
truncate -s 64M "$dir/disk0.img"
