#!/usr/bin/env bash
# The long soak (about a quarter of an hour): 300 files against a service that fails about
# one upload in ten. The test suite runs a short one (a dozen files) as soak_short.
#   scripts/soak.sh [--files N] [--seed S] [--rate R]
set -euo pipefail

root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build_dir="$root/build"

# Only what the soak runs: the uploader, the host tool that hands the files over and the
# probe that answers its alerts.
"$root/scripts/configure.sh" "$build_dir"
cmake --build "$build_dir" -j "$(nproc)" --target VistoraUploader VistoraHost UiProbe >/dev/null
PYTHONPATH="$root/tools/winedrive:$root/service:$root/tests/e2e" VISTORA_BUILD_DIR="$build_dir" \
    "$root/scripts/with-wine.sh" --build-dir "$build_dir" /usr/bin/python3 "$root/tools/soak/soak_run.py" "$@"
