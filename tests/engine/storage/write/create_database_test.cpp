// New databases made by createDatabase: our reader and checker accept them, mdbtools reads
// them as Jet files of the right version with the system tables and rows a new file has,
// the bytes depend only on the options, and nothing existing is ever replaced.
#include <gtest/gtest.h>

#include <filesystem>

#include "engine/storage/check.h"
#include "engine/storage/create_database.h"
#include "engine/storage/error.h"
#include "tests/engine/storage/storage_test_util.h"

namespace bv::storage {
namespace {

constexpr double kCreated = 45000.5;  // 2023-03-15 12:00

bool haveMdbTools() {
  int status = 0;
  test::runCommand("command -v mdb-export >/dev/null 2>&1", &status);
  return status == 0;
}

class CreateDatabaseTest : public ::testing::TestWithParam<JetVersion> {
 protected:
  bool jet4() const { return GetParam() == JetVersion::Jet4; }
  std::string make(const std::string& name = "new.mdb") {
    const std::string p = dir_.dir() + "/" + name;
    CreateOptions o;
    o.created = kCreated;
    createDatabase(p, GetParam(), o);
    return p;
  }
  test::TempCopy dir_{""};
};

TEST_P(CreateDatabaseTest, OurReaderSeesAnEmptyDatabaseAndTheCheckerFindsNothing) {
  const std::string p = make();
  auto db = Database::open(p);
  EXPECT_EQ(db->version(), GetParam());
  EXPECT_EQ(db->pageSize(), jet4() ? 4096u : 2048u);
  EXPECT_EQ(db->codePage(), 1252);
  EXPECT_EQ(db->sortOrder(), 1033);
  EXPECT_FALSE(db->hasPassword());
  if (jet4()) EXPECT_DOUBLE_EQ(db->creationDate(), kCreated);
  EXPECT_TRUE(db->userTableNames().empty());

  std::vector<std::u16string> system;
  for (const CatalogEntry& e : db->catalog())
    if (e.kind == ObjectKind::SystemTable) system.push_back(e.name);
  EXPECT_EQ(system, (std::vector<std::u16string>{u"MSysObjects", u"MSysACEs", u"MSysQueries",
                                                 u"MSysRelationships"}));
  const CatalogEntry* tables = db->findObject(u"Tables");
  ASSERT_NE(tables, nullptr);
  EXPECT_EQ(tables->id, 0x0F000001);
  const CatalogEntry* msysdb = db->findObject(u"MSysDb");
  ASSERT_NE(msysdb, nullptr);
  EXPECT_EQ(msysdb->parentId, 0x0F000002);

  const CheckReport r = checkDatabase(*db);
  EXPECT_TRUE(r.problems.empty()) << r.problems.front();
  EXPECT_EQ(r.tables, 4u);
  EXPECT_EQ(r.rows, 24u);  // 8 catalog rows, 16 access-control entries
  EXPECT_EQ(r.indexes, 7u);

  // The catalog's primary key and the access-control index name every row.
  auto objects = db->table(u"MSysObjects");
  EXPECT_EQ(objects->rowCount, 8u);
  ASSERT_EQ(objects->indexes.size(), 2u);
  EXPECT_EQ(db->table(u"MSysACEs")->rowCount, 16u);
}

TEST_P(CreateDatabaseTest, MdbToolsReadTheVersionTablesAndRows) {
  if (!haveMdbTools()) GTEST_SKIP() << "mdbtools is not installed";
  const std::string p = make();
  const std::string q = test::shellQuote(p);
  EXPECT_EQ(test::runCommand("mdb-ver " + q), jet4() ? "JET4\n" : "JET3\n");
  EXPECT_EQ(test::runCommand("mdb-tables -S -1 " + q),
            "MSysObjects\nMSysACEs\nMSysQueries\nMSysRelationships\n");
  EXPECT_EQ(test::runCommand("mdb-tables -1 " + q), "");

  int status = 0;
  const auto objects = test::parseCsv(test::runCommand("mdb-export " + q + " MSysObjects", &status));
  EXPECT_EQ(status, 0);
  ASSERT_EQ(objects.size(), 9u);
  std::vector<std::string> names;
  for (size_t i = 1; i < objects.size(); ++i) names.push_back(objects[i][2].text);
  EXPECT_EQ(names, (std::vector<std::string>{"Tables", "Databases", "Relationships", "MSysDb", "MSysObjects",
                                             "MSysACEs", "MSysQueries", "MSysRelationships"}));
  EXPECT_EQ(objects[5][0].text, "2");  // a table's id is its definition page
  EXPECT_EQ(objects[5][3].text, "1");
  EXPECT_EQ(objects[5][7].text, "-2147483648");

  const auto aces = test::parseCsv(test::runCommand("mdb-export " + q + " MSysACEs", &status));
  EXPECT_EQ(status, 0);
  EXPECT_EQ(aces.size(), 17u);
  for (const char* t : {"MSysQueries", "MSysRelationships"}) {
    const auto rows = test::parseCsv(test::runCommand("mdb-export " + q + " " + t, &status));
    EXPECT_EQ(status, 0) << t;
    EXPECT_EQ(rows.size(), 1u) << t;  // the header line only
  }
  const std::string schema = test::runCommand("mdb-schema " + q, &status);
  EXPECT_EQ(status, 0);
}

TEST_P(CreateDatabaseTest, TheSameOptionsGiveTheSameBytes) {
  const std::string a = make("a.mdb"), b = make("b.mdb");
  test::TempCopy ra(a), rb(b);
  EXPECT_EQ(ra.read(), rb.read());
  EXPECT_EQ(ra.read().size() % (jet4() ? 4096 : 2048), 0u);
}

TEST_P(CreateDatabaseTest, AnExistingFileIsNeverReplaced) {
  const std::string p = dir_.dir() + "/taken.mdb";
  { std::ofstream(p) << "not a database"; }
  try {
    createDatabase(p, GetParam());
    FAIL() << "expected error 3204";
  } catch (const JetError& e) {
    EXPECT_EQ(e.number(), 3204);
  }
  std::ifstream in(p);
  std::string content((std::istreambuf_iterator<char>(in)), {});
  EXPECT_EQ(content, "not a database");
}

TEST_P(CreateDatabaseTest, UnsupportedOptionsAndBadFoldersLeaveNoFile) {
  const std::string p = dir_.dir() + "/greek.mdb";
  CreateOptions o;
  o.sortOrder = 1032;
  EXPECT_THROW(createDatabase(p, GetParam(), o), JetError);
  EXPECT_FALSE(std::filesystem::exists(p));
  try {
    createDatabase(dir_.dir() + "/no/such/folder.mdb", GetParam());
    FAIL() << "expected error 3044";
  } catch (const JetError& e) {
    EXPECT_EQ(e.number(), 3044);
  }
}

INSTANTIATE_TEST_SUITE_P(Versions, CreateDatabaseTest, ::testing::Values(JetVersion::Jet4, JetVersion::Jet3),
                         [](const auto& info) { return info.param == JetVersion::Jet4 ? "Jet4" : "Jet3"; });

}  // namespace
}  // namespace bv::storage
