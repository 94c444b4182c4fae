#!/usr/bin/env bash
# register-engine.sh [DLL]: registers daoengine.dll in the project's Wine prefix (made first
# if needed) with regsvr32. DLL defaults to build/win/bin/daoengine.dll.
set -euo pipefail
source "$(dirname "$0")/wine-env.sh"
dll="${1:-$BV_ROOT/build/win/bin/daoengine.dll}"
[ -f "$dll" ] || { echo "register-engine: $dll not built" >&2; exit 1; }
"$BV_ROOT/scripts/wineprefix.sh" </dev/null >/dev/null
dll="$(cd "$(dirname "$dll")" && pwd)/$(basename "$dll")"
windll="Z:${dll//\//\\}"
if ! wine regsvr32 /s "$windll" </dev/null; then
  echo "register-engine: regsvr32 failed for $dll" >&2
  exit 1
fi
echo "register-engine: $dll registered in $WINEPREFIX"
