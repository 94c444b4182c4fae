// Order as the file's own indexes have it: on every Access-made fixture (Jet 3 and Jet 4)
// and the generated ones, for every index, statements order rows as the index's stored
// entries are ordered. Checked two ways: the comparison statements use must put any two
// neighbouring entries with different stored keys in the stored order, and ORDER BY on the
// index's columns (in its directions) must return the rows in the stored order.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "engine/sql/exec.h"
#include "engine/sql/parser.h"
#include "engine/sql/row_keys.h"
#include "engine/sql/storage_catalog.h"
#include "engine/sql/value_ops.h"
#include "engine/storage/csv_export.h"
#include "engine/storage/index_walk.h"

namespace bv::sql {
namespace {

namespace fs = std::filesystem;

std::vector<std::string> fixtureFiles() {
  std::vector<std::string> out;
  for (const char* sub : {"jet3", "jet4", "generated"}) {
    std::error_code ec;
    for (const auto& e : fs::directory_iterator(std::string(BV_FIXTURES_DIR) + "/" + sub, ec))
      if (e.path().extension() == ".mdb") out.push_back(e.path().string());
  }
  std::sort(out.begin(), out.end());
  return out;
}

std::u16string bracket(const std::u16string& name) { return u"[" + name + u"]"; }

// Compares two rows on the index's columns in the index's directions, as ORDER BY does.
int compareOnIndex(const std::vector<Value>& a, const std::vector<Value>& b,
                   const std::vector<bool>& ascending) {
  for (size_t i = 0; i < a.size(); ++i) {
    int c = compareForSort(a[i], b[i]);
    if (c) return ascending[i] ? c : -c;
  }
  return 0;
}

std::string describe(const std::vector<Value>& row) {
  std::string out;
  for (const auto& v : row) {
    std::string cell;
    storage::appendCsvValue(v, cell);
    out += (out.empty() ? "" : ", ") + cell;
  }
  return out;
}

struct Walked {
  std::vector<std::vector<uint8_t>> keys;    // stored key of each entry, in order
  std::vector<std::vector<Value>> values;    // the row's values of the index's columns
};

Walked walkIndex(const storage::Database& db, const storage::TableDef& t,
                 const storage::IndexDef& ix, const std::vector<int>& cols) {
  Walked w;
  storage::IndexWalker walker(db, t, t.realIndexes[ix.realIndex]);
  storage::TableCursor cur = db.scan(t);
  storage::IndexEntry e;
  while (walker.next(e)) {
    EXPECT_TRUE(cur.seek(RowId{e.dataPage, e.dataRow})) << "entry names no row";
    std::vector<Value> row;
    for (int c : cols) row.push_back(cur.value(size_t(c)));
    w.keys.push_back(e.key);
    w.values.push_back(std::move(row));
  }
  return w;
}

TEST(IndexOrder, StatementsOrderRowsAsEveryIndexOfEveryFixtureStoresThem) {
  auto files = fixtureFiles();
  if (files.empty()) GTEST_SKIP() << "fixtures not found at " << BV_FIXTURES_DIR;
  size_t indexesChecked = 0, jet3Checked = 0;
  for (const auto& path : files) {
    auto db = storage::Database::open(path);
    StorageCatalog catalog(*db);
    TextOrderScope order(catalog.textOrder());
    for (const auto& tableName : db->userTableNames()) {
      auto t = db->table(tableName);
      for (const auto& ix : t->indexes) {
        if (ix.realIndex < 0 || ix.columns.empty()) continue;
        std::vector<int> cols;
        std::vector<bool> asc;
        std::u16string orderBy, list;
        bool skip = false;
        for (const auto& ic : ix.columns) {
          int c = t->columnByNumber(ic.columnNumber);
          ASSERT_GE(c, 0);
          // Descending Decimal keys keep the sign byte of the ascending form, so stored
          // entries put negative values before positive ones; ORDER BY ... DESC keeps the
          // numeric order there.
          if (t->columns[c].type == ColType::Decimal && !ic.ascending) skip = true;
          cols.push_back(c);
          asc.push_back(ic.ascending);
          const std::u16string name = bracket(t->columns[c].name);
          list += (list.empty() ? u"" : u", ") + name;
          orderBy += (orderBy.empty() ? u"" : u", ") + name + (ic.ascending ? u" ASC" : u" DESC");
        }
        if (skip) continue;
        SCOPED_TRACE(path + " " + storage::toUtf8(tableName) + " index " + storage::toUtf8(ix.name));
        Walked w = walkIndex(*db, *t, ix, cols);
        // Neighbouring entries with different stored keys compare in the stored order.
        for (size_t i = 1; i < w.keys.size(); ++i) {
          if (w.keys[i] == w.keys[i - 1]) continue;
          ASSERT_LT(compareOnIndex(w.values[i - 1], w.values[i], asc), 0)
              << "entries " << i - 1 << " and " << i << " out of the stored order: "
              << describe(w.values[i - 1]) << " / " << describe(w.values[i]);
        }

        // ORDER BY returns the rows in the stored order: each row's place among the
        // distinct stored keys never goes back.
        std::map<std::string, size_t> rankOf;
        size_t rank = 0;
        for (size_t i = 0; i < w.keys.size(); ++i) {
          if (i && w.keys[i] != w.keys[i - 1]) ++rank;
          std::string exact;
          for (const auto& v : w.values[i]) appendExact(v, exact);
          rankOf.emplace(exact, rank);
        }
        std::u16string sql = u"SELECT " + list + u" FROM " + bracket(t->name) + u" ORDER BY " + orderBy;
        ResultSet rs = executeSelect(parseStatement(sql), catalog);
        size_t last = 0, seen = 0;
        for (const auto& row : rs.rows) {
          bool allNull = std::all_of(row.begin(), row.end(), [](const Value& v) { return v.isNull(); });
          if (allNull && ix.ignoreNulls) continue;  // such rows are left out of the index
          std::string exact;
          for (const auto& v : row) appendExact(v, exact);
          auto it = rankOf.find(exact);
          ASSERT_NE(it, rankOf.end()) << "a row of the result has no entry in the index";
          ASSERT_GE(it->second, last) << "row " << seen << " of ORDER BY comes before its place";
          last = it->second;
          ++seen;
        }
        EXPECT_EQ(seen, w.keys.size());
        ++indexesChecked;
        if (!db->isJet4()) ++jet3Checked;
      }
    }
  }
  EXPECT_GT(indexesChecked, 50u);
  EXPECT_GT(jet3Checked, 10u);
}

}  // namespace
}  // namespace bv::sql
