#!/usr/bin/env bash
# Runs one end-to-end test file in a Wine prefix of its own, a copy of the build's, with
# its own wineserver. The uploader is single-instance per wineserver, and its window and
# DDE service are found by name, so test files can only run side by side this way.
#
#   run_isolated.sh NAME command [args...]
set -euo pipefail

root=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
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
    rm -rf "$private"
}
trap cleanup EXIT

status=0
vistora_run_with_wineserver "$@" || status=$?
exit $status
