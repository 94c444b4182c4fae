#!/usr/bin/env bash
# Runs every benchmark program under build/native/bin whose name starts with bench_.
set -uo pipefail
cd "$(dirname "$0")/.."
found=0
for b in build/native/bin/bench_*; do
  [ -x "$b" ] || continue
  found=1
  echo "== $(basename "$b")"
  "$b" || echo "(benchmark $(basename "$b") failed)"
done
[ $found = 1 ] || echo "no benchmarks built yet"
