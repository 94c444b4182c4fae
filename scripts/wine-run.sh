#!/usr/bin/env bash
# Runs a Windows program in the project's Wine prefix; the exit code is the program's.
# CMake uses this as the emulator for the Windows test programs.
set -uo pipefail
source "$(dirname "$0")/wine-env.sh"
[ -f "$WINEPREFIX/.bv-ready" ] || "$BV_ROOT/scripts/wineprefix.sh" >&2
exec wine "$@"
