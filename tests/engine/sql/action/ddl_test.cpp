// Data definition through SQL on databases our code created: CREATE TABLE with every type
// and constraint form, CREATE / DROP INDEX over tables that hold rows, DROP TABLE; Jet's
// error numbers, and every refused statement leaving the file byte for byte as it was.
#include "tests/engine/sql/action/ddl_test_util.h"

#include "engine/storage/properties.h"

namespace bv::sql {
namespace {

TEST_P(DdlTest, CreateTableWithEveryTypeAndConstraintReadsBack) {
  std::u16string sql =
      u"CREATE TABLE [Order Lines] (ID COUNTER CONSTRAINT pk PRIMARY KEY, Code TEXT(12) UNIQUE, "
      u"Qty SHORT, Total LONG, Price CURRENCY, Ratio SINGLE, Weight DOUBLE, Shipped DATETIME, Paid BIT, "
      u"Tiny BYTE, Notes MEMO, Photo LONGBINARY, Raw BINARY(8), Tag GUID, Name TEXT WITH COMPRESSION";
  sql += jet4() ? u", Amount DECIMAL(10,2))" : u")";
  EXPECT_EQ(run(sql), 0);
  auto db = Database::open(path_);
  ASSERT_EQ(db->userTableNames(), std::vector<std::u16string>{u"Order Lines"});
  auto t = db->table(u"Order Lines");
  ASSERT_EQ(t->columns.size(), jet4() ? 16u : 15u);
  const ColType want[] = {ColType::Long,   ColType::Text,   ColType::Integer, ColType::Long,   ColType::Currency,
                          ColType::Single, ColType::Double, ColType::DateTime, ColType::Bool,  ColType::Byte,
                          ColType::Memo,   ColType::OLE,    ColType::Binary,  ColType::Guid,   ColType::Text,
                          ColType::Decimal};
  for (size_t i = 0; i < t->columns.size(); ++i) EXPECT_EQ(t->columns[i].type, want[i]) << i;
  EXPECT_TRUE(t->columns[0].autoNumber);
  EXPECT_EQ(t->columns[1].length, jet4() ? 24 : 12);
  EXPECT_EQ(t->columns[12].length, 8);
  EXPECT_EQ(t->columns[14].length, jet4() ? 510 : 255);
  if (jet4()) {
    EXPECT_TRUE(t->columns[14].compressedUnicode);
    EXPECT_EQ(t->columns[15].precision, 10);
    EXPECT_EQ(t->columns[15].scale, 2);
  }
  ASSERT_EQ(t->indexes.size(), 2u);
  bool sawPk = false, sawUnique = false;
  for (const auto& ix : t->indexes) {
    if (ix.name == u"pk") sawPk = ix.primaryKey && ix.required && ix.unique;
    if (ix.name == u"Code") sawUnique = ix.unique && !ix.primaryKey;
  }
  EXPECT_TRUE(sawPk);
  EXPECT_TRUE(sawUnique);
  EXPECT_EQ(problems(), "");

  const std::string q = test::shellQuote(path_);
  const std::string schema = mdb("mdb-schema " + q);
  EXPECT_NE(schema.find("CREATE TABLE [Order Lines]"), std::string::npos) << schema;
  EXPECT_NE(schema.find("[Shipped]"), std::string::npos) << schema;
  EXPECT_EQ(mdb("mdb-tables -1 " + q), "Order Lines\n");
  EXPECT_EQ(mdb("mdb-export " + q + " 'Order Lines'").substr(0, 8), "ID,Code,");
}

TEST_P(DdlTest, NotNullAndDefaultBecomeColumnProperties) {
  run(u"CREATE TABLE P (ID LONG NOT NULL, Qty SHORT DEFAULT 1, Note TEXT(20) NOT NULL DEFAULT 'n/a', "
      u"Stamp DATETIME DEFAULT Now())");
  auto db = Database::open(path_);
  const storage::ObjectProperties props = storage::readTableProperties(*db, db->table(u"P")->tdefPage);
  const storage::PropertyBlock* id = props.column(u"ID");
  ASSERT_NE(id, nullptr);
  ASSERT_NE(id->find(u"Required"), nullptr);
  EXPECT_EQ(id->find(u"Required")->value, Value(true));
  const storage::PropertyBlock* qty = props.column(u"qty");
  ASSERT_NE(qty, nullptr);
  ASSERT_NE(qty->find(u"DefaultValue"), nullptr);
  EXPECT_EQ(qty->find(u"DefaultValue")->value, Value(u"1"));
  EXPECT_EQ(qty->find(u"Required"), nullptr);
  const storage::PropertyBlock* note = props.column(u"Note");
  ASSERT_NE(note, nullptr);
  EXPECT_EQ(note->find(u"DefaultValue")->value, Value(u"'n/a'"));
  EXPECT_EQ(note->find(u"Required")->value, Value(true));
  EXPECT_EQ(props.column(u"Stamp")->find(u"DefaultValue")->value, Value(u"Now()"));
  EXPECT_EQ(problems(), "");
  EXPECT_EQ(mdb("mdb-tables -1 " + test::shellQuote(path_)), "P\n");
}

TEST_P(DdlTest, AddedColumnsAreNullInOldRowsAndDroppedOnesVanish) {
  run(u"CREATE TABLE T (ID LONG PRIMARY KEY, Name TEXT(20), Old MEMO)");
  addRows(u"T", {{Value(int32_t{1}), Value(u"one"), Value(u"memo one")}});
  EXPECT_EQ(run(u"ALTER TABLE T ADD COLUMN Price CURRENCY"), 0);
  EXPECT_EQ(run(u"ALTER TABLE T ADD Notes MEMO"), 0);
  refused(u"ALTER TABLE T DROP COLUMN ID", 3280);
  EXPECT_EQ(run(u"ALTER TABLE T DROP COLUMN Old"), 0);
  addRows(u"T", {{Value(int32_t{2}), Value(u"two"), Value(Currency{25000}), Value(u"a note")}});
  EXPECT_EQ(problems(), "");
  auto db = Database::open(path_);
  auto t = db->table(u"T");
  ASSERT_EQ(t->columns.size(), 4u);
  EXPECT_EQ(t->columns[2].name, u"Price");
  storage::TableCursor cur = db->scan(t);
  std::vector<Value> row;
  ASSERT_TRUE(cur.next());
  cur.readRow(row);
  EXPECT_EQ(row, (std::vector<Value>{Value(int32_t{1}), Value(u"one"), Value(), Value()}));
  ASSERT_TRUE(cur.next());
  cur.readRow(row);
  EXPECT_EQ(row, (std::vector<Value>{Value(int32_t{2}), Value(u"two"), Value(Currency{25000}), Value(u"a note")}));
  const std::string csv = mdb("mdb-export " + test::shellQuote(path_) + " T");
  EXPECT_EQ(csv.substr(0, csv.find('\n')), "ID,Name,Price,Notes");
}

TEST_P(DdlTest, TableConstraintsNameTheirIndexes) {
  run(u"CREATE TABLE T (A LONG, B TEXT(5), C DATETIME, PRIMARY KEY (A, B), CONSTRAINT uq UNIQUE (C))");
  auto db = Database::open(path_);
  auto t = db->table(u"T");
  ASSERT_EQ(t->indexes.size(), 2u);
  const auto& pk = t->indexes[0].primaryKey ? t->indexes[0] : t->indexes[1];
  EXPECT_EQ(pk.name, u"PrimaryKey");
  EXPECT_EQ(pk.columns.size(), 2u);
  EXPECT_EQ(problems(), "");
}

TEST_P(DdlTest, CreateIndexOverExistingRowsBuildsACheckedTree) {
  run(u"CREATE TABLE People (ID LONG, Name TEXT(60), Born DATETIME)");
  std::vector<std::vector<Value>> rows;
  for (int32_t i = 0; i < 1500; ++i) {
    std::u16string name = u"Person number ";
    for (char c : std::to_string((i * 7919) % 1500)) name.push_back(static_cast<char16_t>(c));
    rows.push_back({Value(i), i % 10 == 0 ? Value() : Value(name), Value(DateTime{20000.0 + i})});
  }
  addRows(u"People", rows);
  EXPECT_EQ(run(u"CREATE UNIQUE INDEX ById ON People (ID DESC) WITH PRIMARY"), 0);
  EXPECT_EQ(run(u"CREATE INDEX ByName ON People (Name, Born DESC) WITH IGNORE NULL"), 0);
  EXPECT_EQ(problems(), "");
  auto db = Database::open(path_);
  auto t = db->table(u"People");
  EXPECT_EQ(t->indexes.size(), 2u);
  EXPECT_EQ(t->rowCount, 1500u);
  // 1500 keys do not fit one page: the primary key's root is an intermediate page.
  for (const auto& ix : t->indexes)
    if (ix.primaryKey) EXPECT_EQ(db->page(ix.firstPage)[0], 0x03);

  refused(u"CREATE INDEX ById ON People (Name)", 3375);
  refused(u"CREATE INDEX Other ON People (Name) WITH PRIMARY", 3283);
}

TEST_P(DdlTest, IndexRulesOverExistingRowsAreEnforced) {
  run(u"CREATE TABLE T (A LONG, B TEXT(10))");
  addRows(u"T", {{Value(int32_t{1}), Value(u"x")},
                 {Value(int32_t{1}), Value()},
                 {Value(int32_t{2}), Value(u"y")},
                 {Value(int32_t{1}), Value()}});
  refused(u"CREATE UNIQUE INDEX UA ON T (A)", 3022);
  refused(u"CREATE INDEX NB ON T (B) WITH DISALLOW NULL", 3058);
  refused(u"CREATE INDEX NB ON T (Nope)", 3265);
  refused(u"CREATE INDEX NB ON Missing (A)", 3371);
  // A key with a Null in it collides with nothing, as when rows are added later.
  EXPECT_EQ(run(u"CREATE UNIQUE INDEX UB ON T (B)"), 0);
  EXPECT_EQ(run(u"CREATE UNIQUE INDEX UAB ON T (A, B)"), 0);
  EXPECT_EQ(run(u"INSERT INTO T (A) VALUES (1)"), 1);
  refused(u"INSERT INTO T (A, B) VALUES (5, 'x')", 3022);
  EXPECT_EQ(problems(), "");
}

TEST_P(DdlTest, DropIndexAndDropTableGiveTheirPagesBack) {
  run(u"CREATE TABLE A (ID LONG PRIMARY KEY, Note MEMO)");
  run(u"CREATE INDEX ByNote ON A (ID DESC)");
  const auto sizeWithTwo = test::TempCopy(path_).read().size();
  EXPECT_EQ(run(u"DROP INDEX ByNote ON A"), 0);
  EXPECT_EQ(problems(), "");
  {
    auto db = Database::open(path_);
    EXPECT_EQ(db->table(u"A")->indexes.size(), 1u);
  }
  refused(u"DROP INDEX ByNote ON A", 3371);
  refused(u"DROP INDEX PrimaryKey ON Nowhere", 3371);
  EXPECT_EQ(run(u"DROP TABLE A"), 0);
  EXPECT_EQ(problems(), "");
  refused(u"DROP TABLE A", 3376);
  // A new table reuses nothing it should not, and the file did not grow past the first one.
  run(u"CREATE TABLE B (X LONG)");
  EXPECT_EQ(problems(), "");
  auto db = Database::open(path_);
  EXPECT_EQ(db->userTableNames(), std::vector<std::u16string>{u"B"});
  EXPECT_GE(sizeWithTwo, test::TempCopy(path_).read().size() - 4u * db->pageSize());
  EXPECT_EQ(mdb("mdb-tables -1 " + test::shellQuote(path_)), "B\n");
}

TEST_P(DdlTest, RefusedStatementsAndDryRunsChangeNothing) {
  run(u"CREATE TABLE Existing (A LONG)");
  refused(u"CREATE TABLE existing (B LONG)", 3010);
  refused(u"CREATE TABLE T2 (A LONG, a TEXT)", 3191);
  refused(u"CREATE TABLE T2 (A TEXT(300))", 3259);
  refused(u"CREATE TABLE T2 (A LONG PRIMARY KEY, B LONG, CONSTRAINT p2 PRIMARY KEY (B))", 3283);
  refused(u"CREATE TABLE T2 (A LONG, CONSTRAINT fk FOREIGN KEY (A) REFERENCES Existing (A))", 3609);
  refused(u"CREATE TABLE T2 (A LONG REFERENCES Nowhere)", 3371);
  refused(u"ALTER TABLE Existing ALTER COLUMN Nope TEXT", 3265);
  refused(u"ALTER TABLE Existing ADD COLUMN A TEXT", 3380);
  refused(u"ALTER TABLE Existing DROP COLUMN Nope", 3265);
  refused(u"ALTER TABLE Existing DROP COLUMN A", 3264);
  const std::vector<uint8_t> before = test::TempCopy(path_).read();
  EXPECT_EQ(run(u"CREATE TABLE Dry (A LONG)", true), 0);
  EXPECT_EQ(run(u"DROP TABLE Existing", true), 0);
  EXPECT_EQ(test::TempCopy(path_).read(), before);
}

TEST_P(DdlTest, ForeignKeysRecordRelationshipsAtBothEnds) {
  run(u"CREATE TABLE Customers (ID COUNTER PRIMARY KEY, Name TEXT(50))");
  run(u"CREATE TABLE Orders (ID COUNTER PRIMARY KEY, CustomerID LONG CONSTRAINT CustomersOrders "
      u"REFERENCES Customers (ID) ON DELETE CASCADE, Placed DATETIME)");
  EXPECT_EQ(problems(), "");
  {
    auto db = Database::open(path_);
    auto orders = db->table(u"Orders");
    auto customers = db->table(u"Customers");
    const storage::IndexDef* fk = nullptr;
    for (const auto& ix : orders->indexes)
      if (ix.foreignKey) fk = &ix;
    ASSERT_NE(fk, nullptr);
    EXPECT_EQ(fk->name, u"CustomersOrders");
    EXPECT_EQ(fk->fkOtherTable, customers->tdefPage);
    EXPECT_EQ(fk->cascadeFlags2, 1);
    // The referenced end points back and shares the primary key's tree.
    const storage::IndexDef* back = nullptr;
    for (const auto& ix : customers->indexes)
      if (ix.foreignKey) back = &ix;
    ASSERT_NE(back, nullptr);
    EXPECT_EQ(back->fkOtherTable, orders->tdefPage);
    EXPECT_EQ(back->fkOtherIndex, fk->indexNumber);
    EXPECT_EQ(fk->fkOtherIndex, back->indexNumber);
    EXPECT_EQ(customers->realIndexes.size(), 1u);
  }
  const std::string rels = mdb("mdb-export " + test::shellQuote(path_) + " MSysRelationships");
  EXPECT_NE(rels.find("\"CustomersOrders\",4096,1,0,\"Orders\",\"CustomerID\",\"Customers\",\"ID\""),
            std::string::npos)
      << rels;
  refused(u"DROP TABLE Customers", 3303);
  refused(u"DROP INDEX CustomersOrders ON Orders", 3303);
  EXPECT_EQ(run(u"ALTER TABLE Orders ADD CONSTRAINT OnePerDay UNIQUE (CustomerID, Placed)"), 0);
  EXPECT_EQ(run(u"ALTER TABLE Orders DROP CONSTRAINT OnePerDay"), 0);
  EXPECT_EQ(problems(), "");

  // Over existing rows a relationship needs every related row.
  run(u"CREATE TABLE Notes (ID LONG, CustomerID LONG)");
  addRows(u"Notes", {{Value(int32_t{1}), Value(int32_t{99})}});
  refused(u"ALTER TABLE Notes ADD CONSTRAINT nc FOREIGN KEY (CustomerID) REFERENCES Customers", 3201);
  addRows(u"Customers", {{Value(int32_t{99}), Value(u"Ann")}});
  EXPECT_EQ(run(u"ALTER TABLE Notes ADD CONSTRAINT nc FOREIGN KEY (CustomerID) REFERENCES Customers"), 0);
  EXPECT_EQ(problems(), "");
}

INSTANTIATE_TEST_SUITE_P(Versions, DdlTest, ::testing::Values(JetVersion::Jet4, JetVersion::Jet3), jetVersionName);

}  // namespace
}  // namespace bv::sql
