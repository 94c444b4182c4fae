#!/usr/bin/env bash
# Runs a command with an X display: the caller's DISPLAY when set, else a private Xvfb
# that is stopped again afterwards whatever the command's outcome.
set -uo pipefail
here="$(cd "$(dirname "$0")" && pwd)"
if [ -n "${DISPLAY:-}" ] && [ -z "${BV_FORCE_XVFB:-}" ]; then exec "$@"; fi
state=$(mktemp /tmp/bv-xvfb.XXXXXX)
"$here/xvfb.sh" start "$state" || exit 1
read -r disp _ <"$state"
trap '"$here/xvfb.sh" stop "$state"' EXIT
DISPLAY="$disp" "$@"
