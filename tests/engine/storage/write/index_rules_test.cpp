// Rules an index enforces before anything is written: duplicates in unique indexes (3022),
// Null in primary keys and required indexes (3058), keys this engine cannot build with
// confidence (refused naming the index); and what ignore-nulls indexes leave out.
#include <gtest/gtest.h>

#include "engine/storage/create_database.h"
#include "engine/storage/create_table.h"
#include "engine/storage/error.h"
#include "engine/storage/index_writer.h"
#include "engine/storage/key_encode.h"
#include "engine/storage/table_writer.h"
#include "engine/storage/text_key.h"
#include "engine/storage/write_unit.h"
#include "tests/engine/storage/write/index_test_util.h"

namespace bv::storage {
namespace {

using indextest::walkIndex;
using indextest::WritableCopy;

struct FirstRows {
  std::vector<std::vector<Value>> rows;
  std::vector<RowId> ids;
};

FirstRows readRows(const Database& db, const TableDef& t) {
  FirstRows out;
  TableCursor c = db.scan(t);
  std::vector<Value> row;
  while (c.next()) {
    c.readRow(row);
    out.rows.push_back(row);
    out.ids.push_back(c.rowId());
  }
  return out;
}

// Runs `f`, expecting a JetError with `number` whose text contains `mention`.
template <class F> void expectJetError(int32_t number, const std::string& mention, F f) {
  try {
    f();
    ADD_FAILURE() << "no error; expected " << number;
  } catch (const JetError& e) {
    EXPECT_EQ(e.number(), number) << e.what();
    EXPECT_NE(std::string(e.what()).find(mention), std::string::npos) << e.what();
  }
}

TEST(IndexRules, UniqueIndexRefusesAnotherRowsKeyButNotTheRowsOwn) {
  WritableCopy w("jet4/testIndexPropertiesV2000.mdb");
  BV_NEED_FIXTURE(w);
  auto t = w.db->table(u"TableUnique1_temp");
  FirstRows r = readRows(*w.db, *t);
  ASSERT_GE(r.rows.size(), 2u);
  const int data = t->findColumn(u"data"), key = t->findColumn(u"row");
  // Find two rows with different, non-Null data.
  size_t a = 0, b = 1;
  while (b < r.rows.size() && (r.rows[b][data].isNull() || r.rows[b][data] == r.rows[a][data])) ++b;
  ASSERT_LT(b, r.rows.size());
  ASSERT_FALSE(r.rows[a][data].isNull());

  WriteUnit unit(*w.db);
  TableIndexes ix(unit, *t);
  // Row b changed to carry row a's data: a duplicate in DataIndex.
  std::vector<Value> changed = r.rows[b];
  changed[data] = r.rows[a][data];
  expectJetError(3022, "'DataIndex'", [&] { ix.check(changed, &r.ids[b]); });
  // A new row with row a's primary key.
  std::vector<Value> fresh = r.rows[b];
  fresh[data] = Value(u"a value no row has");
  fresh[key] = r.rows[a][key];
  expectJetError(3022, "'PrimaryKey'", [&] { ix.check(fresh, nullptr); });
  // The row keeping its own values is no duplicate of itself.
  EXPECT_NO_THROW(ix.check(r.rows[a], &r.ids[a]));
  // Inserting the duplicate without asking first is refused as well.
  expectJetError(3022, "", [&] { ix.insertRow(fresh, RowId{0x300000, 1}); });
  EXPECT_TRUE(unit.changedPages().empty()) << "check wrote pages";
}

TEST(IndexRules, NullsInUniqueIndexesMayRepeat) {
  WritableCopy w("jet4/testIndexPropertiesV2000.mdb");
  BV_NEED_FIXTURE(w);
  auto t = w.db->table(u"TableUnique2_temp");  // DataIndex (data1, data2), unique
  FirstRows r = readRows(*w.db, *t);
  ASSERT_FALSE(r.rows.empty());
  const int d1 = t->findColumn(u"data1"), d2 = t->findColumn(u"data2"), key = t->findColumn(u"row");
  WriteUnit unit(*w.db);
  TableIndexes ix(unit, *t);
  std::vector<Value> row = r.rows[0];
  row[d1] = Value(u"same text");
  row[d2] = Value();
  for (int i = 0; i < 3; ++i) {
    row[key] = Value(std::u16string(u"new key ") + char16_t(u'a' + i));
    ix.check(row, nullptr);
    ix.insertRow(row, RowId{0x300000, static_cast<uint8_t>(i)});
  }
  // With both parts present the key may appear once only.
  row[d2] = Value(int32_t{5});
  row[key] = Value(u"new key x");
  ix.insertRow(row, RowId{0x300001, 0});
  row[key] = Value(u"new key y");
  expectJetError(3022, "'DataIndex'", [&] { ix.check(row, nullptr); });
}

TEST(IndexRules, PrimaryKeyAndRequiredIndexesRefuseNull) {
  WritableCopy w("jet3/indexTestV1997.mdb");
  BV_NEED_FIXTURE(w);
  auto t = w.db->table(u"Table1");
  FirstRows r = readRows(*w.db, *t);
  ASSERT_FALSE(r.rows.empty());
  WriteUnit unit(*w.db);
  TableIndexes ix(unit, *t);
  std::vector<Value> row = r.rows[0];
  row[t->findColumn(u"id")] = Value();
  expectJetError(3058, "'PrimaryKey'", [&] { ix.check(row, &r.ids[0]); });
  expectJetError(3058, "'PrimaryKey'", [&] { ix.insertRow(row, RowId{0x300000, 0}); });
  expectJetError(3058, "'PrimaryKey'", [&] { ix.updateRow(r.rows[0], row, r.ids[0]); });
  EXPECT_TRUE(unit.changedPages().empty());
}

TEST(IndexRules, IgnoreNullsIndexLeavesAllNullRowsOut) {
  WritableCopy w("jet4/testIndexPropertiesV2000.mdb");
  BV_NEED_FIXTURE(w);
  auto t = w.db->table(u"TableIgnoreNulls1");
  FirstRows r = readRows(*w.db, *t);
  ASSERT_FALSE(r.rows.empty());
  size_t ignoring = 0;
  for (size_t i = 0; i < t->realIndexes.size(); ++i)
    if (t->realIndexes[i].flags & 0x02) ignoring = i;
  const size_t before = walkIndex(*w.db, *t, ignoring).size();
  {
    WriteUnit unit(*w.db);
    TableIndexes ix(unit, *t);
    std::vector<Value> row = r.rows[0];
    row[t->findColumn(u"data")] = Value();
    row[t->findColumn(u"row")] = Value(u"row with no data");
    ix.insertRow(row, RowId{0x300000, 0});
    row[t->findColumn(u"data")] = Value(u"some data");
    row[t->findColumn(u"row")] = Value(u"row with data");
    ix.insertRow(row, RowId{0x300000, 1});
    unit.commit();
  }
  w.reopen();
  t = w.db->table(u"TableIgnoreNulls1");
  EXPECT_EQ(walkIndex(*w.db, *t, ignoring).size(), before + 1);
}

TEST(IndexRules, KeysThatCannotBeBuiltAreRefusedNamingTheIndex) {
  WritableCopy w("jet4/testIndexPropertiesV2000.mdb");
  BV_NEED_FIXTURE(w);
  auto t = w.db->table(u"TableUnique1_temp");
  FirstRows r = readRows(*w.db, *t);
  const int data = t->findColumn(u"data");
  WriteUnit unit(*w.db);
  {
    TableIndexes ix(unit, *t);
    std::vector<Value> row = r.rows[0];
    row[data] = Value(std::u16string(u"bad \uFFFF char"));
    expectJetError(kErrKeyNotEncodable, "'DataIndex'", [&] { ix.check(row, nullptr); });
    expectJetError(kErrKeyNotEncodable, "'DataIndex'", [&] { ix.insertRow(row, RowId{0x300000, 0}); });
    // A key too long for this engine's pages: 255 hyphens, each moved to 4 key bytes.
    row[data] = Value(std::u16string(255, u'-'));
    expectJetError(kErrKeyNotEncodable, "bytes", [&] { ix.check(row, nullptr); });
  }
  {
    // A text column in another sort order: every change to the table is refused.
    TableDef other = *t;
    other.columns[data].sortOrder = 1036;
    TableIndexes ix(unit, other);
    expectJetError(kErrKeyNotEncodable, "sort order 1036", [&] { ix.check(r.rows[0], &r.ids[0]); });
    expectJetError(kErrKeyNotEncodable, "'DataIndex'", [&] { ix.checkRemove(r.rows[0], r.ids[0]); });
    expectJetError(kErrKeyNotEncodable, "'DataIndex'", [&] { ix.removeRow(r.rows[0], r.ids[0]); });
  }
  {
    // A Memo column in an index.
    TableDef other = *t;
    other.columns[data].type = ColType::Memo;
    TableIndexes ix(unit, other);
    expectJetError(kErrKeyNotEncodable, "Memo", [&] { ix.check(r.rows[0], &r.ids[0]); });
  }
  EXPECT_TRUE(unit.changedPages().empty());
}

TEST(IndexRules, RemovingAnEntryTheIndexDoesNotHoldChangesNothing) {
  WritableCopy w("jet3/indexTestV1997.mdb");
  BV_NEED_FIXTURE(w);
  auto t = w.db->table(u"Table1");
  FirstRows r = readRows(*w.db, *t);
  WriteUnit unit(*w.db);
  TableIndexes ix(unit, *t);
  // The row's values with another id: its indexes hold nothing for that id.
  expectJetError(3049, "no entry", [&] { ix.checkRemove(r.rows[0], RowId{0x300000, 0}); });
  expectJetError(3049, "no entry", [&] { ix.removeRow(r.rows[0], RowId{0x300000, 0}); });
  // An update that keeps every key needs no entry to move; one that changes the key does.
  EXPECT_NO_THROW(ix.checkRemove(r.rows[0], RowId{0x300000, 0}, r.rows[0]));
  std::vector<Value> changed = r.rows[0];
  changed[t->findColumn(u"id")] = Value(int32_t{987654});
  expectJetError(3049, "no entry", [&] { ix.checkRemove(r.rows[0], RowId{0x300000, 0}, changed); });
  EXPECT_NO_THROW(ix.checkRemove(r.rows[0], r.ids[0], changed));
  EXPECT_TRUE(unit.changedPages().empty());
}

// An update leaves an index whose key columns keep their values alone: no key is built for
// it (a stored value without a key does not stop the update), while the entries of an index
// whose columns change still move.
TEST(IndexRules, UpdateBuildsNoKeyForIndexesWhoseColumnsKeepTheirValues) {
  WritableCopy w("jet4/testIndexPropertiesV2000.mdb");
  BV_NEED_FIXTURE(w);
  auto t = w.db->table(u"TableUnique1_temp");
  FirstRows r = readRows(*w.db, *t);
  ASSERT_FALSE(r.rows.empty());
  const int data = t->findColumn(u"data"), key = t->findColumn(u"row");
  size_t pk = 0;
  for (size_t i = 0; i < t->indexes.size(); ++i)
    if (t->indexes[i].primaryKey) pk = static_cast<size_t>(t->indexes[i].realIndex);
  WriteUnit unit(*w.db);
  TableIndexes ix(unit, *t);
  // As if the row were stored with a character no key exists for.
  std::vector<Value> before = r.rows[0];
  before[data] = Value(std::u16string(u"bad \uFFFF char"));
  std::vector<Value> after = before;
  after[key] = Value(u"a key no row has");
  EXPECT_NO_THROW(ix.updateRow(before, after, r.ids[0]));
  const std::vector<uint8_t> newKey = encodeKey(t->realIndexes[pk], *t, after, true);
  std::vector<std::vector<uint8_t>> keysOfRow;
  for (const IndexEntry& e : walkIndex(*w.db, *t, pk))
    if (e.dataPage == r.ids[0].page && e.dataRow == r.ids[0].row) keysOfRow.push_back(e.key);
  EXPECT_EQ(keysOfRow, std::vector<std::vector<uint8_t>>{newKey});
  // Changing the column itself needs its key, and is refused.
  after[data] = Value(std::u16string(u"another \uFFFF"));
  expectJetError(kErrKeyNotEncodable, "'DataIndex'", [&] { ix.updateRow(before, after, r.ids[0]); });
}

// 0 and -0 are equal values with different keys: changing one into the other moves the
// row's entry, so the index keeps agreeing with the stored value.
TEST(IndexRules, ZeroAndNegativeZeroKeyApart) {
  test::TempCopy dir("");
  const std::string path = dir.dir() + "/z.mdb";
  createDatabase(path, JetVersion::Jet4, CreateOptions{});
  auto db = Database::open(path, OpenMode::ReadWrite);
  TableDesign d;
  d.name = u"Numbers";
  ColumnDesign x;
  x.name = u"X";
  x.type = ColType::Double;
  d.columns = {x};
  d.indexes = {IndexDesign{u"ByX", {{u"X", true}}}};
  RowId id;
  {
    WriteUnit unit(*db);
    createTable(unit, d);
    id = TableWriter(unit, u"Numbers").insert(std::vector<Value>{Value(0.0)});
    unit.commit();
  }
  {
    WriteUnit unit(*db);
    TableWriter tw(unit, u"Numbers");
    tw.update(id, std::vector<Value>{Value(-0.0)});
    unit.commit();
  }
  auto t = db->table(u"Numbers");
  const std::vector<IndexEntry> entries = walkIndex(*db, *t, 0);
  ASSERT_EQ(entries.size(), 1u);
  std::vector<uint8_t> expected = encodeKey(t->realIndexes[0], *t, std::vector<Value>{Value(-0.0)}, true);
  EXPECT_EQ(entries[0].key, expected);
  EXPECT_NE(entries[0].key, encodeKey(t->realIndexes[0], *t, std::vector<Value>{Value(0.0)}, true));
}

}  // namespace
}  // namespace bv::storage
