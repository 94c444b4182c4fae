// Changing a column's type on a table with rows (every row removed and written again under
// the new column, long values and an index included) killed at every step of its commit:
// the next open finds the file exactly as before or exactly as after.
#include <gtest/gtest.h>

#include "engine/storage/column_edit.h"
#include "engine/storage/create_database.h"
#include "engine/storage/create_table.h"
#include "engine/storage/table_writer.h"
#include "tests/engine/storage/storage_test_util.h"
#include "tests/engine/storage/write/crash_harness.h"

namespace bv::storage {
namespace {

class CrashColumnTest : public ::testing::TestWithParam<JetVersion> {};

// A table of 40 rows: a keyed Long, a Text column to be changed, and a Memo.
void makeTable(const std::string& path, JetVersion version) {
  createDatabase(path, version, CreateOptions{});
  auto db = Database::open(path, OpenMode::ReadWrite);
  WriteUnit unit(*db);
  TableDesign d;
  d.name = u"T";
  d.columns = {{.name = u"ID", .type = ColType::Long}, {.name = u"Code", .type = ColType::Text, .size = 10},
               {.name = u"Note", .type = ColType::Memo}};
  d.indexes = {{.name = u"PrimaryKey", .columns = {{u"ID", true}}, .primaryKey = true, .unique = true, .required = true}};
  createTable(unit, d);
  TableWriter w(unit, u"T");
  for (int32_t i = 0; i < 40; ++i) {
    const std::u16string code = u"c" + std::u16string(1, static_cast<char16_t>(u'A' + i % 26));
    w.insert(std::vector<Value>{Value(i), Value(std::u16string(code)), Value(std::u16string(300 + i, u'n'))});
  }
  unit.commit();
}

TEST_P(CrashColumnTest, AlterColumnDeathAtEveryStepLeavesBeforeOrAfter) {
  test::TempCopy dir("");
  const std::string src = dir.dir() + "/src.mdb";
  makeTable(src, GetParam());
  ColumnDesign wider{.name = u"Code", .type = ColType::Text, .size = 40};
  crash::Harness h(src, [&](WriteUnit& unit) { replaceColumn(unit, u"T", u"Code", wider, [](const Value& v) { return v; }); },
                   WriteOptions{});
  if (HasFailure()) return;
  {
    test::TempCopy after("");
    after.write(h.after());
    auto db = Database::open(after.path());
    auto t = db->table(u"T");
    EXPECT_EQ(t->rowCount, 40u);
    EXPECT_EQ(t->columns[static_cast<size_t>(t->findColumn(u"Code"))].length, GetParam() == JetVersion::Jet4 ? 80 : 40);
  }
  for (IoFault fault : {IoFault::Crash, IoFault::TornWrite}) EXPECT_GT(h.killAtEveryStep(fault), 4u);
}

INSTANTIATE_TEST_SUITE_P(Versions, CrashColumnTest, ::testing::Values(JetVersion::Jet4, JetVersion::Jet3),
                         [](const auto& info) { return info.param == JetVersion::Jet4 ? "Jet4" : "Jet3"; });

}  // namespace
}  // namespace bv::storage
