// Benchmark: action statements through the SQL layer, as `brimvale run` executes them (one
// whole process: open, plan, check the rules, write one durable unit), each on a fresh copy
// of big.mdb; beside it sqlite3 running the same statement on a fresh copy of the same rows
// with the same indexes and its default rollback journal. Best of three for both (one run
// for the long ones); prints
// the seconds, the ratio and the rows each side reports changed. Printed, never asserted.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <string>

#include "bench/bench_databases.h"
#include "bench/shell_quote.h"
#include "bench/sqlite_mirror.h"

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

using bv::bench::shellQuote;

// Runs a shell command; its standard output goes to `out`. False when it fails.
bool capture(const std::string& cmd, std::string& out) {
  FILE* p = popen(cmd.c_str(), "r");
  if (!p) return false;
  out.clear();
  char buf[4096];
  for (size_t n; (n = std::fread(buf, 1, sizeof buf, p)) > 0;) out.append(buf, n);
  return pclose(p) == 0;
}

// Copies `base` to `copy` (not timed), then times `cmd`; three times, or once when that
// takes over 3 s (the long statements vary less than the machine's load). The fastest run,
// or -1 when one failed. `out` gets the output of the last run.
double timeOnCopies(const std::string& base, const std::string& copy, const std::string& cmd, std::string& out) {
  double best = -1;
  for (int i = 0; i < 3 && (best < 0 || best < 3.0); ++i) {
    fs::copy_file(base, copy, fs::copy_options::overwrite_existing);
    fs::permissions(copy, fs::perms::owner_read | fs::perms::owner_write, fs::perm_options::add);
    const auto t0 = Clock::now();
    if (!capture(cmd, out)) return -1;
    const double s = std::chrono::duration<double>(Clock::now() - t0).count();
    best = best < 0 ? s : std::min(best, s);
  }
  return best;
}

// The first number in a line of output ("12 records updated." / "12").
long long leadingNumber(const std::string& s) {
  const size_t at = s.find_first_of("0123456789");
  return at == std::string::npos ? -1 : std::stoll(s.substr(at));
}

struct Case {
  const char* what;
  const char* jet;
  const char* sqlite;
};

// Text comparisons on the sqlite3 side name NOCASE so that they use its case-blind index,
// as Jet's text comparisons and indexes are case-blind.
const Case kCases[] = {
    {"UPDATE one row by key", "UPDATE Orders SET Qty = Qty + 1 WHERE ID = 123457",
     "UPDATE Orders SET Qty = Qty + 1 WHERE ID = 123457"},
    {"UPDATE WHERE indexed text =", "UPDATE Orders SET Qty = Qty + 1 WHERE Customer = 'Ümit Smith'",
     "UPDATE Orders SET Qty = Qty + 1 WHERE Customer = 'Ümit Smith' COLLATE NOCASE"},
    {"UPDATE every row (old values)", "UPDATE Orders SET Qty = Qty * 2 + 1, Price = Price * 1.1",
     "UPDATE Orders SET Qty = Qty * 2 + 1, Price = Price * 1.1"},
    {"UPDATE indexed text, every row", "UPDATE Orders SET Customer = Left(Customer + 'x', 50)",
     "UPDATE Orders SET Customer = substr(Customer || 'x', 1, 50)"},
    {"DELETE a key range (half)", "DELETE FROM Orders WHERE ID BETWEEN 50001 AND 150000",
     "DELETE FROM Orders WHERE ID BETWEEN 50001 AND 150000"},
    {"INSERT INTO ... SELECT 100,000",
     "INSERT INTO Orders (Customer, Qty, Price, Shipped, Paid, Note) "
     "SELECT Customer, Qty, Price, Shipped, Paid, Note FROM Orders WHERE ID <= 100000",
     "INSERT INTO Orders (Customer, Qty, Price, Shipped, Paid, Note) "
     "SELECT Customer, Qty, Price, Shipped, Paid, Note FROM Orders WHERE ID <= 100000"},
    {"DELETE WHERE IN (subquery)",
     "DELETE FROM Orders WHERE Customer IN (SELECT Name FROM Customers WHERE City = 'Zürich')",
     "DELETE FROM Orders WHERE Customer COLLATE NOCASE IN (SELECT Name FROM Customers WHERE City = 'Zürich')"},
};

}  // namespace

int main() {
  const std::string mdb = bv::bench::benchDatabases().big;
  const fs::path bin = fs::read_symlink("/proc/self/exe").parent_path();
  const std::string tool = (bin / "brimvale").string();
  if (!fs::exists(tool)) {
    std::printf("skipped: %s not built\n", tool.c_str());
    return 0;
  }
  char tmpl[] = "/tmp/bv_bench_statements_XXXXXX";
  if (!mkdtemp(tmpl)) return 1;
  const std::string dir = tmpl;
  // The sqlite3 copy: the same rows (our CSV export) and the same indexes. Not timed.
  const std::string lite = dir + "/big.sqlite";
  std::string ignored;
  bool haveLite = capture("command -v sqlite3 >/dev/null", ignored);
  if (haveLite) {
    haveLite = bv::bench::makeSqliteMirror(shellQuote(tool) + " export", mdb, dir);
    if (!haveLite) std::printf("(sqlite3 copy could not be made: our figures only)\n");
  } else {
    std::printf("(sqlite3 not installed: our figures only)\n");
  }

  std::printf("action statements on Orders of big.mdb (200,000 rows), fresh copy per run, whole process,\n"
              "durable commit, best of 3 (of 1 over 3 s):\n");
  std::printf("  %-32s %9s %9s %8s  %s\n", "statement", "brimvale", "sqlite3", "ratio", "rows changed (ours / sqlite3)");
  for (const Case& c : kCases) {
    std::string ourOut, theirOut;
    const double ours = timeOnCopies(mdb, dir + "/run.mdb", shellQuote(tool) + " run " + shellQuote(dir + "/run.mdb") + " " +
                                                                 shellQuote(c.jet) + " 2>&1", ourOut);
    if (ours < 0) {
      std::printf("  %-32s brimvale failed: %s", c.what, ourOut.c_str());
      continue;
    }
    const double theirs =
        haveLite ? timeOnCopies(lite, dir + "/run.sqlite",
                                "sqlite3 " + shellQuote(dir + "/run.sqlite") + " " + shellQuote(std::string(c.sqlite) + "; SELECT changes();"),
                                theirOut)
                 : -1;
    if (theirs < 0) {
      std::printf("  %-32s %8.3fs %9s %8s  %lld\n", c.what, ours, "-", "-", leadingNumber(ourOut));
      continue;
    }
    std::printf("  %-32s %8.3fs %8.3fs %7.2fx  %lld / %lld\n", c.what, ours, theirs, ours / theirs,
                leadingNumber(ourOut), leadingNumber(theirOut));
  }
  std::printf("  (ratio = our time / sqlite3's: below 1 is faster than sqlite3)\n");
  fs::remove_all(dir);
  return 0;
}
