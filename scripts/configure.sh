#!/usr/bin/env bash
# Installs what is missing and configures the build tree (the cross toolchain, the
# project's Wine prefix); the other scripts then build what they need of it.
#   scripts/configure.sh [--no-prefix] [build-dir]
set -euo pipefail

bootstrap_options=()
if [ "${1:-}" = "--no-prefix" ]; then
    bootstrap_options=(--no-prefix)
    shift
fi
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build_dir=$(realpath -m "${1:-$root/build}")

"$root/scripts/bootstrap.sh" "${bootstrap_options[@]}" "$build_dir"
# Warnings fail the build unless VISTORA_WARNINGS_AS_ERRORS=OFF is set for this run; given
# on every configure, so a cached tree cannot keep an old choice.
cmake -S "$root" -B "$build_dir" \
    -DCMAKE_TOOLCHAIN_FILE="$root/cmake/i686-w64-mingw32.cmake" \
    -DVISTORA_WARNINGS_AS_ERRORS="${VISTORA_WARNINGS_AS_ERRORS:-ON}" \
    -DCMAKE_BUILD_TYPE="${CMAKE_BUILD_TYPE:-RelWithDebInfo}" >/dev/null
