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

# Starts a private Xvfb and exports its DISPLAY; its pid goes into VISTORA_XVFB_PID for the
# caller to stop. -noreset: by default Xvfb resets whenever its last client has gone, and
# refuses the connections that come meanwhile. A Wine explorer refused so records the
# display driver as failed for its desktop, and every window of that prefix fails to be
# created until the explorer ends (seen in CI: every window of one test file). Six
# clients connecting at once here lost 11 of 600 connections, none with -noreset.
vistora_start_display() {
    local display_file
    display_file=$(mktemp)
    Xvfb -displayfd 3 -screen 0 1280x1024x24 -nolisten tcp -noreset 3>"$display_file" \
        >/dev/null 2>&1 &
    VISTORA_XVFB_PID=$!
    for _ in $(seq 100); do
        [ -s "$display_file" ] && break
        sleep 0.05
    done
    if [ ! -s "$display_file" ]; then
        rm -f "$display_file"
        echo "wine-env: Xvfb did not start" >&2
        return 1
    fi
    DISPLAY=":$(head -n1 "$display_file")"
    export DISPLAY
    rm -f "$display_file"
}

# Stops the Xvfb vistora_start_display started, if any.
vistora_stop_display() {
    if [ -n "${VISTORA_XVFB_PID:-}" ]; then
        kill "$VISTORA_XVFB_PID" 2>/dev/null || true
        wait "$VISTORA_XVFB_PID" 2>/dev/null || true
        VISTORA_XVFB_PID=
    fi
}
