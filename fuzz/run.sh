#!/usr/bin/env bash
# Fuzzing of the platform-free sources (no <windows.h>), built natively with clang,
# libFuzzer, AddressSanitizer and UndefinedBehaviorSanitizer. Every target checks
# properties of its piece, not only that it survives.
#
#   fuzz/run.sh build               builds every target into fuzz/out/bin
#   fuzz/run.sh smoke               builds, replays fuzz/crashes, then fuzzes each target
#                                   briefly from its committed corpus; non-zero on any finding
#   fuzz/run.sh full [target...]    at least FUZZ_RUNS executions per target (default
#                                   1200000), then merges what they found into fuzz/corpus,
#                                   minimized
#   fuzz/run.sh coverage            line coverage of each target's sources by its corpus
#   fuzz/run.sh repro TARGET FILE.. runs the given inputs once through a target
#
# Environment: CXX (default clang++), FUZZ_OUT (default fuzz/out), FUZZ_SRC (the sources
# to build against, default src; a deliberately broken copy shows that the checks bite),
# SMOKE_SECONDS (per target, default 2), FUZZ_RUNS, FUZZ_JOBS (targets run at once,
# default the number of processors), FUZZ_ARCH (native, or i386 for a 32-bit build whose
# size_t and long are as narrow as the Windows build's; it needs g++-multilib and
# libssl-dev:i386, builds into fuzz/out/i386 and leaves fuzz/corpus as it is).
set -euo pipefail

here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
root=$(dirname "$here")
src=$(realpath -m "${FUZZ_SRC:-$root/src}")
arch=${FUZZ_ARCH:-native}
case $arch in
native) arch_flags=(); default_out=$here/out ;;
i386) arch_flags=(-m32); default_out=$here/out/i386 ;;
*) echo "fuzz: FUZZ_ARCH is native or i386" >&2; exit 2 ;;
esac
out=$(realpath -m "${FUZZ_OUT:-$default_out}")
cxx=${CXX:-clang++}
llvm_bin=/usr/lib/llvm-14/bin

targets=(bounded_text url_parser mail_address form_encoding login_data form_body
         multipart_layout answers sha1 temp_names upload_query body_pace)

# The platform-free sources under src/, the same list the Windows build keeps apart;
# building them natively here also shows that they are free of Win32.
mapfile -t sources < "$src/portable_sources.txt"

# The sources each target exercises, for the coverage report.
declare -A covers=(
    [bounded_text]="util/bounded_text.cpp"
    [url_parser]="http/url_parser.cpp util/bounded_text.cpp"
    [mail_address]="login/mail_address.cpp"
    [form_encoding]="login/form_encoding.cpp"
    [login_data]="dde/login_data_tokens.cpp"
    [form_body]="http/form_body.cpp"
    [multipart_layout]="upload/multipart_layout.cpp util/bounded_text.cpp"
    [answers]="login/login_answer.cpp upload/upload_answer.cpp"
    [sha1]="login/sha1.cpp util/bounded_text.cpp"
    [temp_names]="queue/temp_names.cpp"
    [upload_query]="upload/upload_query.cpp util/bounded_text.cpp"
    [body_pace]="http/body_pace.cpp"
)

# Longest input per target: past every buffer the piece fills (1024-byte URL parts, the
# 260-byte address field, the 2048-byte poke), yet short enough for many runs a second.
declare -A max_len=(
    [bounded_text]=600 [url_parser]=4096 [mail_address]=400 [form_encoding]=1200
    [login_data]=2100 [form_body]=2048 [multipart_layout]=2048 [answers]=300 [sha1]=2048
    [temp_names]=300 [upload_query]=1200 [body_pace]=2100
)

declare -A libs=([sha1]="-lcrypto")

# shellcheck disable=SC2054 # the commas belong to one option
common_flags=(-std=c++17 -g -O1 -Wall -Wextra -Werror -fno-omit-frame-pointer
              -fsanitize=address,undefined -fno-sanitize-recover=undefined "${arch_flags[@]}")

die() {
    echo "fuzz: $*" >&2
    exit 2
}

check_target() {
    local t
    for t in "${targets[@]}"; do
        [ "$t" = "$1" ] && return 0
    done
    die "unknown target '$1' (one of: ${targets[*]})"
}

# build DIR EXTRA_FLAGS...: the library of sources, then one executable per target.
build_into() {
    local dir=$1
    shift
    local flags=("${common_flags[@]}" "$@")
    mkdir -p "$dir/obj" "$dir/bin"
    local pids=() s t obj
    for s in "${sources[@]}"; do
        obj=$dir/obj/${s//\//_}.o
        "$cxx" "${flags[@]}" -fsanitize=fuzzer-no-link -I"$src" -c "$src/$s" -o "$obj" &
        pids+=($!)
    done
    for pid in "${pids[@]}"; do wait "$pid" || die "compiling the sources failed"; done
    rm -f "$dir/obj/libportable.a"
    ar rcs "$dir/obj/libportable.a" "$dir"/obj/*.cpp.o

    pids=()
    for t in "${targets[@]}"; do
        # shellcheck disable=SC2086 # libs holds separate words
        "$cxx" "${flags[@]}" -fsanitize=fuzzer -I"$src" -I"$here/targets" \
            "$here/targets/${t}_fuzzer.cpp" "$dir/obj/libportable.a" ${libs[$t]:-} \
            -o "$dir/bin/$t" &
        pids+=($!)
    done
    for pid in "${pids[@]}"; do wait "$pid" || die "building a target failed"; done
}

# Whether every target is newer than everything it is built from.
up_to_date() {
    local dir=$1 t oldest=
    for t in "${targets[@]}"; do
        [ -x "$dir/bin/$t" ] || return 1
        if [ -z "$oldest" ] || [ "$dir/bin/$t" -ot "$oldest" ]; then oldest=$dir/bin/$t; fi
    done
    [ -z "$(find "$src/util" "$src/http" "$src/login" "$src/dde" "$src/upload" "$here/targets" \
            "$here/run.sh" -newer "$oldest" -print -quit)" ]
}

build() {
    command -v "$cxx" >/dev/null || die "$cxx not found (scripts/bootstrap.sh installs clang)"
    if up_to_date "$out"; then
        echo "fuzz: targets in $out/bin are up to date"
        return
    fi
    build_into "$out"
    echo "fuzz: built ${#targets[@]} targets into $out/bin"
}

# run_limited JOBS COMMAND TARGET...: runs COMMAND TARGET for each target, JOBS at a time;
# fails if any of them failed.
run_limited() {
    local jobs=$1 command=$2 running=0 failed=0 t
    shift 2
    for t in "$@"; do
        "$command" "$t" &
        running=$((running + 1))
        if [ $running -ge "$jobs" ]; then
            wait -n || failed=1
            running=$((running - 1))
        fi
    done
    while [ $running -gt 0 ]; do
        wait -n || failed=1
        running=$((running - 1))
    done
    return $failed
}

# set_fuzz_args TARGET: fills fuzz_args with the options every run of a target shares.
set_fuzz_args() {
    local t=$1
    fuzz_args=(-max_len="${max_len[$t]}" -timeout=10 -rss_limit_mb=2048
               -artifact_prefix="$out/artifacts/$t/" -print_final_stats=1)
    if [ -f "$here/dict/$t.dict" ]; then fuzz_args+=(-dict="$here/dict/$t.dict"); fi
}

stat_of() { # stat_of LOG NAME
    sed -n "s/^stat::$2: *//p" "$1" | tail -n 1
}

coverage_of() { # the last "cov: N ft: M" of a libFuzzer log
    grep -o 'cov: [0-9]* ft: [0-9]*' "$1" | tail -n 1 || true
}

smoke_one() { # smoke_one TARGET: its kept crash inputs, then a short run from its corpus
    local t=$1 seconds=${SMOKE_SECONDS:-2} log status=0
    local result=$out/logs/$t.smoke.result
    set_fuzz_args "$t"
    mkdir -p "$out/artifacts/$t"
    # Inputs kept from earlier findings must pass for good.
    if compgen -G "$here/crashes/$t/*" >/dev/null; then
        log=$out/logs/$t.crashes.log
        if ! "$out/bin/$t" "${fuzz_args[@]}" "$here"/crashes/"$t"/* >"$log" 2>&1; then
            echo "FAIL $t: a kept crash input still fails (see $log)" >"$result"
            return 1
        fi
    fi
    rm -rf "$out/smoke/$t"
    mkdir -p "$out/smoke/$t"
    log=$out/logs/$t.smoke.log
    # New inputs go to the scratch folder named first, never into the committed corpus.
    "$out/bin/$t" "${fuzz_args[@]}" -max_total_time="$seconds" \
        "$out/smoke/$t" "$here/corpus/$t" >"$log" 2>&1 || status=$?
    if [ $status -ne 0 ]; then
        {
            echo "FAIL $t: exit $status (see $log; inputs in $out/artifacts/$t/)"
            grep -m 3 -E 'ERROR|property violated|runtime error' "$log" | sed 's/^/    /' || true
        } >"$result"
        return 1
    fi
    printf 'ok   %-17s %9s runs  %s\n' "$t" "$(stat_of "$log" number_of_executed_units)" \
        "$(coverage_of "$log")" >"$result"
}

smoke() {
    build
    mkdir -p "$out/logs"
    rm -f "$out"/logs/*.smoke.result
    local status=0 t
    run_limited "${FUZZ_JOBS:-$(nproc)}" smoke_one "${targets[@]}" || status=1
    for t in "${targets[@]}"; do
        cat "$out/logs/$t.smoke.result" 2>/dev/null || echo "FAIL $t: no result"
    done
    if [ $status -ne 0 ]; then
        echo "fuzz smoke: findings"
        return 1
    fi
    echo "fuzz smoke: no findings"
}

full_one() { # full_one TARGET: fuzz, then merge into the committed corpus
    local t=$1 runs=${FUZZ_RUNS:-1200000}
    local log=$out/logs/$t.full.log work=$out/full/$t merged=$out/merged/$t
    mkdir -p "$work" "$out/artifacts/$t"
    local start end status=0
    set_fuzz_args "$t"
    start=$(date +%s)
    "$out/bin/$t" "${fuzz_args[@]}" -runs="$runs" "$work" "$here/corpus/$t" >"$log" 2>&1 ||
        status=$?
    end=$(date +%s)
    if [ $status -ne 0 ]; then
        echo "FAIL $t: exit $status after $((end - start)) s (see $log; inputs in $out/artifacts/$t/)"
        return 1
    fi
    if [ "$arch" != native ]; then
        printf '%-17s %10s runs %6s s  %s\n' "$t" "$(stat_of "$log" number_of_executed_units)" \
            "$((end - start))" "$(coverage_of "$log")" | tee "$out/logs/$t.full.summary"
        return 0
    fi
    rm -rf "$merged"
    mkdir -p "$merged"
    "$out/bin/$t" -max_len="${max_len[$t]}" -merge=1 "$merged" "$here/corpus/$t" "$work" \
        >"$out/logs/$t.merge.log" 2>&1 || { echo "FAIL $t: merge failed"; return 1; }
    rm -f "$here/corpus/$t"/*
    cp "$merged"/* "$here/corpus/$t"/
    printf '%-17s %10s runs %6s s  %-20s corpus %s files\n' "$t" \
        "$(stat_of "$log" number_of_executed_units)" "$((end - start))" "$(coverage_of "$log")" \
        "$(find "$here/corpus/$t" -type f | wc -l)" | tee "$out/logs/$t.full.summary"
}

full() {
    build
    local chosen=("$@") t
    [ ${#chosen[@]} -eq 0 ] && chosen=("${targets[@]}")
    for t in "${chosen[@]}"; do check_target "$t"; done
    mkdir -p "$out/logs"
    if ! run_limited "${FUZZ_JOBS:-$(nproc)}" full_one "${chosen[@]}"; then
        echo "fuzz full: findings (see above)"
        return 1
    fi
    echo "fuzz full: no findings"
}

coverage() {
    local dir=$out/coverage t s
    build_into "$dir" -fprofile-instr-generate -fcoverage-mapping
    for t in "${targets[@]}"; do
        LLVM_PROFILE_FILE=$dir/$t.profraw "$dir/bin/$t" -runs=0 "$here/corpus/$t" \
            >"$dir/$t.log" 2>&1 || die "$t failed on its own corpus (see $dir/$t.log)"
        "$llvm_bin/llvm-profdata" merge -o "$dir/$t.profdata" "$dir/$t.profraw"
        local files=()
        for s in ${covers[$t]}; do files+=("$src/$s"); done
        echo "== $t"
        "$llvm_bin/llvm-cov" report "$dir/bin/$t" -instr-profile="$dir/$t.profdata" "${files[@]}" |
            grep -v '^-' | sed "s|$src/||"
    done
}

repro() {
    [ $# -ge 2 ] || die "usage: fuzz/run.sh repro TARGET FILE..."
    check_target "$1"
    local t=$1
    shift
    [ -x "$out/bin/$t" ] || build
    set_fuzz_args "$t"
    "$out/bin/$t" "${fuzz_args[@]}" "$@"
}

case "${1:-}" in
build) build ;;
smoke) smoke ;;
full) shift; full "$@" ;;
coverage) coverage ;;
repro) shift; repro "$@" ;;
*) sed -n '2,/^set -euo/p' "$0" | sed '$d; s/^# \{0,1\}//'; exit 2 ;;
esac
