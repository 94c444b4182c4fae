#!/usr/bin/env bash
# Builds the storage fuzz target with clang (libFuzzer + AddressSanitizer + UBSan) and runs
# it for a bounded time. Usage: run_fuzz.sh SOURCE_DIR WORK_DIR FIXTURES_DIR SECONDS
# Exit status: 0 when the run found nothing; 1 on a crash, leak, hang or build failure (the
# input that caused it is left in WORK_DIR/artifacts/).
set -euo pipefail
src=$1 work=$2 fixtures=$3 seconds=${4:-45}

cxx=""
for c in clang++-14 clang++; do
  if command -v "$c" >/dev/null 2>&1; then cxx=$c; break; fi
done
if [ -z "$cxx" ]; then
  echo "run_fuzz.sh: clang++ is not installed (make deps installs clang-14)" >&2
  exit 1
fi

flags=(-std=c++20 -O1 -g -fno-omit-frame-pointer -fsanitize=fuzzer-no-link,address,undefined
       -fno-sanitize-recover=undefined -I"$src")
objdir=$work/obj
mkdir -p "$objdir" "$work/artifacts"

# Compile each source whose object is missing or older than the source or any header.
newest_header=$(ls -t "$src"/engine/storage/*.h | head -1)
sources=("$src"/engine/storage/*.cpp "$src"/tests/fuzz/storage_fuzz.cpp)
stale=()
for s in "${sources[@]}"; do
  o=$objdir/$(basename "${s%.cpp}").o
  if [ ! -f "$o" ] || [ "$s" -nt "$o" ] || [ "$newest_header" -nt "$o" ]; then stale+=("$s"); fi
done
compile() { "$cxx" "${flags[@]}" -c "$1" -o "$objdir/$(basename "${1%.cpp}").o"; }
failed=0
if [ ${#stale[@]} -gt 0 ]; then
  echo "compiling ${#stale[@]} sources with $cxx"
  running=()
  for s in "${stale[@]}"; do
    compile "$s" &
    running+=($!)
    if [ ${#running[@]} -ge 2 ]; then
      wait "${running[0]}" || failed=1
      running=("${running[@]:1}")
    fi
  done
  for p in "${running[@]}"; do wait "$p" || failed=1; done
fi
if [ $failed -ne 0 ]; then
  echo "run_fuzz.sh: the fuzz target does not compile" >&2
  exit 1
fi
objs=()
for s in "${sources[@]}"; do objs+=("$objdir/$(basename "${s%.cpp}").o"); done
"$cxx" -fsanitize=fuzzer,address,undefined "${objs[@]}" -o "$work/storage_fuzz"

# Seeds: the smaller fixture files, copied so that the fixtures are never touched.
seeds=$work/seeds corpus=$work/corpus
rm -rf "$seeds" "$corpus"
mkdir -p "$seeds" "$corpus"
find "$fixtures/jet3" "$fixtures/jet4" -name '*.mdb' -size -150k -exec cp {} "$seeds/" \;
chmod u+w "$seeds"/*
echo "seeds: $(ls "$seeds" | wc -l) files; running for ${seconds}s"

cd "$work"
ASAN_OPTIONS=detect_leaks=1:allocator_may_return_null=1 \
  "$work/storage_fuzz" -seed=1 -max_total_time="$seconds" -timeout=20 -rss_limit_mb=2048 \
  -max_len=262144 -print_final_stats=1 -artifact_prefix="$work/artifacts/" "$corpus" "$seeds"
