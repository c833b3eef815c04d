#!/usr/bin/env bash
# Builds the bundled set of simulated disks into a folder (FERROWIPE_DISKS points at it): the
# metadata of tests/fixtures/demo/, the IDENTIFY, SMART and threshold sectors of real drives and the NVMe
# data of the demo NVMe disk from tests/fixtures/drives/, and sparse images, so the set takes a
# few kilobytes on disk whatever capacities it shows. The last image is the small one the demo quick-wipes.
# Usage: make-demo-disks.sh DIR
set -euo pipefail
dir=${1:?usage: make-demo-disks.sh DIR}
fixtures=$(cd "$(dirname "$0")/../tests/fixtures" && pwd)
mkdir -p "$dir"
while read -r name bytes drive; do
  case $name in '' | '#'*) continue ;; esac
  cp "$fixtures/demo/$name.json" "$dir/$name.json"
  for kind in identify smart thresholds nvme_identify_controller nvme_identify_namespace nvme_smart_log; do
    # Only the files the metadata names: a drive without them fails the command.
    if grep -q "\"$kind\": *\"$name.$kind\"" "$fixtures/demo/$name.json"; then
      cp "$fixtures/drives/$drive.$kind" "$dir/$name.$kind"
    fi
  done
  # A drive made anew forgets what an earlier run of the program left in it.
  rm -f "$dir/$name.img" "$dir/$name.state"
  truncate -s "$bytes" "$dir/$name.img"
done <"$fixtures/demo/images.txt"
