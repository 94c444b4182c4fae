#!/usr/bin/env bash
# Creates the private 32-bit Wine prefix once (build/wineprefix) and gives it Wine's own
# fonts, which Debian's 32-bit Wine does not find by itself.
set -euo pipefail
source "$(dirname "$0")/wine-env.sh"

if [ -f "$WINEPREFIX/.bv-ready" ]; then exit 0; fi
mkdir -p "$WINEPREFIX"
echo "wine prefix: creating $WINEPREFIX"
wineboot -i >/dev/null 2>&1 || true
wineserver -w || true
# Without a window manager (plain Xvfb) Wine waits about two seconds whenever a managed
# window is destroyed; unmanaged windows make the GUI tests much faster.
wine reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /d N /f >/dev/null 2>&1 || true
wineserver -w || true

fonts_src=$(dpkg -L fonts-wine 2>/dev/null | grep -E "/share/wine/fonts$" | head -n 1 || true)
[ -n "$fonts_src" ] || fonts_src=/usr/share/wine/fonts
if [ -d "$fonts_src" ]; then
  mkdir -p "$WINEPREFIX/drive_c/windows/Fonts"
  cp -f "$fonts_src"/*.ttf "$WINEPREFIX/drive_c/windows/Fonts/" 2>/dev/null || true
fi
touch "$WINEPREFIX/.bv-ready"
