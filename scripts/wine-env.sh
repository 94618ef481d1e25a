# Sourced by the other scripts: the environment of every Wine run of this project.
#   source scripts/wine-env.sh [build-dir]
_vistora_root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
VISTORA_BUILD_DIR=$(realpath -m "${1:-${VISTORA_BUILD_DIR:-$_vistora_root/build}}")
export VISTORA_BUILD_DIR
# The prefix is 64-bit, as every Windows sold today is: the 32-bit uploader runs there
# under WoW64, as on such a Windows. VISTORA_WINEARCH=win32 selects a 32-bit prefix, kept
# beside the 64-bit one, for a run as on 32-bit Windows.
export WINEARCH="${VISTORA_WINEARCH:-win64}"
case "$WINEARCH" in
win64) export WINEPREFIX="$VISTORA_BUILD_DIR/wineprefix" ;;
win32) export WINEPREFIX="$VISTORA_BUILD_DIR/wineprefix32" ;;
*)
    echo "wine-env: VISTORA_WINEARCH is win64 (the default) or win32, not $WINEARCH" >&2
    return 2
    ;;
esac
# No Mono or Gecko installer prompts. No winedbg: a program that crashes ends at once
# with its err:seh line, where the debugger's crash dialog would keep it waiting.
export WINEDLLOVERRIDES="mscoree,mshtml=;winedbg.exe=d"
export WINEDEBUG="${WINEDEBUG:--all}"
# Shift-JIS as the ANSI code page, as on the Japanese systems the uploader serves.
export LANG=ja_JP.UTF-8
export LC_ALL=ja_JP.UTF-8
# A preconfigured WinINet session would take these and leave loopback.
unset http_proxy https_proxy HTTP_PROXY HTTPS_PROXY no_proxy NO_PROXY

# Runs "$@" with one wineserver kept alive for it in the current prefix, and returns its
# exit status. Wine's own background processes start first, detached from our output:
# started later by a test, they would inherit its stdout pipe and keep the reader
# waiting for the end.
vistora_run_with_wineserver() {
    wineserver -p
    wine cmd /c exit </dev/null >/dev/null 2>&1 || true
    local status=0
    "$@" || status=$?
    return $status
}
