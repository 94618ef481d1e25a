#!/usr/bin/env bash
# The long soak (about a quarter of an hour): 300 files against a service that fails about
# one upload in ten. Not part of the test command.
#   scripts/soak.sh [--files N] [--seed S] [--rate R]
set -euo pipefail

root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build_dir="$root/build"

"$root/scripts/build.sh" "$build_dir"
PYTHONPATH="$root/tools/winedrive:$root/service:$root/tests/e2e" VISTORA_BUILD_DIR="$build_dir" \
    "$root/scripts/with-wine.sh" --build-dir "$build_dir" /usr/bin/python3 "$root/tests/e2e/soak_run.py" "$@"
