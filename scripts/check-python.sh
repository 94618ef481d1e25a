#!/usr/bin/env bash
# The Python sources against the project's ruff.toml: lint and format, as CI checks them.
#   scripts/check-python.sh          report, exit 1 on any finding
#   scripts/check-python.sh --fix    reformat the files and fix what ruff can, in place;
#                                    report what is left
# ruff comes as its WebAssembly build from the npm registry (Debian 12 has no ruff
# package), pinned below and installed once into the build tree.
set -euo pipefail

root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
ruff_version=0.17.4
modules="$root/build/ruff-$ruff_version"

if [ ! -d "$modules/node_modules/@astral-sh/ruff-wasm-nodejs" ]; then
    mkdir -p "$modules"
    npm install --silent --no-audit --no-fund --prefix "$modules" \
        "@astral-sh/ruff-wasm-nodejs@$ruff_version" >/dev/null
fi

settings=$(mktemp)
trap 'rm -f "$settings"' EXIT
/usr/bin/python3 -c 'import json, sys, tomllib; print(json.dumps(tomllib.load(open(sys.argv[1], "rb"))))' \
    "$root/ruff.toml" >"$settings"

cd "$root"
mapfile -d '' files < <(git ls-files -z --cached --others --exclude-standard -- \
    'service/*.py' 'tests/*.py' 'tools/*.py' 'bench/*.py' 'demo/*.py' 'scripts/*.py')
existing=()
for file in "${files[@]}"; do
    [ -f "$file" ] && existing+=("$file")
done
NODE_PATH="$modules/node_modules" node "$root/tools/ruff/ruff_check.js" "$settings" "$@" \
    "${existing[@]}"
