#!/usr/bin/env bash
# The release archive: installs what is missing, builds the two programs and writes
#   build/dist/VistoraUploader-<version>.zip and VistoraUploader-<version>.zip.sha256
#   scripts/package.sh [build-dir]
set -euo pipefail

root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build_dir=$(realpath -m "${1:-$root/build}")

"$root/scripts/configure.sh" "$build_dir"
cmake --build "$build_dir" -j "$(nproc)" --target dist
cat "$build_dir"/dist/VistoraUploader-*.zip.sha256
ls -l "$build_dir"/dist/VistoraUploader-*.zip
