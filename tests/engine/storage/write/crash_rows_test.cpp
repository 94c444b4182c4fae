// Units of row changes killed at every step of their commit: updates that rewrite long
// values, a delete, and inserts enough to split index pages, on indexed tables of Jet 3 and
// Jet 4 files. The next open finds the file exactly as before or exactly as after.
#include <gtest/gtest.h>

#include <filesystem>
#include <set>

#include "engine/storage/table_writer.h"
#include "tests/engine/storage/storage_test_util.h"
#include "tests/engine/storage/write/crash_harness.h"
#include "tests/engine/storage/write/random_values.h"

namespace bv::storage {
namespace {

// Values for indexed columns that no other row has: numbers from `n`, ASCII text that
// starts with `n` (so inserts land all over the index) and is long enough to fill pages.
void makeKeysUnique(const TableDef& def, bool jet4, std::vector<Value>& row, int n) {
  std::set<int> indexed;
  for (const auto& ri : def.realIndexes)
    for (const auto& ic : ri.columns) indexed.insert(def.columnByNumber(ic.columnNumber));
  for (int pos : indexed) {
    if (pos < 0) continue;
    const ColumnDef& c = def.columns[pos];
    if (c.autoNumber) continue;
    switch (c.type) {
      case ColType::Long: row[pos] = Value(static_cast<int32_t>(700000 + n * 7919 % 100003)); break;
      case ColType::Integer: row[pos] = Value(static_cast<int16_t>(1000 + n)); break;
      case ColType::Text: {
        const size_t chars = std::min<size_t>(jet4 ? c.length / 2 : c.length, 120);
        std::u16string s = fromUtf8(std::to_string(n * 7919 % 100003) + " key ");
        while (s.size() < chars) s.push_back(static_cast<char16_t>(u'a' + (s.size() * 7 + n) % 26));
        s.resize(std::min(s.size(), chars));
        row[pos] = Value(s);
        break;
      }
      default: break;
    }
  }
}

// Updates every row, deletes one, inserts `inserts`; a change the writer refuses (a value
// it cannot key) is skipped, as a statement would skip it.
void rowChange(WriteUnit& unit, const std::u16string& table, int inserts) {
  std::vector<RowId> ids;
  {
    TableCursor cur = unit.db().scan(unit.db().table(table));
    while (cur.next()) ids.push_back(cur.rowId());
  }
  TableWriter w(unit, table);
  test::RandomValues rv(20261209, unit.db());
  rv.longTextChance = 0.5;
  int n = 0;
  for (RowId id : ids) {
    std::vector<Value> row = rv.row(w.table(), false);
    makeKeysUnique(w.table(), unit.jet4(), row, ++n);
    try {
      w.update(id, row);
    } catch (const JetError&) {
    }
  }
  if (!ids.empty()) w.remove(ids.back());
  for (int i = 0; i < inserts; ++i) {
    std::vector<Value> row = rv.row(w.table(), false);
    makeKeysUnique(w.table(), unit.jet4(), row, ++n);
    try {
      w.insert(row);
    } catch (const JetError&) {
    }
  }
}

struct Case {
  const char* fixture;
  const char16_t* table;
  int inserts;
};

class CrashRowsTest : public ::testing::TestWithParam<Case> {};

TEST_P(CrashRowsTest, DeathAtEveryStepLeavesBeforeOrAfter) {
  const std::string src = test::fixturesDir() + "/" + GetParam().fixture;
  if (!std::filesystem::exists(src)) GTEST_SKIP() << "fixture absent: " << src;
  const std::u16string table = GetParam().table;
  const int inserts = GetParam().inserts;
  crash::Harness h(src, [&](WriteUnit& unit) { rowChange(unit, table, inserts); }, WriteOptions{});
  if (HasFailure()) return;
  {
    // The after state is what the unit meant: more rows, and index pages split.
    test::TempCopy after("");
    after.write(h.after());
    auto db = Database::open(after.path());
    auto before = Database::open(src);
    EXPECT_GT(db->table(table)->rowCount, before->table(table)->rowCount + inserts / 2);
    EXPECT_GT(checkDatabase(*db).indexPages, checkDatabase(*before).indexPages) << "no index page split";
  }
  for (IoFault fault : {IoFault::Crash, IoFault::TornWrite}) EXPECT_GT(h.killAtEveryStep(fault), 4u);
}

INSTANTIATE_TEST_SUITE_P(Tables, CrashRowsTest,
                         ::testing::Values(Case{"jet4/test2V2000.mdb", u"MSP_PROJECTS", 40},
                                           Case{"jet3/test2V1997.mdb", u"MSP_PROJECTS", 40},
                                           Case{"jet4/testV2000.mdb", u"Table1", 80},
                                           Case{"jet3/testV1997.mdb", u"Table1", 80}),
                         [](const auto& info) {
                           std::string n = info.param.fixture;
                           n = n.substr(n.find('/') + 1);
                           return n.substr(0, n.find('.')) + "_" + toUtf8(info.param.table);
                         });

}  // namespace
}  // namespace bv::storage
