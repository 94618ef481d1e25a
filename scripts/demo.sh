#!/usr/bin/env bash
# The main job: installs what is missing, builds what the demo runs (the uploader, the
# host tool, the window probe and the root store tool), and runs the demo under Wine and
# Xvfb, over HTTPS.
set -euo pipefail

root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build_dir="$root/build"

"$root/scripts/configure.sh" --no-prefix "$build_dir"
# A new Wine prefix takes seconds of its own: it is prepared while the programs build.
"$root/scripts/prepare-prefix.sh" "$build_dir" &
prefix=$!
cmake --build "$build_dir" -j "$(nproc)" --target VistoraUploader VistoraHost UiProbe RootStore
wait "$prefix"
PYTHONPATH="$root/tools/winedrive:$root/service" VISTORA_BUILD_DIR="$build_dir" \
    "$root/scripts/with-wine.sh" --build-dir "$build_dir" /usr/bin/python3 "$root/demo/run_demo.py" "$@"
