// Benchmark: changing the 200,000-row Orders table of big.mdb (primary key, text index,
// memos) — insert 100,000 rows, update every row, delete half the rows, update the indexed
// text column — by our storage engine (one durable unit per step, crash safety on) and by
// sqlite3 doing the same work on the same rows with the same indexes and its default
// rollback journal. Each step starts from a fresh copy for both. Printed, never asserted.
// Arguments (for profiling one step): words that pick the steps whose names contain one of
// them, --ours-only to leave sqlite3 out, and --keep DIR to keep the file each step wrote (as
// DIR/step<n>.mdb) for comparing the bytes two builds write.
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <span>
#include <string>
#include <vector>

#include "bench/bench_databases.h"
#include "engine/storage/csv_export.h"
#include "engine/storage/database.h"
#include "engine/storage/table_writer.h"
#include "engine/storage/write_unit.h"

namespace {

using Clock = std::chrono::steady_clock;
using namespace bv::storage;
namespace fs = std::filesystem;

double since(Clock::time_point t0) { return std::chrono::duration<double>(Clock::now() - t0).count(); }

int sh(const std::string& cmd) {
  const int rc = std::system(cmd.c_str());
  return WIFEXITED(rc) ? WEXITSTATUS(rc) : -1;
}

// The sqlite3 copy of Orders, made once from our CSV export (not timed).
bool makeSqlite(const std::string& mdb, const std::string& dir, std::string& out) {
  out = dir + "/orders.sqlite";
  const std::string csv = dir + "/orders.csv";
  {
    auto db = Database::open(mdb);
    auto def = db->table(u"Orders");
    std::ofstream f(csv, std::ios::binary);
    exportCsv(*db, *def, [&](const char* p, size_t n) { return static_cast<bool>(f.write(p, static_cast<std::streamsize>(n))); });
  }
  const std::string sql = dir + "/make.sql";
  std::ofstream(sql) << "CREATE TABLE Orders (ID INTEGER PRIMARY KEY, Customer TEXT, Qty INTEGER, Price NUMERIC,"
                        " Shipped TEXT, Paid INTEGER, Note TEXT);\n"
                        "CREATE INDEX CustomerIdx ON Orders(Customer);\n"
                        ".import --csv --skip 1 " + csv + " Orders\n";
  return sh("sqlite3 " + out + " < " + sql + " >/dev/null 2>&1") == 0;
}

// Runs one statement with the sqlite3 program on a fresh copy; whole-process wall time.
double timeSqlite(const std::string& base, const std::string& dir, const std::string& statement) {
  const std::string db = dir + "/run.sqlite";
  fs::copy_file(base, db, fs::copy_options::overwrite_existing);
  const auto t0 = Clock::now();
  if (sh("sqlite3 " + db + " \"" + statement + "\" >/dev/null") != 0) return -1;
  return since(t0);
}

// Runs one step with our engine on a fresh copy: open, one durable unit, commit.
double timeOurs(const std::string& base, const std::string& dir,
                const std::function<void(Database&, TableWriter&)>& work, const std::string& keepAs) {
  const std::string path = dir + "/run.mdb";
  fs::copy_file(base, path, fs::copy_options::overwrite_existing);
  fs::permissions(path, fs::perms::owner_read | fs::perms::owner_write, fs::perm_options::add);
  const auto t0 = Clock::now();
  auto db = Database::open(path, OpenMode::ReadWrite);
  WriteUnit unit(*db);
  TableWriter w(unit, u"Orders");
  work(*db, w);
  unit.commit();
  db.reset();
  const double took = since(t0);
  if (!keepAs.empty()) fs::copy_file(path, keepAs, fs::copy_options::overwrite_existing);
  return took;
}

// Row ids of the live rows (with their values when asked), in scan order.
std::vector<RowId> rowIds(Database& db) {
  std::vector<RowId> ids;
  TableCursor cur = db.scan(db.table(u"Orders"));
  while (cur.next()) ids.push_back(cur.rowId());
  return ids;
}

}  // namespace

int main(int argc, char** argv) {
  bool oursOnly = false;
  std::string keep;
  std::vector<std::string> picks;
  for (int i = 1; i < argc; ++i) {
    if (std::string(argv[i]) == "--ours-only")
      oursOnly = true;
    else if (std::string(argv[i]) == "--keep" && i + 1 < argc)
      keep = argv[++i];
    else
      picks.emplace_back(argv[i]);
  }
  const std::string mdb = bv::bench::benchDatabases().big;
  char tmpl[] = "/tmp/bv_bench_write_XXXXXX";
  const std::string dir = mkdtemp(tmpl);
  std::string lite;
  const bool haveLite = !oursOnly && makeSqlite(mdb, dir, lite);
  if (!haveLite && !oursOnly) std::printf("(sqlite3 not available: our figures only)\n");

  struct Step {
    const char* name;
    std::function<void(Database&, TableWriter&)> ours;
    const char* sqlite;
  };
  const int cust = 1, qty = 2;
  const Step steps[] = {
      {"insert 100,000 rows",
       [](Database& db, TableWriter& w) {
         TableCursor cur = db.scan(db.table(u"Orders"));
         std::vector<bv::Value> row;
         for (int n = 0; n < 100000 && cur.next(); ++n) {
           cur.readRow(row);
           row[0] = bv::Value();  // a new AutoNumber
           w.insert(row);
         }
       },
       "INSERT INTO Orders (Customer, Qty, Price, Shipped, Paid, Note) SELECT Customer, Qty, Price, Shipped, Paid, "
       "Note FROM Orders ORDER BY ID LIMIT 100000;"},
      {"update every row",
       [&](Database& db, TableWriter& w) {
         // Only Qty is read; the row is changed where it lies (a whole rewrite where it cannot be).
         std::vector<std::pair<RowId, bv::Value>> changes;
         TableCursor cur = db.scan(db.table(u"Orders"));
         while (cur.next())
           if (auto q = cur.value(qty).get<int32_t>()) changes.emplace_back(cur.rowId(), bv::Value(*q + 1));
         const std::vector<int> cols{qty};
         for (auto& [id, v] : changes)
           if (!w.updateFixed(id, cols, std::span<const bv::Value>(&v, 1))) {
             std::vector<bv::Value> row = w.read(id);
             row[qty] = v;
             w.update(id, row);
           }
       },
       "UPDATE Orders SET Qty = Qty + 1;"},
      {"delete half the rows",
       [](Database& db, TableWriter& w) {
         std::vector<RowId> even;
         TableCursor cur = db.scan(db.table(u"Orders"));
         while (cur.next())
           if (auto i = cur.value(0).get<int32_t>(); i && *i % 2 == 0) even.push_back(cur.rowId());
         for (RowId id : even) w.remove(id);
       },
       "DELETE FROM Orders WHERE ID % 2 = 0;"},
      {"update the indexed text column",
       [&](Database& db, TableWriter& w) {
         for (RowId id : rowIds(db)) {
           std::vector<bv::Value> row = w.read(id);
           if (auto s = row[cust].get<std::u16string>()) row[cust] = bv::Value((*s + u"x").substr(0, 50));
           w.update(id, row);
         }
       },
       "UPDATE Orders SET Customer = substr(Customer || 'x', 1, 50);"},
  };
  std::printf("Orders of big.mdb (200,000 rows), fresh copy per step, durable commit:\n");
  int number = 0;
  for (const Step& s : steps) {
    ++number;
    if (!picks.empty() && std::none_of(picks.begin(), picks.end(), [&](const std::string& w) {
          return std::string(s.name).find(w) != std::string::npos;
        }))
      continue;
    double ours = -1;
    try {
      ours = timeOurs(mdb, dir, s.ours, keep.empty() ? "" : keep + "/step" + std::to_string(number) + ".mdb");
    } catch (const std::exception& e) {
      std::printf("  %-32s ours failed: %s\n", s.name, e.what());
      continue;
    }
    const double theirs = haveLite ? timeSqlite(lite, dir, s.sqlite) : -1;
    if (theirs > 0)
      std::printf("  %-32s ours %7.3f s   sqlite3 %7.3f s   ours/sqlite3 %.2fx\n", s.name, ours, theirs, ours / theirs);
    else
      std::printf("  %-32s ours %7.3f s\n", s.name, ours);
  }
  fs::remove_all(dir);
  return 0;
}
