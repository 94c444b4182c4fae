// make_bench_data DIR [--big-orders=N] [--wide-rows=N]: writes big.mdb and wide.mdb into DIR,
// replacing older copies (see bench_data.h), and prints how long each took.
#include <cstdio>
#include <exception>
#include <filesystem>
#include <string>

#include "bench/data/bench_data.h"

int main(int argc, char** argv) {
  namespace fs = std::filesystem;
  bv::bench::BenchSizes sizes;
  std::string dir;
  bool bad = false;
  for (int i = 1; i < argc; ++i) {
    const std::string a = argv[i];
    if (a.rfind("--big-orders=", 0) == 0) sizes.big.orders = static_cast<uint32_t>(std::stoul(a.substr(13)));
    else if (a.rfind("--wide-rows=", 0) == 0) sizes.wideRows = static_cast<uint32_t>(std::stoul(a.substr(12)));
    else if (dir.empty() && !a.empty() && a[0] != '-') dir = a;
    else bad = true;
  }
  if (dir.empty() || bad) {
    std::fprintf(stderr, "usage: make_bench_data DIR [--big-orders=N] [--wide-rows=N]\n");
    return 2;
  }
  try {
    for (const char* name : {"big.mdb", "wide.mdb"}) fs::remove(fs::path(dir) / name);
    bv::bench::ensureBenchDatabases(dir, sizes, [](const std::string& path, double seconds) {
      std::printf("%s: %.2f s, %ju bytes\n", path.c_str(), seconds, static_cast<uintmax_t>(fs::file_size(path)));
    });
  } catch (const std::exception& e) {
    std::fprintf(stderr, "make_bench_data: %s\n", e.what());
    return 1;
  }
  return 0;
}
