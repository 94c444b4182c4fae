// Data definition that changes tables already holding rows, and SELECT ... INTO: the made or
// changed tables are read back by mdbtools and our check, take INSERT / UPDATE / DELETE
// afterwards, and every refused statement leaves the file byte for byte as it was.
#include "tests/engine/sql/action/ddl_test_util.h"

#include <filesystem>

#include "engine/storage/properties.h"
#include "tests/engine/sql/action/action_test_util.h"

namespace bv::sql {
namespace {

class DdlAlterTest : public DdlTest {
 protected:
  std::string exported(const std::string& table) {
    return mdb("mdb-export " + test::shellQuote(path_) + " " + test::shellQuote(table));
  }
  std::string schema() { return mdb("mdb-schema " + test::shellQuote(path_)); }
  const storage::ColumnDef& column(const storage::TableDef& t, const std::u16string& name) {
    return t.columns.at(static_cast<size_t>(t.findColumn(name)));
  }
  // A source table with a row per kind of value, and one of Nulls.
  void makeSource() {
    run(u"CREATE TABLE Src (ID COUNTER PRIMARY KEY, Name TEXT(30), Qty LONG, Price CURRENCY, "
        u"Placed DATETIME, Paid BIT, Note MEMO, Ratio DOUBLE)");
    run(u"INSERT INTO Src (Name, Qty, Price, Placed, Paid, Note, Ratio) "
        u"VALUES ('Ann', 3, 2.5, #2023-04-05 06:07:08#, True, 'first note', 0.25)");
    run(u"INSERT INTO Src (Name, Qty, Price, Placed, Paid, Note, Ratio) "
        u"VALUES ('Bob', -7, 1000.125, #1999-12-31#, False, 'second', 1e10)");
    run(u"INSERT INTO Src (Name) VALUES (Null)");
  }
};

TEST_P(DdlAlterTest, SelectIntoCopiesColumnsWithTheirTypesAndCountsRows) {
  makeSource();
  EXPECT_EQ(run(u"SELECT * INTO [Copy] FROM Src"), 3);
  EXPECT_EQ(problems(), "");
  {
    auto db = Database::open(path_);
    auto src = db->table(u"Src");
    auto copy = db->table(u"Copy");
    ASSERT_EQ(copy->columns.size(), src->columns.size());
    for (size_t i = 0; i < src->columns.size(); ++i) {
      EXPECT_EQ(copy->columns[i].name, src->columns[i].name);
      EXPECT_EQ(copy->columns[i].type, src->columns[i].type) << i;
      EXPECT_EQ(copy->columns[i].length, src->columns[i].length) << i;
    }
    EXPECT_FALSE(copy->columns[0].autoNumber);  // an AutoNumber copies as a plain Long
    EXPECT_TRUE(copy->indexes.empty());
    EXPECT_EQ(copy->rowCount, 3u);
  }
  // Every value reads back the same through the outside reader.
  const std::string src = exported("Src");
  ASSERT_EQ(src.rfind("ID,Name,Qty,Price,Placed,Paid,Note,Ratio\n", 0), 0u) << src;
  EXPECT_EQ(exported("Copy"), src);
  EXPECT_NE(schema().find("CREATE TABLE [Copy]"), std::string::npos);

  // The new table is an ordinary table.
  EXPECT_EQ(run(u"INSERT INTO [Copy] (ID, Name) VALUES (10, 'Cy')"), 1);
  EXPECT_EQ(run(u"UPDATE [Copy] SET Qty = Qty * 2 WHERE Qty IS NOT NULL"), 2);
  EXPECT_EQ(run(u"DELETE FROM [Copy] WHERE Name IS NULL"), 1);
  EXPECT_EQ(problems(), "");
  const std::string after = exported("Copy");
  EXPECT_NE(after.find("1,\"Ann\",6,"), std::string::npos) << after;
  EXPECT_NE(after.find("2,\"Bob\",-14,"), std::string::npos) << after;
  EXPECT_NE(after.find("10,\"Cy\","), std::string::npos) << after;

  refused(u"SELECT * INTO [copy] FROM Src", 3010);
  refused(u"SELECT * INTO Src FROM Src", 3010);
  refused(u"SELECT Name, Qty AS Name INTO Twice FROM Src", 3191);
  refused(u"SELECT * INTO Other FROM Missing", 3078);
}

TEST_P(DdlAlterTest, SelectIntoTypesExpressionsAndJoins) {
  makeSource();
  run(u"CREATE TABLE Tags (SrcID LONG, Tag TEXT(8))");
  run(u"INSERT INTO Tags VALUES (1, 'red')");
  run(u"INSERT INTO Tags VALUES (2, 'blue')");
  EXPECT_EQ(run(u"SELECT s.ID, t.Tag, s.Qty * 2 AS Twice, s.Ratio / 4 AS Quarter, s.Price * 2 AS Cost, "
                u"s.Name & '!' AS Shout, s.Placed + 1 AS NextDay, String(300, 'x') AS Long "
                u"INTO [Select] FROM Src AS s INNER JOIN Tags AS t ON s.ID = t.SrcID"),
            2);
  EXPECT_EQ(problems(), "");
  {
    auto db = Database::open(path_);
    auto t = db->table(u"Select");
    ASSERT_EQ(t->columns.size(), 8u);
    EXPECT_EQ(column(*t, u"ID").type, ColType::Long);  // the qualified name loses its table
    EXPECT_EQ(column(*t, u"Tag").type, ColType::Text);
    EXPECT_EQ(column(*t, u"Tag").length, jet4() ? 16 : 8);
    EXPECT_EQ(column(*t, u"Twice").type, ColType::Long);
    EXPECT_EQ(column(*t, u"Quarter").type, ColType::Double);
    EXPECT_EQ(column(*t, u"Cost").type, ColType::Currency);
    EXPECT_EQ(column(*t, u"Shout").type, ColType::Text);
    EXPECT_EQ(column(*t, u"NextDay").type, ColType::DateTime);
    EXPECT_EQ(column(*t, u"Long").type, ColType::Memo);  // longer than a Text column holds
  }
  const std::string rows = exported("Select");
  EXPECT_NE(rows.find("1,\"red\",6,0.0625,5.0000,\"Ann!\",\"04/06/23 06:07:08\""), std::string::npos) << rows;
  EXPECT_NE(rows.find("2,\"blue\",-14,"), std::string::npos) << rows;

  // Decimal results (Double in a Jet 3 file, which has no Decimal type) keep their digits;
  // values of another kind than the column's first are converted as an INSERT converts them.
  EXPECT_EQ(run(u"SELECT ID, CDec(1.25) AS D, IIf(ID = 1, 1, 2.5) AS Mixed INTO Kinds FROM Src ORDER BY ID"), 3);
  {
    auto db = Database::open(path_);
    auto t = db->table(u"Kinds");
    EXPECT_EQ(column(*t, u"D").type, jet4() ? ColType::Decimal : ColType::Double);
    EXPECT_EQ(column(*t, u"Mixed").type, ColType::Long);
  }
  EXPECT_EQ(exported("Kinds"), "ID,D,Mixed\n1,1.25,1\n2,1.25,2\n3,1.25,2\n");

  // No rows selected still makes the (empty) table.
  EXPECT_EQ(run(u"SELECT Name INTO Nobody FROM Src WHERE Qty > 1000"), 0);
  EXPECT_EQ(exported("Nobody"), "Name\n");
  // A dry run applies every rule and keeps nothing.
  const std::vector<uint8_t> before = test::TempCopy(path_).read();
  EXPECT_EQ(run(u"SELECT * INTO DryCopy FROM Src", true), 3);
  EXPECT_EQ(test::TempCopy(path_).read(), before);
}

TEST_P(DdlAlterTest, AlterColumnConvertsEveryRow) {
  run(u"CREATE TABLE T (ID COUNTER PRIMARY KEY, Code TEXT(20), Num TEXT(10), Note MEMO, Amt DOUBLE, Flag BIT, "
      u"Idx LONG)");
  run(u"CREATE INDEX ByIdx ON T (Idx)");
  run(u"INSERT INTO T (Code, Num, Note, Amt, Flag, Idx) VALUES ('abc', '12', 'memo one', 1.25, True, 1)");
  run(u"INSERT INTO T (Code, Num, Note, Amt, Flag, Idx) VALUES ('abcdefghijkl', '7', 'memo two', 2.5, False, 2)");
  run(u"INSERT INTO T (Code, Num, Note, Amt, Flag, Idx) VALUES (Null, Null, Null, Null, False, 3)");

  refused(u"ALTER TABLE T ALTER COLUMN Code TEXT(5)", 3163);   // would cut 'abcdefghijkl'
  refused(u"ALTER TABLE T ALTER COLUMN Code LONG", 3421);      // 'abc' is no number
  refused(u"ALTER TABLE T ALTER COLUMN Amt BYTE NOT NULL", 3314);  // a Null is there
  refused(u"ALTER TABLE T ALTER COLUMN Idx TEXT(5)", 3280);    // indexed
  refused(u"ALTER TABLE T ALTER COLUMN ID TEXT(5)", 3280);     // the primary key
  refused(u"ALTER TABLE T ALTER COLUMN Nope TEXT(5)", 3265);
  refused(u"ALTER TABLE Nowhere ALTER COLUMN Code TEXT(5)", 3371);
  refused(u"ALTER TABLE T ALTER COLUMN Num COUNTER", 3251);

  EXPECT_EQ(run(u"ALTER TABLE T ALTER COLUMN Code TEXT(12)"), 0);
  EXPECT_EQ(run(u"ALTER TABLE T ALTER COLUMN Num LONG"), 0);
  EXPECT_EQ(run(u"ALTER TABLE T ALTER COLUMN Note TEXT(50)"), 0);
  EXPECT_EQ(run(u"ALTER TABLE T ALTER COLUMN Amt CURRENCY DEFAULT 0"), 0);
  EXPECT_EQ(run(u"ALTER TABLE T ALTER COLUMN Flag SHORT"), 0);
  EXPECT_EQ(problems(), "");
  {
    auto db = Database::open(path_);
    auto t = db->table(u"T");
    EXPECT_EQ(column(*t, u"Code").length, jet4() ? 24 : 12);
    EXPECT_EQ(column(*t, u"Num").type, ColType::Long);
    EXPECT_EQ(column(*t, u"Note").type, ColType::Text);
    EXPECT_EQ(column(*t, u"Amt").type, ColType::Currency);
    EXPECT_EQ(column(*t, u"Flag").type, ColType::Integer);
    EXPECT_EQ(t->rowCount, 3u);
    const storage::ObjectProperties props = storage::readTableProperties(*db, t->tdefPage);
    ASSERT_NE(props.column(u"Amt"), nullptr);
    EXPECT_NE(props.column(u"Amt")->find(u"DefaultValue"), nullptr);
  }
  // Index and primary key still find every row; the changed columns take new rows.
  EXPECT_EQ(run(u"UPDATE T SET Code = 'x', Amt = 3 WHERE Idx = 3"), 1);
  EXPECT_EQ(run(u"INSERT INTO T (Code, Idx) VALUES ('new', 9)"), 1);
  EXPECT_EQ(run(u"DELETE FROM T WHERE ID = 1"), 1);
  EXPECT_EQ(problems(), "");
  const std::string rows = exported("T");
  EXPECT_NE(rows.find("\"abcdefghijkl\""), std::string::npos) << rows;
  EXPECT_NE(rows.find("\"memo two\""), std::string::npos) << rows;
  EXPECT_NE(rows.find("2.5000"), std::string::npos) << rows;   // Double to Currency
  EXPECT_NE(rows.find("3.0000"), std::string::npos) << rows;
  EXPECT_NE(rows.find("0.0000"), std::string::npos) << rows;   // the new default
  EXPECT_EQ(rows.find("memo one"), std::string::npos) << rows;
  const std::string s = schema();
  EXPECT_NE(s.find("[Num]\t\t\tLong Integer"), std::string::npos) << s;
  EXPECT_NE(s.find("[Note]\t\t\tText (50)"), std::string::npos) << s;
}

TEST_P(DdlAlterTest, AddColumnTakesPropertiesAndConstraints) {
  run(u"CREATE TABLE [Group] (ID LONG CONSTRAINT pk PRIMARY KEY, [Name] TEXT(20))");
  run(u"INSERT INTO [Group] VALUES (1, 'a')");
  run(u"CREATE TABLE [Select] ([Order] COUNTER PRIMARY KEY, Name TEXT(50))");
  run(u"INSERT INTO [Select] (Name) VALUES ('old')");
  // NOT NULL binds new rows only; the row already there keeps its Null.
  EXPECT_EQ(run(u"ALTER TABLE [Select] ADD COLUMN [Where] TEXT(10) NOT NULL DEFAULT 'x'"), 0);
  EXPECT_EQ(run(u"ALTER TABLE [Select] ADD COLUMN Code TEXT(10) CONSTRAINT uqCode UNIQUE"), 0);
  EXPECT_EQ(run(u"ALTER TABLE [Select] ADD COLUMN GroupID LONG CONSTRAINT fkGroup REFERENCES [Group] (ID)"), 0);
  EXPECT_EQ(problems(), "");
  refused(u"ALTER TABLE [Select] ADD COLUMN K LONG CONSTRAINT pk2 PRIMARY KEY", 3283);
  refused(u"ALTER TABLE [Group] ADD COLUMN K LONG NOT NULL REFERENCES Nowhere", 3371);
  refused(u"ALTER TABLE [Select] ADD COLUMN Code2 TEXT(10) CONSTRAINT uqCode UNIQUE", 3375);
  {
    auto db = Database::open(path_);
    auto t = db->table(u"Select");
    const storage::ObjectProperties props = storage::readTableProperties(*db, t->tdefPage);
    ASSERT_NE(props.column(u"Where"), nullptr);
    EXPECT_NE(props.column(u"Where")->find(u"Required"), nullptr);
    EXPECT_NE(props.column(u"Where")->find(u"DefaultValue"), nullptr);
    bool unique = false, foreign = false;
    for (const auto& ix : t->indexes) {
      unique = unique || (ix.name == u"uqCode" && ix.unique);
      foreign = foreign || (ix.name == u"fkGroup" && ix.foreignKey);
    }
    EXPECT_TRUE(unique);
    EXPECT_TRUE(foreign);
  }
  EXPECT_EQ(run(u"INSERT INTO [Select] (Name, Code, GroupID) VALUES ('new', 'N', 1)"), 1);
  refused(u"INSERT INTO [Select] (Name, Code) VALUES ('dup', 'N')", 3022);
  refused(u"INSERT INTO [Select] (Name, GroupID) VALUES ('lost', 7)", 3201);
  refused(u"INSERT INTO [Select] (Name, [Where]) VALUES ('none', Null)", 3314);
  refused(u"DELETE FROM [Group]", 3200);
  const std::string rows = exported("Select");
  EXPECT_NE(rows.find("1,\"old\",,,\n"), std::string::npos) << rows;
  EXPECT_NE(rows.find("2,\"new\",\"x\",\"N\",1\n"), std::string::npos) << rows;
  const std::string rels = exported("MSysRelationships");
  EXPECT_NE(rels.find("\"fkGroup\",0,1,0,\"Select\",\"GroupID\",\"Group\",\"ID\""), std::string::npos) << rels;
  // A primary key over rows that all read Null is refused.
  run(u"CREATE TABLE Plain (A LONG)");
  run(u"INSERT INTO Plain VALUES (1)");
  refused(u"ALTER TABLE Plain ADD COLUMN K LONG CONSTRAINT pk2 PRIMARY KEY", 3058);

  // A dropped column's properties go with it: a new column of the same name starts plain.
  EXPECT_EQ(run(u"ALTER TABLE [Select] DROP COLUMN [Where]"), 0);
  EXPECT_EQ(run(u"ALTER TABLE [Select] ADD COLUMN [Where] TEXT(10)"), 0);
  EXPECT_EQ(run(u"INSERT INTO [Select] (Name) VALUES ('free')"), 1);
  EXPECT_EQ(problems(), "");
}

TEST_P(DdlAlterTest, AddedAutoNumberColumnNumbersTheRowsAlreadyThere) {
  run(u"CREATE TABLE T (A TEXT(5), B MEMO)");
  run(u"INSERT INTO T VALUES ('x', 'long note')");
  run(u"INSERT INTO T VALUES ('y', Null)");
  EXPECT_EQ(run(u"ALTER TABLE T ADD COLUMN N COUNTER CONSTRAINT pk PRIMARY KEY"), 0);
  EXPECT_EQ(run(u"INSERT INTO T (A) VALUES ('z')"), 1);
  EXPECT_EQ(exported("T"), "A,B,N\n\"x\",\"long note\",1\n\"y\",,2\n\"z\",,3\n");
  EXPECT_EQ(problems(), "");
}

TEST_P(DdlAlterTest, TableReferencingItselfIsRecordedAndEnforced) {
  EXPECT_EQ(run(u"CREATE TABLE Employees (ID COUNTER PRIMARY KEY, Name TEXT(50), "
                u"ManagerID LONG CONSTRAINT Reports REFERENCES Employees (ID))"),
            0);
  EXPECT_EQ(problems(), "");
  {
    auto db = Database::open(path_);
    auto t = db->table(u"Employees");
    const storage::IndexDef *fk = nullptr, *back = nullptr;
    for (const auto& ix : t->indexes) {
      if (ix.foreignKey && ix.fkSide == 2) fk = &ix;
      if (ix.foreignKey && ix.fkSide == 1) back = &ix;
    }
    ASSERT_NE(fk, nullptr);
    ASSERT_NE(back, nullptr);
    // Both ends live in the one table and name each other.
    EXPECT_EQ(fk->fkOtherTable, t->tdefPage);
    EXPECT_EQ(back->fkOtherTable, t->tdefPage);
    EXPECT_EQ(fk->fkOtherIndex, back->indexNumber);
    EXPECT_EQ(back->fkOtherIndex, fk->indexNumber);
  }
  const std::string rels = exported("MSysRelationships");
  EXPECT_NE(rels.find("\"Reports\",0,1,0,\"Employees\",\"ManagerID\",\"Employees\",\"ID\""), std::string::npos)
      << rels;
  EXPECT_EQ(run(u"INSERT INTO Employees (Name) VALUES ('boss')"), 1);
  EXPECT_EQ(run(u"INSERT INTO Employees (Name, ManagerID) VALUES ('worker', 1)"), 1);
  refused(u"INSERT INTO Employees (Name, ManagerID) VALUES ('orphan', 99)", 3201);
  refused(u"DELETE FROM Employees WHERE ID = 1", 3200);
  refused(u"UPDATE Employees SET ManagerID = 5 WHERE ID = 2", 3201);
  refused(u"ALTER TABLE Employees ALTER COLUMN ManagerID TEXT(10)", 3303);
  // A row that is its own manager: its key cannot change under its reference without a
  // cascade, unless the statement moves both.
  run(u"CREATE TABLE Still (ID LONG PRIMARY KEY, Up LONG, CONSTRAINT su FOREIGN KEY (Up) REFERENCES Still (ID))");
  run(u"INSERT INTO Still VALUES (7, 7)");
  refused(u"UPDATE Still SET ID = 70 WHERE ID = 7", 3200);
  EXPECT_EQ(run(u"UPDATE Still SET ID = 70, Up = 70 WHERE ID = 7"), 1);
  run(u"CREATE TABLE Chain (ID LONG PRIMARY KEY, Up LONG, CONSTRAINT cu FOREIGN KEY (Up) REFERENCES Chain (ID) "
      u"ON UPDATE CASCADE)");
  run(u"INSERT INTO Chain VALUES (1, 1)");
  run(u"INSERT INTO Chain VALUES (2, 1)");
  EXPECT_EQ(run(u"UPDATE Chain SET ID = 10 WHERE ID = 1"), 1);  // its own reference follows
  EXPECT_EQ(exported("Chain"), "ID,Up\n10,10\n2,10\n");
  EXPECT_EQ(run(u"DELETE FROM Employees WHERE ID = 2"), 1);
  EXPECT_EQ(run(u"DELETE FROM Employees WHERE ID = 1"), 1);
  EXPECT_EQ(problems(), "");

  // Added to a table that holds rows: every row must find its manager first.
  run(u"CREATE TABLE Staff (ID LONG PRIMARY KEY, Boss LONG)");
  run(u"INSERT INTO Staff VALUES (1, Null)");
  run(u"INSERT INTO Staff VALUES (2, 3)");
  refused(u"ALTER TABLE Staff ADD CONSTRAINT sb FOREIGN KEY (Boss) REFERENCES Staff (ID) ON DELETE CASCADE", 3201);
  run(u"INSERT INTO Staff VALUES (3, 1)");
  EXPECT_EQ(run(u"ALTER TABLE Staff ADD CONSTRAINT sb FOREIGN KEY (Boss) REFERENCES Staff (ID) ON DELETE CASCADE"), 0);
  EXPECT_EQ(run(u"DELETE FROM Staff WHERE ID = 1"), 1);  // the cascade takes 3, then 2
  EXPECT_EQ(exported("Staff"), "ID,Boss\n");
  EXPECT_EQ(problems(), "");
}

TEST_P(DdlAlterTest, RelationshipErrorsTakeJetNumbers) {
  run(u"CREATE TABLE NoKey (A LONG, B LONG)");
  run(u"CREATE TABLE Keyed (A LONG PRIMARY KEY, B LONG)");
  refused(u"CREATE TABLE R1 (X LONG REFERENCES NoKey)", 3373);          // no primary key to take
  refused(u"CREATE TABLE R1 (X LONG REFERENCES NoKey (A))", 3609);      // no unique index on A
  refused(u"CREATE TABLE R1 (X LONG, Y LONG, CONSTRAINT f FOREIGN KEY (X, Y) REFERENCES Keyed (A))", 3368);
  refused(u"CREATE TABLE R1 (X LONG REFERENCES Keyed (Nope))", 3265);
}

// A private copy of an Access-made file (Jet 4 or Jet 3) with Table1 in it: statements run
// with fail-on-error, and mdbtools commands read Table1 back.
class AccessCopy {
 public:
  explicit AccessCopy(const std::string& src) : copy_(src) {}
  int64_t run(const std::u16string& sql) {
    auto db = Database::open(copy_.path(), OpenMode::ReadWrite);
    ActionOptions o;
    o.failOnError = true;
    return executeAction(*db, parseStatement(sql), {}, o);
  }
  std::string table1(const std::string& tool) {
    int status = 0;
    const std::string out = test::runCommand(tool + " " + test::shellQuote(copy_.path()) + " Table1 2>&1", &status);
    EXPECT_EQ(status, 0) << out;
    return out;
  }
  std::vector<uint8_t> bytes() const { return copy_.read(); }
  bool checks() const { return storage::checkDatabase(*Database::open(copy_.path())).problems.empty(); }

 private:
  test::TempCopy copy_;
};

const char* const kAccessFiles[] = {"jet4/testV2003.mdb", "jet3/testV1997.mdb"};

// On Access-made files the table's property list holds kinds of properties our DDL never
// writes (column widths, formats, GUIDs): changing one column's properties keeps them all.
TEST(DdlOnAccessFiles, ColumnPropertiesKeepEveryOtherProperty) {
  for (const char* name : kAccessFiles) {
    SCOPED_TRACE(name);
    const std::string src = test::fixturesDir() + "/" + name;
    if (!std::filesystem::exists(src)) GTEST_SKIP() << "fixture absent: " << src;
    AccessCopy f(src);
    const std::string before = f.table1("mdb-prop");
    ASSERT_GT(before.size(), 200u);
    EXPECT_EQ(f.run(u"ALTER TABLE Table1 ADD COLUMN Extra TEXT(10) NOT NULL DEFAULT 'q'"), 0);
    EXPECT_EQ(f.table1("mdb-prop"), before + "name: Extra\n\tDefaultValue: 'q'\n\tRequired: yes\n\n");
    EXPECT_EQ(f.run(u"ALTER TABLE Table1 DROP COLUMN Extra"), 0);
    EXPECT_EQ(f.table1("mdb-prop"), before);
    EXPECT_TRUE(f.checks());
  }
}

// ALTER COLUMN on Access-made tables (a primary key and an index on other columns): whole
// numbers widened read back the same; a column that turns from fixed to variable moves to
// the end of the column list, as an added column would.
TEST(DdlOnAccessFiles, AlterColumnKeepsEveryRowOfAnAccessTable) {
  for (const char* name : kAccessFiles) {
    SCOPED_TRACE(name);
    const std::string src = test::fixturesDir() + "/" + name;
    if (!std::filesystem::exists(src)) GTEST_SKIP() << "fixture absent: " << src;
    AccessCopy f(src);
    const std::string before = f.table1("mdb-export");
    ASSERT_EQ(before.rfind("A,B,C,D,E,F,G,H,I\n", 0), 0u) << before;
    EXPECT_EQ(f.run(u"ALTER TABLE Table1 ALTER COLUMN C LONG"), 0);
    EXPECT_EQ(f.run(u"ALTER TABLE Table1 ALTER COLUMN D LONG"), 0);
    EXPECT_EQ(f.table1("mdb-export"), before);
    EXPECT_EQ(f.run(u"ALTER TABLE Table1 ALTER COLUMN E TEXT(20)"), 0);
    EXPECT_EQ(f.table1("mdb-export").rfind("A,B,C,D,F,G,H,I,E\n", 0), 0u);
    const std::vector<uint8_t> bytes = f.bytes();
    EXPECT_EQ(test::jetErrorOf([&] { f.run(u"ALTER TABLE Table1 ALTER COLUMN B TEXT(200)"); }), 3280);
    EXPECT_EQ(f.bytes(), bytes);
    EXPECT_TRUE(f.checks());
  }
}

INSTANTIATE_TEST_SUITE_P(Versions, DdlAlterTest, ::testing::Values(JetVersion::Jet4, JetVersion::Jet3),
                         jetVersionName);

}  // namespace
}  // namespace bv::sql
