#!/usr/bin/env bash
# The benchmarks: builds what they need into build-bench (a tree of their own, so that a
# full run's big files stay out of the tests' tree), runs every case under a private Xvfb
# and wineserver, prints the table and writes bench/RESULTS.md.
#
#   bench/run.sh           the full run (a few minutes; needs about 1 GiB free under build-bench,
#                          and root for the slow links' network namespaces)
#   bench/run.sh --quick   a smoke run for CI: small sizes, every case but the slow links runs
#                          and gives numbers, no verdicts on the goals; writes
#                          build-bench/bench/RESULTS-partial.md
#   bench/run.sh --only transfer,memory
#                          only those cases, by name: transfer, link, body, overhead,
#                          queue, memory, startup, pokes, limits (also into
#                          RESULTS-partial.md)
#   bench/run.sh --keep    leaves the work folder (installs, logs, big files) for a look
#   bench/run.sh --build-dir DIR
#                          builds into DIR instead (CI gives the tests' tree, whose
#                          programs and prefix are ready by then)
set -euo pipefail

root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build_dir="$root/build-bench"

usage() {
    echo "usage: bench/run.sh [--quick] [--keep] [--only CASE[,CASE...]] [--build-dir DIR]" >&2
    exit 2
}
args=()
while [ $# -gt 0 ]; do
    case "$1" in
    --quick | --keep)
        args+=("$1")
        shift
        ;;
    --build-dir)
        [ -n "${2:-}" ] || usage
        build_dir=$(realpath -m "$2")
        shift 2
        ;;
    --only)
        case_name='(transfer|link|body|overhead|queue|memory|startup|pokes|limits)'
        [[ "${2:-}" =~ ^$case_name(,$case_name)*$ ]] || usage
        args+=("$1" "$2")
        shift 2
        ;;
    *) usage ;;
    esac
done

# Only what the cases run: the programs, the probe and the helpers, not the tests.
"$root/scripts/configure.sh" "$build_dir"
cmake --build "$build_dir" -j "$(nproc)" --target VistoraUploader VistoraHost UiProbe \
    BodyBench SendBench StartupBench ConsoleReady GuiReady DesignReady DesignCycle PokeBench >/dev/null
exec "$root/scripts/with-wine.sh" --build-dir "$build_dir" \
    /usr/bin/python3 "$root/bench/bench.py" --build-dir "$build_dir" "${args[@]}"
