#!/usr/bin/env bash
# Runs every benchmark program under build/native/bin whose name starts with bench_, on the
# databases make_bench_data writes into build/bench (made again when the generator is newer).
set -uo pipefail
cd "$(dirname "$0")/.."
gen=build/native/bin/make_bench_data
data=build/bench
if [ -x "$gen" ]; then
  if [ ! -f "$data/big.mdb" ] || [ ! -f "$data/wide.mdb" ] || [ "$gen" -nt "$data/big.mdb" ] || [ "$gen" -nt "$data/wide.mdb" ]; then
    echo "== make_bench_data"
    "$gen" "$data" || { echo "(making the benchmark databases failed)"; exit 1; }
  fi
fi
found=0
for b in build/native/bin/bench_*; do
  [ -x "$b" ] || continue
  found=1
  echo "== $(basename "$b")"
  "$b" || echo "(benchmark $(basename "$b") failed)"
done
[ $found = 1 ] || echo "no benchmarks built yet"
