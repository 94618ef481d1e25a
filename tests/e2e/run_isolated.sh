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

wineserver -p
# Wine's background processes start now, not inside a test whose output they would hold.
wine cmd /c exit </dev/null >/dev/null 2>&1 || true

set +e
"$@"
status=$?
set -e
exit $status
