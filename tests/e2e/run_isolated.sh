#!/usr/bin/env bash
# Runs one end-to-end test file in a Wine prefix of its own, a copy of the build's, with
# its own wineserver. The uploader is single-instance per wineserver, and its window and
# DDE service are found by name, so test files can only run side by side this way.
# With --own-display it also gets an Xvfb of its own: a file whose tests type keys needs
# its window to keep the keyboard focus, which the windows of other files on a shared
# display take from it.
#
#   run_isolated.sh [--own-display] NAME command [args...]
set -euo pipefail

root=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
own_display=0
if [ "${1:-}" = "--own-display" ]; then
    own_display=1
    shift
fi
name=$1
shift
# shellcheck source=../../scripts/wine-env.sh
source "$root/scripts/wine-env.sh" "${VISTORA_BUILD_DIR:-$root/build}"

private="$VISTORA_BUILD_DIR/wineprefix-$name"
rm -rf "$private"
cp -a "$WINEPREFIX" "$private"
export WINEPREFIX="$private"

cleanup() {
    wineserver -k 2>/dev/null || true
    vistora_stop_display
    rm -rf "$private"
}
trap cleanup EXIT
if [ $own_display -eq 1 ]; then
    vistora_start_display
fi

status=0
vistora_run_with_wineserver "$@" || status=$?
exit $status
