// Header facts, the catalog, table definitions (checked against mdb-schema for every
// fixture) and positioned reads.
#include <gtest/gtest.h>

#include <regex>
#include <sstream>

#include "engine/storage/database.h"
#include "tests/engine/storage/storage_test_util.h"

namespace bv::test {
namespace {

using bv::ColType;
using storage::Database;
using storage::ObjectKind;

TEST(Header, VersionPageSizeCodePageAndSortOrder) {
  auto j3 = Database::open(fixturesDir() + "/jet3/testV1997.mdb");
  EXPECT_EQ(j3->version(), storage::JetVersion::Jet3);
  EXPECT_EQ(j3->pageSize(), 2048u);
  EXPECT_EQ(j3->codePage(), 1252);
  EXPECT_EQ(j3->sortOrder(), 1033);
  EXPECT_FALSE(j3->hasPassword());
  auto j4 = Database::open(fixturesDir() + "/jet4/testV2003.mdb");
  EXPECT_EQ(j4->version(), storage::JetVersion::Jet4);
  EXPECT_EQ(j4->pageSize(), 4096u);
  EXPECT_EQ(j4->codePage(), 1252);
  EXPECT_EQ(j4->sortOrder(), 1033);
  EXPECT_EQ(j4->sortVersion(), 0);
  // Created with Access 2003: a date between 2003 and 2030.
  EXPECT_GT(j4->creationDate(), 37622.0);
  EXPECT_LT(j4->creationDate(), 47484.0);
  EXPECT_EQ(j4->pageCount() * 4096ull, std::filesystem::file_size(fixturesDir() + "/jet4/testV2003.mdb"));
}

TEST(Catalog, KindsAndCaseInsensitiveLookup) {
  auto db = Database::open(fixturesDir() + "/jet4/queryTestV2000.mdb");
  size_t queries = 0, system = 0;
  for (const auto& e : db->catalog()) {
    if (e.kind == ObjectKind::Query) ++queries;
    if (e.kind == ObjectKind::SystemTable) ++system;
  }
  EXPECT_GE(queries, 5u);
  EXPECT_GE(system, 4u);
  const auto* sys = db->findObject(u"msysobjects");
  ASSERT_NE(sys, nullptr);
  EXPECT_EQ(sys->kind, ObjectKind::SystemTable);
  EXPECT_EQ(sys->tdefPage(), 2u);
  const auto* t1 = db->findObject(u"TABLE1");
  ASSERT_NE(t1, nullptr);
  EXPECT_EQ(t1->name, u"Table1");
  EXPECT_EQ(t1->kind, ObjectKind::UserTable);
  EXPECT_EQ(db->table(u"table1")->name, u"Table1");
  EXPECT_EQ(db->table(u"table1").get(), db->table(u"Table1").get()) << "definitions are cached";

  for (const auto& e : db->catalog()) {
    if (e.kind != ObjectKind::Query) continue;
    try {
      db->table(e.name);
      ADD_FAILURE() << "a query opened as a table";
    } catch (const JetError& err) {
      EXPECT_EQ(err.number(), 3078);
    }
    break;
  }
  try {
    db->table(u"NoSuchTable");
    ADD_FAILURE() << "unknown table opened";
  } catch (const JetError& err) {
    EXPECT_EQ(err.number(), 3078);
    EXPECT_NE(std::string(err.what()).find("NoSuchTable"), std::string::npos);
  }
}

// mdb-schema's type name for a column.
std::string mdbTypeName(const storage::ColumnDef& c, bool jet4) {
  switch (c.type) {
    case ColType::Bool: return "Boolean";
    case ColType::Byte: return "Byte";
    case ColType::Integer: return "Integer";
    case ColType::Long: return "Long Integer";
    case ColType::Currency: return "Currency";
    case ColType::Single: return "Single";
    case ColType::Double: return "Double";
    case ColType::DateTime: return "DateTime";
    case ColType::Binary: return "Binary";
    case ColType::Text: return "Text (" + std::to_string(jet4 ? c.length / 2 : c.length) + ")";
    case ColType::OLE: return "OLE";
    case ColType::Memo: return "Memo/Hyperlink";
    case ColType::Guid: return "Replication ID";
    case ColType::Decimal: return "Numeric (" + std::to_string(c.precision) + ", " + std::to_string(c.scale) + ")";
    default: return "?";
  }
}

// Column names and types of every user table, against mdb-schema's.
TEST(TableDefs, ColumnsMatchMdbSchemaInEveryFixture) {
  std::vector<std::string> files = fixtureFiles("jet3");
  for (const auto& f : fixtureFiles("jet4")) files.push_back(f);
  for (const auto& f : fixtureFiles("generated")) files.push_back(f);
  size_t columns = 0, multiPage = 0;
  const std::regex table(R"(^CREATE TABLE \[(.*)\]$)"), column(R"(^\t\[(.*)\]\t+(.*?)(?: NOT NULL)?,? ?$)");
  for (const auto& path : files) {
    SCOPED_TRACE(path);
    auto db = Database::open(path);
    std::map<std::string, std::vector<std::pair<std::string, std::string>>> theirs;
    std::istringstream in(runCommand("mdb-schema " + shellQuote(path) + " 2>/dev/null"));
    std::string current;
    for (std::string line; std::getline(in, line);) {
      std::smatch m;
      if (std::regex_match(line, m, table)) current = m[1];
      else if (!current.empty() && std::regex_match(line, m, column)) {
        std::string type = m[2];
        if (type.rfind("OLE", 0) == 0 || type.rfind("Memo/Hyperlink", 0) == 0) type = type.substr(0, type.find(" ("));
        theirs[current].emplace_back(m[1], type);
      }
    }
    EXPECT_EQ(theirs.size(), db->userTableNames().size());
    for (const auto& name : db->userTableNames()) {
      auto def = db->table(name);
      if (def->tdefPages.size() > 1) ++multiPage;
      const auto& expected = theirs[storage::toUtf8(name)];
      ASSERT_EQ(def->columns.size(), expected.size()) << storage::toUtf8(name);
      for (size_t i = 0; i < expected.size(); ++i) {
        EXPECT_EQ(storage::toUtf8(def->columns[i].name), expected[i].first);
        EXPECT_EQ(mdbTypeName(def->columns[i], db->isJet4()), expected[i].second)
            << storage::toUtf8(name) << "." << expected[i].first;
        if (i) EXPECT_LT(def->columns[i - 1].number, def->columns[i].number);
        ++columns;
      }
    }
  }
  EXPECT_GE(columns, 898u);
  EXPECT_GE(multiPage, 1u) << "no table definition spanning pages was read";
}

TEST(TableDefs, IndexesOfTheGeneratedFile) {
  const std::string path = fixturesDir() + "/generated/big_jet4.mdb";
  if (!std::filesystem::exists(path)) GTEST_SKIP();
  auto db = Database::open(path);
  auto customers = db->table(u"Customers");
  ASSERT_EQ(customers->indexes.size(), 2u);
  const auto& pk = customers->indexes[0];
  EXPECT_EQ(pk.name, u"PrimaryKey");
  EXPECT_TRUE(pk.primaryKey && pk.unique && pk.required);
  EXPECT_FALSE(pk.ignoreNulls || pk.foreignKey);
  ASSERT_EQ(pk.columns.size(), 1u);
  EXPECT_EQ(pk.columns[0].columnNumber, customers->columns[static_cast<size_t>(customers->findColumn(u"id"))].number);
  EXPECT_TRUE(pk.columns[0].ascending);
  const auto& name = customers->indexes[1];
  EXPECT_EQ(name.name, u"NameIdx");
  EXPECT_TRUE(name.unique);
  EXPECT_FALSE(name.primaryKey || name.required || name.ignoreNulls);
  EXPECT_NE(name.firstPage, 0u);
  auto orders = db->table(u"Orders");
  EXPECT_EQ(orders->rowCount, 200000u);
  EXPECT_EQ(orders->autoNumber, 200000u);
  EXPECT_TRUE(orders->columns[0].autoNumber);
  EXPECT_TRUE(orders->columns[static_cast<size_t>(orders->findColumn(u"Note"))].isLongValue());
  EXPECT_FALSE(orders->columns[static_cast<size_t>(orders->findColumn(u"Note"))].lvOwnedMap.isNull());
}

TEST(TableDefs, ForeignKeysPointAtEachOther) {
  for (const char* file : {"/jet4/indexTestV2000.mdb", "/jet3/indexTestV1997.mdb"}) {
    SCOPED_TRACE(file);
    auto db = Database::open(fixturesDir() + file);
    size_t fks = 0;
    for (const auto& name : db->userTableNames()) {
      auto t = db->table(name);
      for (const auto& ix : t->indexes) {
        if (!ix.foreignKey) continue;
        ++fks;
        std::shared_ptr<const storage::TableDef> other = db->tableAt(ix.fkOtherTable);
        bool partner = false;
        for (const auto& o : other->indexes)
          if (o.foreignKey && o.indexNumber == ix.fkOtherIndex && o.fkOtherTable == t->tdefPage &&
              o.fkOtherIndex == ix.indexNumber && o.fkSide != ix.fkSide)
            partner = true;
        EXPECT_TRUE(partner) << storage::toUtf8(ix.name);
      }
    }
    EXPECT_GE(fks, 2u);
  }
}

// seek() finds each row by the id a scan reported, moved rows included.
TEST(Cursor, SeekReturnsTheRowsTheScanReturned) {
  for (const char* file : {"/jet4/overflowTestV2000.mdb", "/jet3/overflowTestV1997.mdb", "/jet4/delTestV2003.mdb"}) {
    SCOPED_TRACE(file);
    auto db = Database::open(fixturesDir() + file);
    size_t seen = 0;
    for (const auto& name : db->userTableNames()) {
      auto t = db->table(name);
      std::vector<std::pair<storage::RowId, std::vector<Value>>> rows;
      auto scan = db->scan(t);
      while (scan.next()) {
        rows.emplace_back(scan.rowId(), std::vector<Value>());
        scan.readRow(rows.back().second);
      }
      seen += rows.size();
      auto cur = db->scan(t);
      std::vector<Value> again;
      for (const auto& [id, values] : rows) {
        ASSERT_TRUE(cur.seek(id));
        cur.readRow(again);
        EXPECT_EQ(again, values);
      }
      EXPECT_FALSE(cur.seek(storage::RowId{t->tdefPage, 0})) << "a definition page holds no rows";
    }
    EXPECT_GT(seen, 0u);
  }
}

}  // namespace
}  // namespace bv::test
