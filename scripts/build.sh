#!/usr/bin/env bash
# Installs what is missing, then configures and builds everything into the build tree.
#   scripts/build.sh [build-dir]
set -euo pipefail

root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build_dir=$(realpath -m "${1:-$root/build}")

"$root/scripts/configure.sh" "$build_dir"
cmake --build "$build_dir" -j "$(nproc)"
