#!/usr/bin/env bash
# Fails when a C++ source of the project differs from what clang-format makes of it
# (the project's .clang-format). Fix with: clang-format -i FILE...
set -euo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")/.."
files=()
while IFS= read -r -d '' file; do
    # A file deleted in the work tree but not yet in git has nothing to check.
    [ -f "$file" ] && files+=("$file")
done < <(git ls-files -z --cached --others --exclude-standard -- \
    'src/*.cpp' 'src/*.h' 'tests/*.cpp' 'tests/*.h' 'tools/*.cpp' 'tools/*.h' \
    'fuzz/*.cpp' 'fuzz/*.h' 'bench/*.cpp' 'bench/*.h' 'examples/*.c')
clang-format --dry-run --Werror "${files[@]}"
echo "format: all ${#files[@]} C and C++ sources are as clang-format leaves them"
