#!/usr/bin/env bash
# Fails when a C++ source of the project differs from what clang-format makes of it
# (the project's .clang-format). Fix with: clang-format -i FILE...
set -euo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")/.."
git ls-files -z -- 'src/*.cpp' 'src/*.h' 'tests/*.cpp' 'tests/*.h' 'tools/*.cpp' 'tools/*.h' \
    'fuzz/*.cpp' 'fuzz/*.h' 'bench/*.cpp' 'bench/*.h' |
    xargs -0 clang-format --dry-run --Werror
echo "format: every C++ source is as clang-format leaves it"
