#!/usr/bin/env bash
# Saves pictures of the windows on the demo disks under docs/screenshots/: the main window on its
# device-details tab, the selection window, the S.M.A.R.T. tab, both tabs on the demo NVMe disk,
# a format run, the confirmation question with Qt's buttons translated, and the windows under a
# dark palette. The window test over the simulated disks takes them as it goes, here on an
# Xvfb display (xvfb-run), so they are real X windows captured from the X server.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh
bash scripts/build.sh build/release -DCMAKE_BUILD_TYPE=Release >/dev/null

out=$PWD/docs/screenshots
mkdir -p "$out"
# The agreement marker and Qt's runtime files of this run stay out of the user's folders.
scratch=$(mktemp -d /tmp/ferrowipe-screenshots.XXXXXX)
trap 'rm -rf "$scratch"' EXIT
FERROWIPE_SCREENSHOTS=$out QT_QPA_PLATFORM=xcb XDG_DATA_HOME=$scratch XDG_RUNTIME_DIR=$scratch \
  xvfb-run -a -s "-screen 0 1280x800x24" \
  build/release/tests/gui_simulated_disks_test demoSet demoNvme demoFormatRun \
    demoQuestionTranslated demoDarkTheme >"$scratch/log" 2>&1 || {
    cat "$scratch/log" >&2
    exit 1
  }
ls "$out"/*.png
