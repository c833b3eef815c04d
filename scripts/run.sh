#!/usr/bin/env bash
# Installs what is missing, builds, and starts Ferrowipe on the bundled simulated disks: no
# real disk is touched. Without a display it runs the same job through ferrowipe-cli.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh
bash scripts/build.sh build/release -DCMAKE_BUILD_TYPE=Release -DFERROWIPE_BUILD_TESTS=OFF

demo=$(mktemp -d /tmp/ferrowipe-demo.XXXXXX)
# The demo folder goes when the script ends, however it ends: the window program is run as a
# child, not exec'd, so that this shell is still there to remove it.
trap 'rm -rf "$demo"' EXIT
trap 'exit 130' HUP INT TERM
bash scripts/make-demo-disks.sh "$demo"
export FERROWIPE_DISKS=$demo
# The agreement marker of a demo run stays with the demo.
export XDG_DATA_HOME=$demo/data

if [ -n "${DISPLAY:-}" ] || [ -n "${WAYLAND_DISPLAY:-}" ]; then
  status=0
  build/release/ferrowipe "$@" || status=$?
  exit "$status"
fi

cli=build/release/ferrowipe-cli
echo "No display here: running the demo through ferrowipe-cli on the simulated disks in $demo."
echo "(To see the window, run this script from a desktop session, or: xvfb-run -a $0)"
echo
echo "\$ ferrowipe-cli list"; "$cli" list
echo; echo "\$ ferrowipe-cli details 0"; "$cli" details 0
# The demo drive counts reallocated and pending sectors: smart says so with exit status 11.
echo; echo "\$ ferrowipe-cli smart 0"; "$cli" smart 0 || echo "(exit status $?: the health verdict)"
quick=$(ls "$demo"/*.img | tail -n 1)
echo; echo "\$ ferrowipe-cli format --quick --yes $quick"; "$cli" format --quick --yes "$quick"
