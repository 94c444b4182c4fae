// The brimvale command-line tool, run as a program.
#include <gtest/gtest.h>

#include <fstream>

#include "engine/storage/csv_export.h"
#include "engine/storage/database.h"
#include "tests/engine/storage/storage_test_util.h"

namespace bv::test {
namespace {

const std::string kDb = fixturesDir() + "/jet4/testV2000.mdb";

struct ToolRun {
  int status = 0;
  std::string out, err;
};

ToolRun tool(const std::string& args) {
  TempCopy errFile("");
  ToolRun r;
  r.out = runCommand(std::string(BV_TOOL) + " " + args + " 2>" + shellQuote(errFile.dir() + "/err"), &r.status);
  r.err = runCommand("cat " + shellQuote(errFile.dir() + "/err"));
  return r;
}

TEST(Tool, HelpForTheToolAndEachCommand) {
  ToolRun r = tool("--help");
  EXPECT_EQ(r.status, 0);
  for (const char* c : {"tables", "schema", "export"}) EXPECT_NE(r.out.find(c), std::string::npos) << c;
  r = tool("export --help");
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out.rfind("usage: brimvale export", 0), 0u) << r.out;
  r = tool("tables -h");
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out.rfind("usage: brimvale tables", 0), 0u);
}

TEST(Tool, UsageErrorsExitWithTwo) {
  EXPECT_EQ(tool("").status, 2);
  EXPECT_EQ(tool("frobnicate x").status, 2);
  ToolRun r = tool("export " + shellQuote(kDb));
  EXPECT_EQ(r.status, 2);
  EXPECT_NE(r.err.find("usage: brimvale export"), std::string::npos);
}

TEST(Tool, EngineErrorsNameTheirNumber) {
  ToolRun r = tool("export " + shellQuote(kDb) + " NoSuchTable");
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find("error 3078"), std::string::npos) << r.err;
  EXPECT_TRUE(r.out.empty());
  r = tool("tables /nonexistent/x.mdb");
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find("error 3024"), std::string::npos) << r.err;
}

TEST(Tool, TablesAndExportMatchTheLibrary) {
  auto db = storage::Database::open(kDb);
  std::string expected;
  for (const auto& n : db->userTableNames()) expected += storage::toUtf8(n) + "\n";
  ToolRun r = tool("tables " + shellQuote(kDb));
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out, expected);
  for (const auto& n : db->userTableNames()) {
    std::string csv;
    storage::exportCsv(*db, *db->table(n), [&](const char* p, size_t len) {
      csv.append(p, len);
      return true;
    });
    r = tool("export " + shellQuote(kDb) + " " + shellQuote(storage::toUtf8(n)));
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, csv);
  }
  // Table names match case-insensitively.
  EXPECT_EQ(tool("export " + shellQuote(kDb) + " TABLE1").out.substr(0, 18), "A,B,C,D,E,F,G,H,I\n");
}

TEST(Tool, SchemaShowsColumnsAndIndexes) {
  ToolRun r = tool("schema " + shellQuote(fixturesDir() + "/jet4/indexTestV2000.mdb") + " Table1");
  EXPECT_EQ(r.status, 0);
  EXPECT_NE(r.out.find("CREATE TABLE [Table1] (\n  [id] LONG,"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("CREATE INDEX [PrimaryKey] ON [Table1] ([id] ASC) WITH PRIMARY;"), std::string::npos);
  EXPECT_NE(r.out.find("-- relationship [Table2Table1] on ([otherfk1] ASC) with [Table2]"), std::string::npos);
}

// A statement given as "-" comes from standard input, so that one longer than a command
// line can hold (here a 300 KB IN list) still runs, for query and for run.
TEST(Tool, StatementFromStandardInput) {
  TempCopy copy(kDb);
  std::string in = "SELECT COUNT(*) FROM Table1 WHERE A IN ('abcdefg'";
  for (int i = 0; i < 40000; ++i) in += ", 'value" + std::to_string(i) + "'";
  in += ")";
  const std::string file = copy.dir() + "/statement.sql";
  { std::ofstream(file) << in; }
  ToolRun r = tool("query " + shellQuote(copy.path()) + " - < " + shellQuote(file));
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, "Expr1000\n1\n");
  { std::ofstream(file) << "DELETE FROM Table1 WHERE A = 'abcdefg'"; }
  r = tool("run " + shellQuote(copy.path()) + " - < " + shellQuote(file));
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, "1 records deleted.\n");
}

TEST(Tool, PasswordOption) {
  TempCopy f(kDb);
  setPassword(f, storage::JetVersion::Jet4, u"pässword");
  ToolRun r = tool("tables " + shellQuote(f.path()));
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find("error 3031"), std::string::npos);
  r = tool("tables " + shellQuote(f.path()) + " --password=pässword");
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out.substr(0, 7), "Table1\n");
}

}  // namespace
}  // namespace bv::test
