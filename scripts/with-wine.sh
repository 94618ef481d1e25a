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

display_file=$(mktemp)
xvfb_pid=
cleanup() {
    wineserver -k 2>/dev/null || true
    if [ -n "$xvfb_pid" ]; then
        kill "$xvfb_pid" 2>/dev/null || true
        wait "$xvfb_pid" 2>/dev/null || true
    fi
    rm -f "$display_file"
}
trap cleanup EXIT

# -noreset: by default Xvfb resets whenever its last client has gone, and refuses the
# connections that come meanwhile. A Wine explorer refused so records the display driver
# as failed for its desktop, and every window of that prefix fails to be created until
# the explorer ends (seen in CI: every window of one test file). Six clients connecting
# at once here lost 11 of 600 connections, none with -noreset.
Xvfb -displayfd 3 -screen 0 1280x1024x24 -nolisten tcp -noreset 3>"$display_file" >/dev/null 2>&1 &
xvfb_pid=$!
for _ in $(seq 100); do
    [ -s "$display_file" ] && break
    sleep 0.05
done
if [ ! -s "$display_file" ]; then
    echo "with-wine: Xvfb did not start" >&2
    exit 1
fi
export DISPLAY=":$(head -n1 "$display_file")"

status=0
vistora_run_with_wineserver "$@" || status=$?
exit $status
