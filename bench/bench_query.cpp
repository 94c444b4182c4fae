// Benchmark: SELECT statements on the 200,000-row Orders table (and its 2,000 customers)
// by our command-line tool and by sqlite3 on the same rows with the same indexes (primary
// keys, the text indexes made case-insensitive as Jet's are), each a whole process from
// opening the file to printing the answer, best of several runs. Prints both times, the
// ratio and the rows each returned. Goal: no slower than sqlite3 on any of them.
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "bench/bench_databases.h"
#include "bench/shell_quote.h"
#include "bench/sqlite_mirror.h"

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

using bv::bench::shellQuote;

double childCpu() {
  rusage ru{};
  getrusage(RUSAGE_CHILDREN, &ru);
  return double(ru.ru_utime.tv_sec + ru.ru_stime.tv_sec) +
         double(ru.ru_utime.tv_usec + ru.ru_stime.tv_usec) / 1e6;
}

// Runs a command `runs` times and returns the wall time of the fastest run; `cpu` gets the
// least processor time (user + system) of a run, which a busy machine disturbs less. The
// output's line count goes to `lines`.
double timeCommand(const std::string& cmd, int runs, size_t& lines, double& cpu) {
  double best = 1e30;
  cpu = 1e30;
  for (int i = 0; i < runs; ++i) {
    double c0 = childCpu();
    auto t0 = Clock::now();
    FILE* p = popen(cmd.c_str(), "r");
    if (!p) return -1;
    size_t n = 0;
    char buf[65536];
    size_t got;
    while ((got = fread(buf, 1, sizeof buf, p)) > 0)
      for (size_t k = 0; k < got; ++k) n += buf[k] == '\n';
    int rc = pclose(p);
    double s = std::chrono::duration<double>(Clock::now() - t0).count();
    if (rc != 0) return -1;
    cpu = std::min(cpu, childCpu() - c0);
    lines = n;
    if (s < best) best = s;
  }
  return best;
}

bool run(const std::string& cmd) { return std::system(cmd.c_str()) == 0; }

struct Case {
  const char* what;
  const char* jet;
  const char* sqlite;
};

}  // namespace

int main() {
  const std::string mdb = bv::bench::benchDatabases().big;
  const std::string tool = (fs::read_symlink("/proc/self/exe").parent_path() / "brimvale").string();
  if (!fs::exists(tool)) {
    std::printf("skipped: %s not built\n", tool.c_str());
    return 0;
  }
  if (!run("command -v sqlite3 >/dev/null && command -v mdb-export >/dev/null")) {
    std::printf("skipped: sqlite3 or mdb-export missing\n");
    return 0;
  }
  char dirTemplate[] = "/tmp/bv_bench_query_XXXXXX";
  if (!mkdtemp(dirTemplate)) return 1;
  const std::string dir = dirTemplate;
  const std::string db = dir + "/big.sqlite";
  if (!bv::bench::makeSqliteMirror("mdb-export -D '%Y-%m-%d %H:%M:%S'", mdb, dir)) {
    std::printf("setup of the sqlite3 copy failed\n");
    return 1;
  }

  const Case cases[] = {
      {"one row by key", "SELECT * FROM Orders WHERE ID = 123457",
       "SELECT * FROM Orders WHERE ID = 123457"},
      {"open + one row (small table)", "SELECT Name FROM Customers WHERE ID = 5",
       "SELECT Name FROM Customers WHERE ID = 5"},
      {"prefix LIKE count", "SELECT COUNT(*) FROM Orders WHERE Customer LIKE 'A*'",
       "SELECT COUNT(*) FROM Orders WHERE Customer LIKE 'A%'"},
      {"text equality", "SELECT ID FROM Orders WHERE Customer = 'Ümit Smith'",
       "SELECT ID FROM Orders WHERE Customer = 'Ümit Smith' COLLATE NOCASE"},
      {"IN list on the key", "SELECT ID, Qty FROM Orders WHERE ID IN (7, 700, 7000, 70000, 170000)",
       "SELECT ID, Qty FROM Orders WHERE ID IN (7, 700, 7000, 70000, 170000)"},
      {"TOP 10 by Price DESC (unindexed)", "SELECT TOP 10 ID, Price FROM Orders ORDER BY Price DESC",
       "SELECT ID, Price FROM Orders ORDER BY Price DESC LIMIT 10"},
      {"TOP 5 by Shipped (unindexed)", "SELECT TOP 5 ID FROM Orders ORDER BY Shipped DESC, ID",
       "SELECT ID FROM Orders ORDER BY Shipped DESC, ID LIMIT 5"},
      {"TOP 10 by key", "SELECT TOP 10 ID, Qty FROM Orders ORDER BY ID",
       "SELECT ID, Qty FROM Orders ORDER BY ID LIMIT 10"},
      {"join + GROUP BY", "SELECT c.City, COUNT(*), SUM(o.Qty) FROM Orders AS o INNER JOIN Customers AS c "
                          "ON o.Customer = c.Name GROUP BY c.City",
       "SELECT c.City, COUNT(*), SUM(o.Qty) FROM Orders AS o INNER JOIN Customers AS c "
       "ON o.Customer = c.Name COLLATE NOCASE GROUP BY c.City ORDER BY c.City"},
      {"TOP 5 of a cross join", "SELECT TOP 5 a.ID, b.ID FROM Orders AS a, Orders AS b",
       "SELECT a.ID, b.ID FROM Orders AS a, Orders AS b LIMIT 5"},
  };
  std::printf("%-34s %10s %10s %8s %10s %10s %8s  %s\n", "query (whole process, best of 5)",
              "brimvale", "sqlite3", "ratio", "cpu ours", "cpu sqlite", "ratio", "rows (ours / sqlite3)");
  for (const Case& c : cases) {
    size_t ourLines = 0, theirLines = 0;
    double ourCpu = 0, theirCpu = 0;
    double ours = timeCommand(shellQuote(tool) + " query " + shellQuote(mdb) + " " + shellQuote(c.jet), 5, ourLines, ourCpu);
    double theirs = timeCommand("sqlite3 -csv " + shellQuote(db) + " " + shellQuote(c.sqlite), 5, theirLines, theirCpu);
    if (ours < 0 || theirs < 0) {
      std::printf("%-34s failed (%s)\n", c.what, ours < 0 ? "brimvale" : "sqlite3");
      continue;
    }
    // Our output has a header line; sqlite3 -csv has none.
    std::printf("%-34s %9.4fs %9.4fs %7.2fx %9.4fs %9.4fs %7.2fx  %zu / %zu\n", c.what, ours, theirs,
                ours / theirs, ourCpu, theirCpu, ourCpu / std::max(theirCpu, 1e-4),
                ourLines ? ourLines - 1 : 0, theirLines);
  }
  std::printf("(ratio = our time / sqlite3's: below 1 is faster than sqlite3; cpu = user + system\n"
              " time of the process, 1 ms resolution)\n");
  fs::remove_all(dir);
  return 0;
}
