// Benchmark: index maintenance on the 200,000-row Orders table (primary key on ID, text
// index on Customer). Ours: one write unit takes the entries of the rows with even IDs out
// of both indexes and puts them back, then commits durably. Beside it, in the same run, sqlite3
// deletes the same 100,000 rows and inserts them again in one transaction on a table with
// the same two indexes (so it also rewrites the rows themselves: more work than ours).
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "bench/bench_databases.h"
#include "engine/storage/database.h"
#include "engine/storage/index_writer.h"
#include "engine/storage/write_unit.h"

namespace {

using namespace bv::storage;
using Clock = std::chrono::steady_clock;
namespace fs = std::filesystem;

double cpuSeconds(int who) {
  rusage ru{};
  getrusage(who, &ru);
  return static_cast<double>(ru.ru_utime.tv_sec + ru.ru_stime.tv_sec) +
         static_cast<double>(ru.ru_utime.tv_usec + ru.ru_stime.tv_usec) / 1e6;
}

struct Timing {
  double wall = 0, cpu = 0;
};

std::string sqlQuote(const std::u16string& s) {
  std::string out = "'";
  for (char c : toUtf8(s)) {
    if (c == '\'') out += "''";
    else out.push_back(c);
  }
  return out + "'";
}

int runSqlite(const std::string& db, const std::string& script) {
  std::fflush(stdout);  // the child must not repeat our buffered output
  const pid_t pid = fork();
  if (pid < 0) return -1;
  if (pid == 0) {
    if (!std::freopen(script.c_str(), "r", stdin) || !std::freopen("/dev/null", "w", stdout)) _exit(126);
    execlp("sqlite3", "sqlite3", db.c_str(), static_cast<char*>(nullptr));
    _exit(127);
  }
  int status = 0;
  waitpid(pid, &status, 0);
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

}  // namespace

int main() {
  const std::string source = bv::bench::benchDatabases().big;
  char tmpl[] = "/tmp/bv_bench_index_XXXXXX";
  const std::string dir = mkdtemp(tmpl);
  const std::string copy = dir + "/big.mdb";
  fs::copy_file(source, copy);
  fs::permissions(copy, fs::perms::owner_read | fs::perms::owner_write, fs::perm_options::add);

  auto db = Database::open(copy, OpenMode::ReadWrite);
  auto t = db->table(u"Orders");
  std::vector<std::vector<bv::Value>> rows;
  std::vector<RowId> ids;
  {
    TableCursor c = db->scan(t);
    std::vector<bv::Value> r;
    while (c.next()) {
      c.readRow(r);
      rows.push_back(r);
      ids.push_back(c.rowId());
    }
  }
  const int cId = t->findColumn(u"ID"), cCustomer = t->findColumn(u"Customer");
  if (cId < 0 || cCustomer < 0) {
    std::printf("bench_index_write: Orders lacks ID or Customer\n");
    return 1;
  }
  size_t moved = 0;
  Timing ours;
  try {
    const double c0 = cpuSeconds(RUSAGE_SELF);
    const auto t0 = Clock::now();
    WriteUnit unit(*db);
    TableIndexes ix(unit, *t);
    // The rows with even IDs, as the sqlite3 side takes them.
    std::vector<size_t> even;
    for (size_t i = 0; i < rows.size(); ++i)
      if (rows[i][cId].as<int32_t>() % 2 == 0) even.push_back(i);
    moved = even.size();
    for (size_t i : even) ix.removeRow(rows[i], ids[i]);
    for (size_t i : even) {
      ix.check(rows[i], nullptr);
      ix.insertRow(rows[i], ids[i]);
    }
    unit.commit();
    ours.wall = std::chrono::duration<double>(Clock::now() - t0).count();
    ours.cpu = cpuSeconds(RUSAGE_SELF) - c0;
  } catch (const bv::JetError& e) {
    std::printf("bench_index_write: error %d: %s\n", static_cast<int>(e.number()), e.what());
    return 1;
  }
  std::printf("index maintenance, Orders (%zu rows, 2 indexes): %zu rows out of and back into both\n",
              rows.size(), moved);
  std::printf("  brimvale: %.3f s wall, %.3f s CPU (%.1f us CPU per row moved)\n", ours.wall, ours.cpu,
              ours.cpu / static_cast<double>(moved) * 1e6);

  // The same rows and indexes in sqlite3 (loading is not timed).
  const std::string sdb = dir + "/orders.sqlite", load = dir + "/load.sql", work = dir + "/work.sql";
  {
    std::ofstream out(load);
    out << "CREATE TABLE orders(id INTEGER NOT NULL, customer TEXT);\nBEGIN;\n";
    for (const auto& r : rows)
      out << "INSERT INTO orders VALUES(" << r[cId].as<int32_t>() << ","
          << (r[cCustomer].isNull() ? std::string("NULL") : sqlQuote(r[cCustomer].as<std::u16string>())) << ");\n";
    out << "COMMIT;\nCREATE UNIQUE INDEX pk ON orders(id);\nCREATE INDEX cust ON orders(customer);\n"
           "CREATE TABLE saved AS SELECT * FROM orders WHERE id % 2 = 0;\n";
    std::ofstream w(work);
    w << "BEGIN;\nDELETE FROM orders WHERE id % 2 = 0;\nINSERT INTO orders SELECT * FROM saved;\nCOMMIT;\n";
  }
  if (runSqlite(sdb, load) != 0) {
    std::printf("  sqlite3: could not run it; no ratio\n");
    fs::remove_all(dir);
    return 0;
  }
  const double c0 = cpuSeconds(RUSAGE_CHILDREN);
  const auto t0 = Clock::now();
  const int rc = runSqlite(sdb, work);
  Timing theirs{std::chrono::duration<double>(Clock::now() - t0).count(), cpuSeconds(RUSAGE_CHILDREN) - c0};
  fs::remove_all(dir);
  if (rc != 0) {
    std::printf("  sqlite3: failed; no ratio\n");
    return 0;
  }
  std::printf("  sqlite3:  %.3f s wall, %.3f s CPU (delete and re-insert of the same rows, whole process)\n",
              theirs.wall, theirs.cpu);
  std::printf("  ratio: %.2fx by wall time, %.2fx by CPU time (above 1: brimvale faster)\n", theirs.wall / ours.wall,
              theirs.cpu / ours.cpu);
  return 0;
}
