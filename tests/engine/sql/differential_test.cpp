// The same SELECT run by our engine on a fixture and by sqlite3 on the fixture's tables as
// mdbtools exports them; the rows of both (sorted, unless the statement orders them) must
// agree. Action statements are compared by count: our dry-run plan against sqlite3's
// count of the rows the statement selects. The statements keep to what both dialects
// mean alike (and the Jet and sqlite spellings differ only where the dialects do).
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <unistd.h>
#include <vector>

#include "engine/sql/exec.h"
#include "engine/sql/parser.h"
#include "engine/sql/storage_catalog.h"
#include "engine/storage/csv_export.h"
#include "tests/engine/storage/storage_test_util.h"

namespace bv::sql {
namespace {

namespace fs = std::filesystem;
using Cells = std::vector<std::string>;

std::string run(const std::string& cmd) {
  int rc = -1;
  std::string out = test::runCommand(cmd, &rc);
  EXPECT_EQ(rc, 0) << cmd;
  return out;
}

using test::shellQuote;

// RFC 4180 style: quoted fields with doubled quotes, records ending in \n or \r\n.
std::vector<Cells> parseCsv(const std::string& s, bool skipHeader) {
  std::vector<Cells> rows;
  Cells row;
  std::string cell;
  bool quoted = false, any = false;
  for (size_t i = 0; i < s.size(); ++i) {
    char c = s[i];
    if (quoted) {
      if (c == '"' && i + 1 < s.size() && s[i + 1] == '"') { cell += '"'; ++i; }
      else if (c == '"') quoted = false;
      else cell += c;
    } else if (c == '"') {
      quoted = true;
      any = true;
    } else if (c == ',') {
      row.push_back(cell);
      cell.clear();
    } else if (c == '\n' || c == '\r') {
      if (c == '\r' && i + 1 < s.size() && s[i + 1] == '\n') ++i;
      row.push_back(cell);
      rows.push_back(row);
      row.clear();
      cell.clear();
      any = false;
    } else {
      cell += c;
      any = true;
    }
  }
  if (any || !row.empty()) {
    row.push_back(cell);
    rows.push_back(row);
  }
  if (skipHeader && !rows.empty()) rows.erase(rows.begin());
  return rows;
}

bool asNumber(const std::string& s, double& d) {
  if (s.empty()) return false;
  char* end = nullptr;
  d = std::strtod(s.c_str(), &end);
  return end == s.c_str() + s.size();
}

std::string sortKey(const Cells& r) {
  std::string k;
  for (const auto& c : r) {
    double d;
    if (asNumber(c, d)) {
      char b[64];
      std::snprintf(b, sizeof b, "%.6g", d);
      k += b;
    } else {
      k += c;
    }
    k += '\x1f';
  }
  return k;
}

bool sameCell(const std::string& a, const std::string& b) {
  double x, y;
  if (asNumber(a, x) && asNumber(b, y)) return std::fabs(x - y) <= 1e-9 * std::max({1.0, std::fabs(x), std::fabs(y)});
  return a == b;
}

struct Reference {
  fs::path dir;
  fs::path sqlite;
  std::string fixture;
};

// Builds a sqlite database from the named tables of a fixture, through mdbtools.
Reference makeReference(const std::string& fixture, const std::vector<std::string>& tables,
                        const std::string& name) {
  Reference r;
  r.fixture = std::string(BV_FIXTURES_DIR) + "/" + fixture;
  r.dir = fs::temp_directory_path() / ("bv_sql_diff_" + name + "_" + std::to_string(::getpid()));
  fs::create_directories(r.dir);
  r.sqlite = r.dir / "ref.db";
  fs::remove(r.sqlite);
  for (const auto& t : tables) {
    std::string cmd = "mdb-schema -T " + shellQuote(t) + " " + shellQuote(r.fixture) + " sqlite | sqlite3 " +
                      shellQuote(r.sqlite.string()) + " && (echo 'PRAGMA journal_mode=OFF; PRAGMA synchronous=OFF; BEGIN;';"
                      " mdb-export -I sqlite -D '%Y-%m-%d %H:%M:%S' -T '%Y-%m-%d %H:%M:%S' " +
                      shellQuote(r.fixture) + " " + shellQuote(t) + "; echo 'COMMIT;') | sqlite3 " +
                      shellQuote(r.sqlite.string()) + " >/dev/null";
    run(cmd);
  }
  return r;
}

std::vector<Cells> sqliteRows(const Reference& r, const std::string& sql) {
  return parseCsv(run("sqlite3 -csv " + shellQuote(r.sqlite.string()) + " " + shellQuote(sql)), false);
}

std::vector<Cells> ourRows(const Reference& r, const std::string& sql) {
  auto db = storage::Database::open(r.fixture);
  StorageCatalog catalog(*db);
  ResultSet rs = executeSelect(parseStatement(storage::fromUtf8(sql)), catalog);
  std::string csv;
  for (const auto& row : rs.rows) {
    for (size_t i = 0; i < row.size(); ++i) {
      if (i) csv += ',';
      storage::appendCsvValue(row[i], csv);
    }
    csv += '\n';
  }
  return parseCsv(csv, false);
}

int64_t ourCount(const Reference& r, const std::string& sql) {
  auto db = storage::Database::open(r.fixture);
  StorageCatalog catalog(*db);
  return planAction(parseStatement(storage::fromUtf8(sql)), catalog).recordsAffected;
}

struct Case {
  const char* jet;
  const char* sqlite;  // null: the same text
  bool ordered = false;
};

void compare(const Reference& ref, const Case& c) {
  SCOPED_TRACE(c.jet);
  auto ours = ourRows(ref, c.jet);
  auto theirs = sqliteRows(ref, c.sqlite ? c.sqlite : c.jet);
  if (!c.ordered) {
    auto bySortKey = [](const Cells& a, const Cells& b) { return sortKey(a) < sortKey(b); };
    std::sort(ours.begin(), ours.end(), bySortKey);
    std::sort(theirs.begin(), theirs.end(), bySortKey);
  }
  ASSERT_EQ(ours.size(), theirs.size());
  EXPECT_FALSE(ours.empty()) << "a comparison over no rows shows little";
  for (size_t i = 0; i < ours.size(); ++i) {
    ASSERT_EQ(ours[i].size(), theirs[i].size()) << "row " << i;
    for (size_t k = 0; k < ours[i].size(); ++k)
      ASSERT_TRUE(sameCell(ours[i][k], theirs[i][k]))
          << "row " << i << " field " << k << ": ours '" << ours[i][k] << "', sqlite '" << theirs[i][k] << "'";
  }
}

class BigFile : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    ref = new Reference(makeReference("generated/big_jet4.mdb", {"Customers", "Orders"}, "big"));
  }
  static void TearDownTestSuite() {
    fs::remove_all(ref->dir);
    delete ref;
  }
  static Reference* ref;
};
Reference* BigFile::ref = nullptr;

TEST_F(BigFile, FilteringAndProjection) {
  const Case cases[] = {
      {"SELECT ID, Name, City FROM Customers WHERE ID BETWEEN 100 AND 200 OR City IN ('Oslo', 'Wien')", nullptr},
      {"SELECT ID FROM Customers WHERE City IS NULL", nullptr},
      {"SELECT ID, Name FROM Customers WHERE City IS NOT NULL AND NOT (ID > 20)", nullptr},
      {"SELECT ID, Qty, Price FROM Orders WHERE Qty > 990 AND Price < 500 OR ID < 10", nullptr},
      {"SELECT ID, Qty * 2 + 1, Qty Mod 7, Qty \\ 7, -Qty FROM Orders WHERE ID <= 300",
       "SELECT ID, Qty * 2 + 1, Qty % 7, Qty / 7, -Qty FROM Orders WHERE ID <= 300"},
      {"SELECT ID, Shipped FROM Orders WHERE Shipped >= #2024-12-01# AND Shipped < #12/5/2024#",
       "SELECT ID, Shipped FROM Orders WHERE Shipped >= '2024-12-01' AND Shipped < '2024-12-05'"},
      {"SELECT ID, Name FROM Customers WHERE Name Like 'Jo*' OR Name Like '?ei *'",
       "SELECT ID, Name FROM Customers WHERE Name LIKE 'Jo%' OR Name LIKE '_ei %'"},
      {"SELECT DISTINCT City FROM Customers", nullptr},
      {"SELECT DISTINCT Paid, Qty \\ 100 FROM Orders", "SELECT DISTINCT Paid, Qty / 100 FROM Orders"},
      {"SELECT TOP 7 ID, Qty FROM Orders ORDER BY Qty DESC, ID",
       "SELECT ID, Qty FROM Orders ORDER BY Qty DESC, ID LIMIT 7", true},
      {"SELECT ID, Price FROM Orders WHERE ID < 500 ORDER BY Price, ID", nullptr, true},
  };
  for (const auto& c : cases) compare(*ref, c);
}

TEST_F(BigFile, GroupingAndAggregates) {
  const Case cases[] = {
      {"SELECT Customer, Count(*), Sum(Qty), Min(Price), Max(Price), Count(Shipped) FROM Orders GROUP BY Customer",
       nullptr},
      {"SELECT Paid, Count(*), Sum(Qty), Avg(Qty), Max(Shipped) FROM Orders WHERE Qty > 500 GROUP BY Paid", nullptr},
      {"SELECT City, Count(*) FROM Customers GROUP BY City HAVING Count(*) > 40", nullptr},
      {"SELECT Count(*), Count(Customer), Count(Shipped), Sum(Price), Min(Shipped) FROM Orders", nullptr},
      {"SELECT Qty \\ 100, Count(*) FROM Orders WHERE Paid = True GROUP BY Qty \\ 100 ORDER BY Qty \\ 100",
       "SELECT Qty / 100, Count(*) FROM Orders WHERE Paid = 1 GROUP BY Qty / 100 ORDER BY Qty / 100", true},
  };
  for (const auto& c : cases) compare(*ref, c);
}

TEST_F(BigFile, JoinsAndSubqueries) {
  const Case cases[] = {
      {"SELECT c.Name, o.Qty FROM Customers c INNER JOIN Orders o ON o.Customer = c.Name WHERE o.Qty < 20", nullptr},
      {"SELECT c.ID, o.ID FROM Customers c LEFT JOIN Orders o ON o.Customer = c.Name WHERE c.ID < 50", nullptr},
      {"SELECT d.ID, c.ID FROM Customers c RIGHT JOIN Customers d ON c.ID = d.ID + 1990", nullptr},
      {"SELECT o.ID, c.City, c2.Name FROM (Orders o INNER JOIN Customers c ON o.Customer = c.Name) "
       "INNER JOIN Customers c2 ON c2.ID = c.ID + 1 WHERE o.ID <= 2000",
       "SELECT o.ID, c.City, c2.Name FROM Orders o INNER JOIN Customers c ON o.Customer = c.Name "
       "INNER JOIN Customers c2 ON c2.ID = c.ID + 1 WHERE o.ID <= 2000"},
      {"SELECT c.City, Count(o.ID), Sum(o.Qty) FROM Customers c INNER JOIN Orders o ON o.Customer = c.Name "
       "GROUP BY c.City",
       nullptr},
      {"SELECT c.ID, o.ID FROM Customers c, Orders o WHERE o.Customer = c.Name AND o.Qty > 995", nullptr},
      {"SELECT ID FROM Customers WHERE Name IN (SELECT Customer FROM Orders WHERE Qty > 995)", nullptr},
      {"SELECT ID FROM Customers WHERE Name NOT IN (SELECT Customer FROM Orders WHERE Qty > 900 AND "
       "Customer IS NOT NULL)",
       nullptr},
      // A Null among the values makes every Not In unknown: no row qualifies.
      {"SELECT Count(*) FROM Customers WHERE Name NOT IN (SELECT Customer FROM Orders WHERE Qty > 900)",
       nullptr},
      {"SELECT c.ID FROM Customers c WHERE EXISTS (SELECT * FROM Customers d WHERE d.City = c.City AND d.ID > c.ID + 1900)",
       nullptr},
      {"SELECT ID, (SELECT Count(*) FROM Customers d WHERE d.City = c.City) FROM Customers c WHERE ID < 30", nullptr},
  };
  for (const auto& c : cases) compare(*ref, c);
}

TEST_F(BigFile, DryRunCountsMatchAnIndependentCount) {
  struct CountCase {
    const char* action;
    const char* count;
  } cases[] = {
      {"UPDATE Orders SET Qty = Qty + 1 WHERE Paid = True AND Qty < 100",
       "SELECT count(*) FROM Orders WHERE Paid = 1 AND Qty < 100"},
      {"DELETE FROM Orders WHERE Customer IS NULL OR Price > 9900",
       "SELECT count(*) FROM Orders WHERE Customer IS NULL OR Price > 9900"},
      {"DELETE * FROM Customers WHERE ID Mod 3 = 0", "SELECT count(*) FROM Customers WHERE ID % 3 = 0"},
      {"DELETE Orders.* FROM Orders INNER JOIN Customers ON Orders.Customer = Customers.Name "
       "WHERE Customers.City = 'Oslo'",
       "SELECT count(DISTINCT o.ID) FROM Orders o JOIN Customers c ON o.Customer = c.Name WHERE c.City = 'Oslo'"},
      {"UPDATE Customers INNER JOIN Orders ON Orders.Customer = Customers.Name SET Customers.City = 'X' "
       "WHERE Orders.Qty > 990",
       "SELECT count(DISTINCT c.ID) FROM Customers c JOIN Orders o ON o.Customer = c.Name WHERE o.Qty > 990"},
      {"UPDATE Orders SET Note = Null", "SELECT count(*) FROM Orders"},
      {"INSERT INTO Customers (ID, Name) SELECT ID + 5000, Customer & ' copy' FROM Orders WHERE Qty = 7",
       "SELECT count(*) FROM Orders WHERE Qty = 7"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.action);
    auto expected = sqliteRows(*ref, c.count);
    ASSERT_EQ(expected.size(), 1u);
    EXPECT_EQ(std::to_string(ourCount(*ref, c.action)), expected[0][0]);
  }
}

TEST(SmallFiles, Jet4AndJet3Joins) {
  for (const char* file : {"jet4/indexTestV2000.mdb", "jet3/indexTestV1997.mdb"}) {
    SCOPED_TRACE(file);
    Reference ref = makeReference(file, {"Table1", "Table2", "Table3"}, "small");
    const Case cases[] = {
        {"SELECT * FROM Table1", nullptr},
        {"SELECT t1.id, t2.data FROM Table1 t1 INNER JOIN Table2 t2 ON t1.otherfk1 = t2.id", nullptr},
        {"SELECT t1.id, t3.data FROM Table1 t1 LEFT JOIN Table3 t3 ON t1.otherfk2 = t3.id", nullptr},
        {"SELECT t2.id, Count(t1.id) FROM Table2 t2 LEFT JOIN Table1 t1 ON t1.otherfk1 = t2.id GROUP BY t2.id",
         nullptr},
        {"SELECT data FROM Table1 WHERE otherfk1 IN (SELECT id FROM Table2) ORDER BY data", nullptr, true},
    };
    for (const auto& c : cases) compare(ref, c);
    fs::remove_all(ref.dir);
  }
}

}  // namespace
}  // namespace bv::sql
