#!/usr/bin/env bash
# Runs one command with a private Xvfb display and one wineserver kept alive for the
# whole run, then stops both (only the processes started here).
#
#   scripts/with-wine.sh [--build-dir DIR] command [args...]
set -euo pipefail

root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build_dir="$root/build"
if [ "${1:-}" = "--build-dir" ]; then
    build_dir=$2
    shift 2
fi
# shellcheck source=wine-env.sh
source "$root/scripts/wine-env.sh" "$build_dir"

cleanup() {
    wineserver -k 2>/dev/null || true
    vistora_stop_display
}
trap cleanup EXIT
vistora_start_display

status=0
vistora_run_with_wineserver "$@" || status=$?
exit $status
