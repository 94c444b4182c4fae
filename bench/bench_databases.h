// The databases every benchmark runs on: made by bench/data in the build's bench folder
// the first time they are needed, then reused.
#pragma once

#include <cstdio>

#include "bench/data/bench_data.h"

namespace bv::bench {

inline BenchDatabases benchDatabases() {
  return ensureBenchDatabases(BV_BENCH_DATA_DIR, {}, [](const std::string& path, double seconds) {
    std::printf("(made %s in %.1f s)\n", path.c_str(), seconds);
  });
}

}  // namespace bv::bench
