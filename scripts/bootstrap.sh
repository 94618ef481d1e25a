#!/usr/bin/env bash
# Makes this machine able to build the uploader and run it under Wine: installs the
# missing Debian packages, generates the Japanese locale and prepares the project's
# private Wine prefix inside the build tree. Safe to run again; a ready machine takes seconds.
#
#   scripts/bootstrap.sh [--no-prefix] [build-dir]
# With --no-prefix the Wine prefix is left to the caller (scripts/prepare-prefix.sh), which
# may prepare it while it builds.
set -euo pipefail

with_prefix=1
if [ "${1:-}" = "--no-prefix" ]; then
    with_prefix=0
    shift
fi
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build_dir=$(realpath -m "${1:-$root/build}")

as_root() {
    if [ "$(id -u)" -eq 0 ]; then "$@"; else sudo "$@"; fi
}

packages=(
    cmake make g++-mingw-w64-i686 binutils-mingw-w64-i686
    # A 64-bit host for the uploader, as on 64-bit Windows (the hand-over example).
    gcc-mingw-w64-x86-64-win32 binutils-mingw-w64-x86-64
    # The 64-bit prefix (WoW64) in which the 32-bit uploader runs; wine32 for the uploader.
    wine wine64 wine32:i386 xvfb xauth x11-utils xdotool
    locales fonts-ipafont-gothic fonts-wine imagemagick
    python3 python3-werkzeug python3-pytest python3-cryptography curl tinyproxy-bin
    clang clang-format libclang-rt-14-dev libssl-dev
    # The tests on a shaped link: network namespaces and tc, and nftables for losses.
    iproute2 nftables
)
# Node.js runs ruff's WebAssembly build for the Python checks (scripts/check-python.sh);
# machines that already have a node of their own keep it.
if ! command -v node >/dev/null || ! command -v npm >/dev/null; then
    packages+=(nodejs npm)
fi

need_update=0
if ! dpkg --print-foreign-architectures | grep -qx i386; then
    echo "bootstrap: adding the i386 architecture"
    as_root dpkg --add-architecture i386
    need_update=1
fi

missing=()
for p in "${packages[@]}"; do
    if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'ok installed'; then
        missing+=("$p")
    fi
done

# A package mirror can be caught mid-sync: one index (seen: the security suite's i386
# list) then fails with "File has unexpected size ... Mirror sync in progress?". Without
# it the amd64 libraries come from one suite and their i386 twins from another, and
# multiarch packages must have one version on both, so wine32:i386 is refused as "held
# broken packages". So the update is tried a few times; if a suite still fails, apt uses
# sources of our own without that suite for both the update and the install, so that
# every architecture takes its versions from the same suites.
update_attempts=3
update_pause_s=20
apt_log=$(mktemp)
apt_own_sources=$(mktemp -d)
trap 'rm -rf "$apt_log" "$apt_own_sources"' EXIT
apt_options=()

# Suites whose index did not arrive, as "repository-uri suite" lines.
failed_suites() {
    sed -n 's|.*Failed to fetch \([a-z+]*://[^ ]*\)/dists/\([^/]*\)/.*|\1 \2|p' "$apt_log" | sort -u
}

apt_update() {
    local attempt
    for ((attempt = 1; attempt <= update_attempts; attempt++)); do
        if as_root apt-get "${apt_options[@]}" update -qq >"$apt_log" 2>&1 &&
            ! grep -q '^E:' "$apt_log"; then
            return 0
        fi
        if [ $attempt -lt $update_attempts ]; then
            echo "bootstrap: the package index update failed (attempt $attempt of $update_attempts):" \
                "$(grep -m1 '^E:' "$apt_log" || tail -n1 "$apt_log"); again in ${update_pause_s}s"
            sleep "$update_pause_s"
        fi
    done
    return 1
}

# Copies the system's sources into a folder of our own, without the suites in $1 (lines
# "uri suite"), in both the one-line and the deb822 formats.
write_own_sources() {
    local drop=$1 f
    mkdir -p "$apt_own_sources/sources.list.d"
    for f in /etc/apt/sources.list /etc/apt/sources.list.d/*.list /etc/apt/sources.list.d/*.sources; do
        [ -f "$f" ] || continue
        awk -v drop="$drop" '
            function norm(u) { sub(/\/+$/, "", u); return u }
            BEGIN {
                n = split(drop, lines, "\n")
                for (i = 1; i <= n; i++) if (split(lines[i], w, " ") == 2) gone[norm(w[1]) " " w[2]] = 1
            }
            function flush(   i, k, out, u, nu, uris, ns, suites, kept) {
                if (count == 0) return
                nu = split(urisline, uris, " ")
                ns = split(suitesline, suites, " ")
                kept = ""
                for (k = 1; k <= ns; k++) {
                    out = 0
                    for (u = 1; u <= nu; u++) if ((norm(uris[u]) " " suites[k]) in gone) out = 1
                    if (!out) kept = kept " " suites[k]
                }
                if (suitesline != "" && kept == "") { count = 0; return }
                for (i = 1; i <= count; i++) {
                    if (buf[i] ~ /^Suites:/ && suitesline != "") print "Suites:" kept
                    else print buf[i]
                }
                print ""
                count = 0; urisline = ""; suitesline = ""
            }
            FILENAME ~ /\.sources$/ {
                if ($0 ~ /^[ \t]*$/) { flush(); next }
                buf[++count] = $0
                if ($1 == "URIs:") { urisline = $0; sub(/^URIs:/, "", urisline) }
                if ($1 == "Suites:") { suitesline = $0; sub(/^Suites:/, "", suitesline) }
                next
            }
            /^deb(-src)?[ \t]/ {
                line = $0
                sub(/\[[^]]*\][ \t]*/, "", line)
                split(line, w, /[ \t]+/)
                if ((norm(w[2]) " " w[3]) in gone) next
            }
            { print }
            END { if (FILENAME ~ /\.sources$/) flush() }
        ' "$f" >"$apt_own_sources/sources.list.d/$(basename "$f")"
    done
    : >"$apt_own_sources/sources.list"
    apt_options=(-o "Dir::Etc::sourcelist=$apt_own_sources/sources.list"
        -o "Dir::Etc::sourceparts=$apt_own_sources/sources.list.d")
}

install_packages() {
    export DEBIAN_FRONTEND=noninteractive
    if ! apt_update; then
        local gone
        gone=$(failed_suites)
        if [ -z "$gone" ]; then
            echo "bootstrap: FAILED: the package index update failed $update_attempts times" \
                "($(grep -m1 '^E:' "$apt_log" || tail -n1 "$apt_log")); run scripts/bootstrap.sh again later" >&2
            exit 1
        fi
        echo "bootstrap: installing without the suites whose index did not arrive:" \
            "$(echo "$gone" | tr '\n' ';' | sed 's/;$//')"
        write_own_sources "$gone"
        if ! apt_update; then
            echo "bootstrap: FAILED: the package index update failed even without those suites" \
                "($(grep -m1 '^E:' "$apt_log" || tail -n1 "$apt_log")); run scripts/bootstrap.sh again later" >&2
            exit 1
        fi
    fi
    if ! as_root apt-get "${apt_options[@]}" install -y -qq --no-install-recommends "$@" \
        >"$apt_log" 2>&1; then
        cat "$apt_log" >&2
        echo "bootstrap: FAILED: apt-get could not install $*" \
            "($(grep -m1 '^E:' "$apt_log" || tail -n1 "$apt_log")); if the package mirror" \
            "was mid-sync, run scripts/bootstrap.sh again in a few minutes" >&2
        exit 1
    fi
}

if [ ${#missing[@]} -gt 0 ]; then
    echo "bootstrap: installing ${missing[*]}"
    install_packages "${missing[@]}"
elif [ $need_update -eq 1 ] && ! apt_update; then
    echo "bootstrap: the package index update failed; nothing was missing, so going on" >&2
fi

# GetACP() under Wine follows the locale: ja_JP.UTF-8 makes it 932 (Shift-JIS).
if ! locale -a 2>/dev/null | grep -qix 'ja_JP.utf8'; then
    echo "bootstrap: generating the ja_JP.UTF-8 locale"
    as_root sed -i 's/^# *\(ja_JP.UTF-8 UTF-8\)/\1/' /etc/locale.gen
    grep -q '^ja_JP.UTF-8 UTF-8' /etc/locale.gen || echo 'ja_JP.UTF-8 UTF-8' | as_root tee -a /etc/locale.gen >/dev/null
    as_root locale-gen >/dev/null
fi

if [ $with_prefix -eq 1 ]; then
    "$root/scripts/prepare-prefix.sh" "$build_dir"
fi
