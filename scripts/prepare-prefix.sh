#!/usr/bin/env bash
# Creates the project's private Wine prefix (never the user's ~/.wine) and configures it:
#  - the uploader reports Windows 98: Wine's DdeImpersonateClient is a stub that always
#    fails, so on an NT version the DDE callback would never reach an item handler;
#  - the dialogs' font "ＭＳ Ｐゴシック" is replaced by IPA P Gothic so Japanese renders;
#  - windows are not handed to a window manager: there is none on Xvfb, and Wine would
#    wait up to 2 s for one whenever a window (a closed message box, say) is hidden;
#  - the Marlett symbol font, from which Wine draws the caption buttons, lies in the
#    prefix's own font folder (see below).
#
#   scripts/prepare-prefix.sh [build-dir]
set -euo pipefail

root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build_dir=$(realpath -m "${1:-$root/build}")
# shellcheck source=wine-env.sh
source "$root/scripts/wine-env.sh" "$build_dir"

setup_version=4
marker="$WINEPREFIX/.vistora-setup"
if [ -f "$marker" ] && [ "$(cat "$marker")" = "$setup_version $WINEARCH" ]; then
    exit 0
fi
# A prefix keeps the architecture it was made with (an older tree's may be 32-bit where a
# 64-bit one is wanted now): one of the other kind is made anew.
if [ -f "$WINEPREFIX/system.reg" ] && ! grep -qx "#arch=$WINEARCH" "$WINEPREFIX/system.reg"; then
    echo "bootstrap: the Wine prefix $WINEPREFIX is not $WINEARCH; making it anew"
    rm -rf "$WINEPREFIX"
fi

echo "bootstrap: preparing the Wine prefix $WINEPREFIX"
mkdir -p "$build_dir"
wineboot -i >/dev/null 2>&1 || true
wine reg add 'HKCU\Software\Wine\AppDefaults\VistoraUploader.exe' /v Version /d win98 /f >/dev/null
wine reg add 'HKCU\Software\Wine\Fonts\Replacements' /v 'ＭＳ Ｐゴシック' /d 'IPAPGothic' /f >/dev/null
wine reg add 'HKCU\Software\Wine\Fonts\Replacements' /v 'ＭＳ ゴシック' /d 'IPAGothic' /f >/dev/null
wine reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /d N /f >/dev/null
# Debian's Wine 8 never finds the fonts that fonts-wine puts in /usr/share/wine/fonts: its
# win32u names that folder "\??\Z:\usr\share\wine\../fonts\", a path that names
# nothing, and fontconfig does not look there either. Without Marlett, GDI draws the
# caption buttons' symbol codes in IPA Gothic: "0 1 r". Wine always searches the
# prefix's C:\windows\Fonts, as Windows does.
marlett=/usr/share/wine/fonts/marlett.ttf
if [ ! -f "$marlett" ]; then
    echo "prepare-prefix: $marlett is missing (Debian package fonts-wine)" >&2
    exit 1
fi
install -m 644 "$marlett" "$WINEPREFIX/drive_c/windows/Fonts/marlett.ttf"
wineserver -w
echo "$setup_version $WINEARCH" >"$marker"
