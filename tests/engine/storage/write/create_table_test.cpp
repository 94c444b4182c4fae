// Tables made by createTable in new databases: the definition reads back as specified,
// rows of every type go in and come out (our reader and mdbtools agree), the checker finds
// nothing wrong, and a refused definition changes nothing.
#include <gtest/gtest.h>

#include <cmath>

#include "engine/storage/check.h"
#include "engine/storage/create_database.h"
#include "engine/storage/create_table.h"
#include "engine/storage/error.h"
#include "engine/storage/table_writer.h"
#include "engine/storage/write_unit.h"
#include "tests/engine/storage/storage_test_util.h"

namespace bv::storage {
namespace {

ColumnDesign column(const char16_t* name, ColType type, uint16_t size = 0) {
  ColumnDesign c;
  c.name = name;
  c.type = type;
  c.size = size;
  return c;
}

// One column of every type a table can have.
TableDesign everyType(bool jet4) {
  TableDesign t;
  t.name = u"Every Type";
  t.columns = {column(u"ID", ColType::Long),       column(u"Flag", ColType::Bool),
               column(u"Small", ColType::Byte),    column(u"Int", ColType::Integer),
               column(u"Money", ColType::Currency), column(u"Sgl", ColType::Single),
               column(u"Dbl", ColType::Double),    column(u"When", ColType::DateTime),
               column(u"Name", ColType::Text, 40), column(u"Raw", ColType::Binary, 16),
               column(u"Notes", ColType::Memo),    column(u"Blob", ColType::OLE),
               column(u"Key", ColType::Guid)};
  t.columns[0].autoNumber = true;
  if (jet4) {
    ColumnDesign d = column(u"Exact", ColType::Decimal);
    d.precision = 12;
    d.scale = 3;
    t.columns.push_back(d);
    t.columns[8].compressedUnicode = true;
  }
  IndexDesign pk;
  pk.name = u"PrimaryKey";
  pk.columns = {{u"ID", true}};
  pk.primaryKey = true;
  pk.required = true;
  IndexDesign byName;
  byName.name = u"ByNameWhen";
  byName.columns = {{u"Name", true}, {u"When", false}};
  t.indexes = {pk, byName};
  return t;
}

class CreateTableTest : public ::testing::TestWithParam<JetVersion> {
 protected:
  bool jet4() const { return GetParam() == JetVersion::Jet4; }
  void SetUp() override {
    path_ = dir_.dir() + "/t.mdb";
    CreateOptions o;
    o.created = 45000.25;
    createDatabase(path_, GetParam(), o);
  }
  uint32_t create(const TableDesign& design) {
    auto db = Database::open(path_, OpenMode::ReadWrite);
    WriteUnit unit(*db);
    const uint32_t page = createTable(unit, design, 45001.0);
    unit.commit();
    return page;
  }
  std::string problems() {
    auto db = Database::open(path_);
    const CheckReport r = checkDatabase(*db);
    std::string s;
    for (const auto& p : r.problems) s += p + "\n";
    return s;
  }
  test::TempCopy dir_{""};
  std::string path_;
};

TEST_P(CreateTableTest, TheDefinitionReadsBackAsSpecified) {
  const uint32_t page = create(everyType(jet4()));
  auto db = Database::open(path_);
  EXPECT_EQ(db->userTableNames(), std::vector<std::u16string>{u"Every Type"});
  auto t = db->table(u"every type");
  EXPECT_EQ(t->tdefPage, page);
  EXPECT_EQ(t->tableType, 0x4E);
  const TableDesign design = everyType(jet4());
  ASSERT_EQ(t->columns.size(), design.columns.size());
  for (size_t i = 0; i < design.columns.size(); ++i) {
    EXPECT_EQ(t->columns[i].name, design.columns[i].name);
    EXPECT_EQ(t->columns[i].type, design.columns[i].type);
    EXPECT_EQ(t->columns[i].number, i);
  }
  EXPECT_TRUE(t->columns[0].autoNumber);
  EXPECT_EQ(t->columns[8].length, jet4() ? 80 : 40);
  EXPECT_EQ(t->columns[9].length, 16);
  if (jet4()) {
    EXPECT_TRUE(t->columns[8].compressedUnicode);
    EXPECT_EQ(t->columns[13].precision, 12);
    EXPECT_EQ(t->columns[13].scale, 3);
  }
  ASSERT_EQ(t->indexes.size(), 2u);
  const int pk = t->indexes[0].primaryKey ? 0 : 1;
  EXPECT_EQ(t->indexes[pk].name, u"PrimaryKey");
  EXPECT_TRUE(t->indexes[pk].unique);
  EXPECT_TRUE(t->indexes[pk].required);
  const IndexDef& two = t->indexes[1 - pk];
  ASSERT_EQ(two.columns.size(), 2u);
  EXPECT_EQ(two.columns[0].columnNumber, 8);
  EXPECT_FALSE(two.columns[1].ascending);
  EXPECT_EQ(problems(), "");
}

TEST_P(CreateTableTest, RowsOfEveryTypeReadBackThroughBothReaders) {
  const uint32_t page = create(everyType(jet4()));
  Guid g;
  for (uint8_t i = 0; i < 16; ++i) g.bytes[i] = static_cast<uint8_t>(0x10 + i);
  std::vector<Value> row = {Value(int32_t{7}),           Value(true),
                            Value(uint8_t{200}),         Value(int16_t{-1234}),
                            Value(Currency{123456789}),  Value(1.5f),
                            Value(-2.25),                Value(DateTime{45000.5}),
                            Value(u"Grüße, Ωμέγα"),      Value(Bytes{1, 2, 3, 0, 255}),
                            Value(u"a short memo"),      Value(Bytes{9, 8, 7}),
                            Value(g)};
  if (jet4()) row.push_back(Value(Decimal{true, 0, 1234567, 3, 12}));
  if (!jet4()) row[8] = Value(u"Grüße, façade");  // Jet 3 text is code page 1252
  std::vector<Value> nulls(row.size());
  nulls[0] = Value(int32_t{8});
  nulls[1] = Value(false);
  {
    auto db = Database::open(path_, OpenMode::ReadWrite);
    WriteUnit unit(*db);
    TableWriter w(unit, page);
    w.insert(row);
    w.insert(nulls);
    unit.commit();
  }
  auto db = Database::open(path_);
  auto t = db->table(u"Every Type");
  EXPECT_EQ(t->rowCount, 2u);
  TableCursor cur = db->scan(t);
  std::vector<Value> got;
  ASSERT_TRUE(cur.next());
  cur.readRow(got);
  EXPECT_EQ(got, row);
  ASSERT_TRUE(cur.next());
  cur.readRow(got);
  EXPECT_EQ(got, nulls);
  EXPECT_FALSE(cur.next());
  EXPECT_EQ(problems(), "");

  int status = 0;
  const auto csv = test::parseCsv(
      test::runCommand("mdb-export -T '%Y-%m-%d %H:%M:%S' " + test::shellQuote(path_) + " 'Every Type' 2>/dev/null",
                       &status));
  if (status != 0 && csv.empty()) GTEST_SKIP() << "mdbtools is not installed";
  ASSERT_EQ(csv.size(), 3u);
  EXPECT_EQ(csv[1][0].text, "7");
  EXPECT_EQ(csv[1][1].text, "1");
  EXPECT_EQ(csv[1][2].text, "200");
  EXPECT_EQ(csv[1][3].text, "-1234");
  EXPECT_EQ(csv[1][7].text, "2023-03-15 12:00:00");
  EXPECT_EQ(csv[1][8].text, jet4() ? "Grüße, Ωμέγα" : "Grüße, façade");
  EXPECT_EQ(csv[1][10].text, "a short memo");
  EXPECT_EQ(csv[2][0].text, "8");
  EXPECT_EQ(csv[2][1].text, "0");
  EXPECT_EQ(csv[2][8].text, "");
}

TEST_P(CreateTableTest, ALongJet3RowNeedsItsJumpTable) {
  TableDesign t;
  t.name = u"Wide";
  for (const char16_t* n : {u"A", u"B", u"C", u"D"}) t.columns.push_back(column(n, ColType::Text, 200));
  const uint32_t page = create(t);
  std::vector<Value> row = {Value(std::u16string(150, u'a')), Value(std::u16string(200, u'b')), Value(),
                            Value(std::u16string(180, u'd'))};
  {
    auto db = Database::open(path_, OpenMode::ReadWrite);
    WriteUnit unit(*db);
    TableWriter(unit, page).insert(row);
    unit.commit();
  }
  auto db = Database::open(path_);
  TableCursor cur = db->scan(db->table(u"Wide"));
  ASSERT_TRUE(cur.next());
  std::vector<Value> got;
  cur.readRow(got);
  EXPECT_EQ(got, row);
  EXPECT_EQ(problems(), "");
}

TEST_P(CreateTableTest, ManyTablesFillTheCatalogAndMdbToolsListThem) {
  for (int i = 0; i < 30; ++i) {
    TableDesign t;
    t.name = u"T" + std::u16string(1, static_cast<char16_t>(u'A' + i % 26)) + std::u16string(i / 26 + 1, u'x');
    t.columns = {column(u"N", ColType::Long), column(u"S", ColType::Text, 10)};
    create(t);
  }
  auto db = Database::open(path_);
  EXPECT_EQ(db->userTableNames().size(), 30u);
  EXPECT_EQ(problems(), "");
  int status = 0;
  const std::string tables = test::runCommand("mdb-tables -1 " + test::shellQuote(path_) + " 2>/dev/null", &status);
  if (status != 0) GTEST_SKIP() << "mdbtools is not installed";
  EXPECT_EQ(std::count(tables.begin(), tables.end(), '\n'), 30);
}

TEST_P(CreateTableTest, RefusedDefinitionsChangeNothing) {
  TableDesign ok;
  ok.name = u"Customers";
  ok.columns = {column(u"ID", ColType::Long)};
  create(ok);
  test::TempCopy before(path_);
  auto expectError = [&](const TableDesign& design, int number) {
    auto db = Database::open(path_, OpenMode::ReadWrite);
    WriteUnit unit(*db);
    try {
      createTable(unit, design);
      FAIL() << "expected error " << number;
    } catch (const JetError& e) {
      EXPECT_EQ(e.number(), number) << e.what();
    }
  };
  TableDesign same = ok;
  same.name = u"CUSTOMERS";
  expectError(same, 3010);
  TableDesign twice = ok;
  twice.name = u"Twice";
  twice.columns.push_back(column(u"id", ColType::Text));
  expectError(twice, 3191);
  TableDesign badName = ok;
  badName.name = u"a.b";
  expectError(badName, 3125);
  TableDesign badIndex = ok;
  badIndex.name = u"Other";
  badIndex.indexes.push_back(IndexDesign{u"ix", {{u"Nope", true}}});
  expectError(badIndex, 3265);
  TableDesign tooLong = ok;
  tooLong.name = u"Other";
  tooLong.columns.push_back(column(u"T", ColType::Text, 256));
  expectError(tooLong, 3047);
  EXPECT_EQ(test::TempCopy(path_).read(), before.read());
}

INSTANTIATE_TEST_SUITE_P(Versions, CreateTableTest, ::testing::Values(JetVersion::Jet4, JetVersion::Jet3),
                         [](const auto& info) { return info.param == JetVersion::Jet4 ? "Jet4" : "Jet3"; });

}  // namespace
}  // namespace bv::storage
