#!/usr/bin/env bash
# run-ui-tests.sh PREFIX OUTDIR TEST.EXE [ARGS...]: runs the main window's UI tests in their
# own Wine prefix. The prefix's wineserver and services are started here with no pipe of the
# caller attached (so that ctest does not wait for them) and stopped again afterwards; the
# screenshots the tests leave in OUTDIR as BMP files are converted to PNG.
set -uo pipefail
here="$(cd "$(dirname "$0")" && pwd)"
root="$(cd "$here/../../.." && pwd)"
if [ -z "${DISPLAY:-}" ]; then
  exec "$root/scripts/with-display.sh" bash "$0" "$@"
fi
export BV_WINEPREFIX="$1"
outdir="$2"
shift 2
source "$root/scripts/wine-env.sh"
"$root/scripts/wineprefix.sh" </dev/null >/dev/null 2>&1
wineserver -p </dev/null >/dev/null 2>&1 || true
wine cmd /c exit </dev/null >/dev/null 2>&1 || true
# Wine draws the window frames itself (there is no window manager on the test display), so
# that screenshots show captions.
wine reg add "HKCU\\Software\\Wine\\X11 Driver" /v Decorated /d N /f </dev/null >/dev/null 2>&1 || true
wine "$@"
status=$?
wineserver -k </dev/null >/dev/null 2>&1 || true
for bmp in "$outdir"/*.bmp; do
  if [ -f "$bmp" ]; then convert "$bmp" "${bmp%.bmp}.png" 2>/dev/null || true; fi
done
exit $status
