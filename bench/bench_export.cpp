// Benchmark: full CSV export of one table by our engine and by mdb-export, in the same run.
// Prints rows per second, our peak memory (getrusage) and the speed ratio. Goals: at least
// 10x faster than mdb-export, peak memory under 16 MB.
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <string>

#include "bench/bench_databases.h"
#include "engine/storage/csv_export.h"
#include "engine/storage/database.h"

namespace {

using Clock = std::chrono::steady_clock;

double cpuSeconds(int who) {
  rusage ru{};
  getrusage(who, &ru);
  return static_cast<double>(ru.ru_utime.tv_sec + ru.ru_stime.tv_sec) +
         static_cast<double>(ru.ru_utime.tv_usec + ru.ru_stime.tv_usec) / 1e6;
}

struct Timing {
  double wall = 1e30, cpu = 1e30;
};

// Our export to /dev/null, through stdio as the tool writes it.
Timing runOurs(const std::string& path, const std::string& table, uint64_t& rows, uint64_t& bytes) {
  Timing best;
  for (int i = 0; i < 3; ++i) {
    FILE* out = std::fopen("/dev/null", "wb");
    const double c0 = cpuSeconds(RUSAGE_SELF);
    const auto t0 = Clock::now();
    auto db = bv::storage::Database::open(path);
    auto def = db->table(bv::storage::fromUtf8(table));
    bytes = 0;
    bv::storage::exportCsv(*db, *def, [&](const char* p, size_t n) {
        bytes += n;
        return std::fwrite(p, 1, n, out) == n;
      }, &rows);
    std::fflush(out);
    const double wall = std::chrono::duration<double>(Clock::now() - t0).count();
    best.wall = std::min(best.wall, wall);
    best.cpu = std::min(best.cpu, cpuSeconds(RUSAGE_SELF) - c0);
    std::fclose(out);
  }
  return best;
}

// mdb-export with the same date and binary formats, output to /dev/null.
bool runMdbExport(const std::string& path, const std::string& table, Timing& best) {
  for (int i = 0; i < 3; ++i) {
    const double c0 = cpuSeconds(RUSAGE_CHILDREN);
    const auto t0 = Clock::now();
    std::fflush(stdout);  // the child must not repeat our buffered output
    const pid_t pid = fork();
    if (pid < 0) return false;
    if (pid == 0) {
      FILE* devnull = std::freopen("/dev/null", "w", stdout);
      (void)devnull;
      execlp("mdb-export", "mdb-export", "-T", "%Y-%m-%d %H:%M:%S", "-b", "hex", path.c_str(), table.c_str(),
             static_cast<char*>(nullptr));
      _exit(127);
    }
    int status = 0;
    waitpid(pid, &status, 0);
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) return false;
    best.wall = std::min(best.wall, std::chrono::duration<double>(Clock::now() - t0).count());
    best.cpu = std::min(best.cpu, cpuSeconds(RUSAGE_CHILDREN) - c0);
  }
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  std::string path, table = "Orders";
  bool made = false;  // the peak memory then includes making the database
  if (argc >= 3) {
    path = argv[1];
    table = argv[2];
  } else {
    path = bv::bench::benchDatabases(&made).big;
  }
  std::printf("export of %s from %s\n", table.c_str(), path.c_str());
  uint64_t rows = 0, bytes = 0;
  Timing ours;
  try {
    ours = runOurs(path, table, rows, bytes);
  } catch (const bv::JetError& e) {
    std::printf("bench_export: error %d: %s\n", static_cast<int>(e.number()), e.what());
    return 1;
  }
  rusage ru{};
  getrusage(RUSAGE_SELF, &ru);
  const double peakMb = static_cast<double>(ru.ru_maxrss) / 1024.0;  // ru_maxrss is in KB
  std::printf("  brimvale:   %.3f s wall (best of 3), %.3f s CPU, %llu rows, %.0f rows/s, %.1f MB/s of CSV\n",
              ours.wall, ours.cpu, static_cast<unsigned long long>(rows), static_cast<double>(rows) / ours.wall,
              static_cast<double>(bytes) / 1e6 / ours.wall);
  if (made)
    std::printf("  peak memory: not measured (this process also made the database; run it again)\n");
  else
    std::printf("  peak memory (whole benchmark process): %.1f MB  [goal < 16 MB: %s]\n", peakMb,
                peakMb < 16.0 ? "met" : "NOT met");
  Timing theirs;
  if (!runMdbExport(path, table, theirs)) {
    std::printf("  mdb-export: could not run it; no ratio\n");
    return 0;
  }
  const double ratioWall = theirs.wall / ours.wall, ratioCpu = theirs.cpu / ours.cpu;
  std::printf("  mdb-export: %.3f s wall (best of 3), %.3f s CPU\n", theirs.wall, theirs.cpu);
  std::printf("  ratio: %.1fx faster by wall time, %.1fx by CPU time  [goal >= 10x: %s]\n", ratioWall, ratioCpu,
              std::max(ratioWall, ratioCpu) >= 10.0 ? "met" : "NOT met");
  return 0;
}
