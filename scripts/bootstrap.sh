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
if [ ${#missing[@]} -gt 0 ]; then
    echo "bootstrap: installing ${missing[*]}"
    export DEBIAN_FRONTEND=noninteractive
    as_root apt-get update -qq
    as_root apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
elif [ $need_update -eq 1 ]; then
    as_root apt-get update -qq
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
