#include "bench/data/bench_data.h"

#include <unistd.h>

#include <chrono>
#include <filesystem>

namespace bv::bench {

namespace {

namespace fs = std::filesystem;

// Makes `path` with `write` unless it exists: written under a name of this process's own,
// then renamed, so a reader never sees half a file and two makers never share one.
template <class Write>
std::string ensure(const fs::path& path, const MadeReport& report, Write&& write) {
  if (fs::exists(path)) return path.string();
  fs::path part = path;
  part += ".part" + std::to_string(getpid());
  fs::remove(part);
  const auto t0 = std::chrono::steady_clock::now();
  try {
    write(part.string());
  } catch (...) {
    fs::remove(part);
    throw;
  }
  fs::rename(part, path);
  if (report) report(path.string(), std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count());
  return path.string();
}

}  // namespace

BenchDatabases ensureBenchDatabases(const std::string& dir, const BenchSizes& sizes, const MadeReport& report) {
  fs::create_directories(dir);
  BenchDatabases out;
  out.big = ensure(fs::path(dir) / "big.mdb", report, [&](const std::string& p) { writeBigDatabase(p, sizes.big); });
  out.wide = ensure(fs::path(dir) / "wide.mdb", report, [&](const std::string& p) { writeWideDatabase(p, sizes.wideRows); });
  return out;
}

}  // namespace bv::bench
