#!/usr/bin/env bash
# Runs every test: the native engine tests, then the Windows tests under Wine.
set -uo pipefail
here="$(cd "$(dirname "$0")" && pwd)"
source "$here/wine-env.sh"
jobs=${BV_TEST_JOBS:-2}
status=0

echo "== native tests"
ctest --test-dir "$BV_ROOT/build/native" --output-on-failure -j "$jobs" || status=1

echo "== Windows tests under Wine"
if ! bv_wine_runs; then
  echo "SKIPPED: every Windows test: Wine cannot start 32-bit programs on this machine"
  echo "         (\`wine --version\` fails, or says that wine32 is missing; a kernel that runs"
  echo "         no 32-bit programs gives 'Exec format error'). The Windows programs were"
  echo "         built; run make test on a machine that runs 32-bit code."
  exit $status
fi
"$here/wineprefix.sh"
# Our engine serves the DAO 3.6 classes in the prefix (the build registers it too, when
# Wine was there at configure time).
"$here/register-engine.sh" </dev/null || status=1
# One wineserver and its background services for the whole run, started with no pipe of
# ctest's attached: services inherit the descriptors of the process that starts them, and
# ctest waits for every holder of a test's output pipe to close it.
wineserver -p </dev/null >/dev/null 2>&1 || true
wine cmd /c exit </dev/null >/dev/null 2>&1 || true
ctest --test-dir "$BV_ROOT/build/win" --output-on-failure -j "$jobs" || status=1
wineserver -k 2>/dev/null || true

exit $status
