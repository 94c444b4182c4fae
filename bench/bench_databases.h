// The databases every benchmark runs on: made by bench/data in the build's bench folder
// the first time they are needed, then reused.
#pragma once

#include <cstdio>

#include "bench/data/bench_data.h"

namespace bv::bench {

// `made`, when given, is set when this call had to make a file.
inline BenchDatabases benchDatabases(bool* made = nullptr) {
  if (made) *made = false;
  return ensureBenchDatabases(BV_BENCH_DATA_DIR, {}, [made](const std::string& path, double seconds) {
    std::printf("(made %s in %.1f s)\n", path.c_str(), seconds);
    if (made) *made = true;
  });
}

}  // namespace bv::bench
