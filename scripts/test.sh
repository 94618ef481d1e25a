#!/usr/bin/env bash
# The whole test suite: installs, builds, then runs every test through ctest under Wine.
#   scripts/test.sh [extra ctest arguments...]
set -euo pipefail

root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build_dir="$root/build"

"$root/scripts/build.sh" "$build_dir"
# Most end-to-end entries wait out the designed time-outs rather than compute, so three
# run per processor.
"$root/scripts/with-wine.sh" --build-dir "$build_dir" \
    ctest --test-dir "$build_dir" --output-on-failure --no-tests=error -j "$(($(nproc) * 3))" "$@"
