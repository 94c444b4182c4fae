// `brimvale run` against sqlite3: the same statements on the same rows (an export of the
// table), the table read back afterwards with mdb-export (an independent reader), the
// program's message checked against sqlite3's count of changes, and `check` clean.
#include <gtest/gtest.h>

#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "tests/engine/storage/storage_test_util.h"

namespace {

namespace fs = std::filesystem;

std::string sh(const std::string& cmd, int* status = nullptr) { return bv::test::runCommand(cmd, status); }
std::string q(const std::string& s) { return bv::test::shellQuote(s); }

fs::path tool() { return fs::read_symlink("/proc/self/exe").parent_path() / "brimvale"; }

// CSV lines without the header, quotes dropped (the table's text holds no commas or
// quotes), sorted: both readers list rows in an order of their own.
std::vector<std::string> rowsOf(const std::string& csv) {
  std::vector<std::string> rows;
  size_t start = csv.find('\n');
  while (start != std::string::npos && start + 1 < csv.size()) {
    const size_t end = csv.find('\n', start + 1);
    std::string line = csv.substr(start + 1, end == std::string::npos ? std::string::npos : end - start - 1);
    line.erase(std::remove(line.begin(), line.end(), '"'), line.end());
    if (!line.empty() && line.back() == '\r') line.pop_back();
    rows.push_back(line);
    start = end;
  }
  std::sort(rows.begin(), rows.end());
  return rows;
}

struct Step {
  const char* jet;
  const char* sqlite;
};

// Table1 of compIndexTest*: CD_AGENTE Long (descending index), RS_AGENTE and DC_AGENTE
// Text(55); 512 rows.
const Step kSteps[] = {
    {"UPDATE Table1 SET RS_AGENTE = 'x' & CD_AGENTE WHERE CD_AGENTE < 400",
     "UPDATE Table1 SET RS_AGENTE = 'x' || CD_AGENTE WHERE CD_AGENTE < 400"},
    {"UPDATE Table1 SET CD_AGENTE = CD_AGENTE + 1000000, DC_AGENTE = DC_AGENTE & RS_AGENTE WHERE CD_AGENTE MOD 3 = 0",
     "UPDATE Table1 SET CD_AGENTE = CD_AGENTE + 1000000, DC_AGENTE = DC_AGENTE || RS_AGENTE WHERE CD_AGENTE % 3 = 0"},
    {"DELETE FROM Table1 WHERE CD_AGENTE > 2000 AND CD_AGENTE < 3000",
     "DELETE FROM Table1 WHERE CD_AGENTE > 2000 AND CD_AGENTE < 3000"},
    {"INSERT INTO Table1 VALUES (5, 'five', 'cinq')", "INSERT INTO Table1 VALUES (5, 'five', 'cinq')"},
    {"INSERT INTO Table1 (CD_AGENTE, RS_AGENTE) SELECT CD_AGENTE + 7, 'copy' FROM Table1 WHERE CD_AGENTE < 600",
     "INSERT INTO Table1 (CD_AGENTE, RS_AGENTE) SELECT CD_AGENTE + 7, 'copy' FROM Table1 WHERE CD_AGENTE < 600"},
    {"delete FROM Table1 WHERE DC_AGENTE IS NULL AND CD_AGENTE > 300",
     "DELETE FROM Table1 WHERE DC_AGENTE IS NULL AND CD_AGENTE > 300"},
    {"UPDATE Table1 SET RS_AGENTE = UCase(RS_AGENTE), DC_AGENTE = Left(RS_AGENTE, 2) WHERE CD_AGENTE BETWEEN 100 AND 900",
     "UPDATE Table1 SET RS_AGENTE = upper(RS_AGENTE), DC_AGENTE = substr(RS_AGENTE, 1, 2) WHERE CD_AGENTE BETWEEN 100 AND 900"},
    {"DELETE FROM Table1 WHERE CD_AGENTE IN (SELECT CD_AGENTE + 8 FROM Table1 WHERE CD_AGENTE < 2000)",
     "DELETE FROM Table1 WHERE CD_AGENTE IN (SELECT CD_AGENTE + 8 FROM Table1 WHERE CD_AGENTE < 2000)"},
    {"UPDATE Table1 SET CD_AGENTE = -CD_AGENTE WHERE CD_AGENTE > 3500 AND RS_AGENTE = 'abc'",
     "UPDATE Table1 SET CD_AGENTE = -CD_AGENTE WHERE CD_AGENTE > 3500 AND RS_AGENTE = 'abc'"},
    {"UPDATE Table1 SET DC_AGENTE = 'none' WHERE CD_AGENTE = 123456789",
     "UPDATE Table1 SET DC_AGENTE = 'none' WHERE CD_AGENTE = 123456789"},
    {"INSERT INTO Table1 (CD_AGENTE, DC_AGENTE) SELECT TOP 20 CD_AGENTE * 2, 'top' FROM Table1 ORDER BY CD_AGENTE",
     "INSERT INTO Table1 (CD_AGENTE, DC_AGENTE) SELECT CD_AGENTE * 2, 'top' FROM Table1 ORDER BY CD_AGENTE LIMIT 20"},
    {"DELETE * FROM Table1 WHERE CD_AGENTE < 0 OR RS_AGENTE LIKE 'X1*'",
     "DELETE FROM Table1 WHERE CD_AGENTE < 0 OR RS_AGENTE LIKE 'X1%'"},
};

class RunDifferential : public ::testing::TestWithParam<const char*> {};

TEST_P(RunDifferential, SameRowsAndCountsAsSqlite) {
  const std::string src = std::string(BV_FIXTURES_DIR) + "/" + GetParam();
  if (!fs::exists(src)) GTEST_SKIP() << "fixture absent: " << src;
  int st = 0;
  sh("sqlite3 -version && mdb-export --version", &st);
  if (st != 0) GTEST_SKIP() << "sqlite3 or mdb-export missing";
  char tmpl[] = "/tmp/bv_diff_XXXXXX";
  const fs::path dir = mkdtemp(tmpl);
  const std::string mdb = (dir / "db.mdb").string(), lite = (dir / "ref.sqlite").string();
  fs::copy_file(src, mdb);
  fs::permissions(mdb, fs::perms::owner_write, fs::perm_options::add);
  const std::string csv = (dir / "t.csv").string();
  sh("mdb-export " + q(mdb) + " Table1 > " + q(csv));
  sh("sqlite3 " + q(lite) + " " +
         q("CREATE TABLE Table1 (CD_AGENTE INTEGER, RS_AGENTE TEXT, DC_AGENTE TEXT);") + " " +
         q(".import --csv --skip 1 " + csv + " Table1") + " " +
         // The CSV import reads an empty field as empty text; the export wrote Null so.
         q("UPDATE Table1 SET CD_AGENTE = NULL WHERE CD_AGENTE = '';"
           "UPDATE Table1 SET RS_AGENTE = NULL WHERE RS_AGENTE = '';"
           "UPDATE Table1 SET DC_AGENTE = NULL WHERE DC_AGENTE = '';"),
     &st);
  ASSERT_EQ(st, 0);
  ASSERT_EQ(rowsOf(sh("mdb-export " + q(mdb) + " Table1")).size(), 512u);
  for (const Step& s : kSteps) {
    const std::string count =
        sh("sqlite3 " + q(lite) + " " + q(std::string(s.sqlite) + "; SELECT changes();"), &st);
    ASSERT_EQ(st, 0) << s.sqlite;
    const bool del = std::string(s.jet).substr(0, 6) == "DELETE" || std::string(s.jet).substr(0, 6) == "delete";
    const std::string expected = std::to_string(std::stol(count)) + (del ? " records deleted.\n" : " records updated.\n");
    EXPECT_EQ(sh(q(tool().string()) + " run " + q(mdb) + " " + q(s.jet) + " 2>&1", &st), expected) << s.jet;
    const auto ours = rowsOf(sh("mdb-export " + q(mdb) + " Table1"));
    const auto theirs = rowsOf("header\n" + sh("sqlite3 -csv " + q(lite) + " 'SELECT * FROM Table1'"));
    EXPECT_EQ(ours.size(), theirs.size()) << s.jet;
    EXPECT_TRUE(ours == theirs) << "rows differ after: " << s.jet;
  }
  EXPECT_EQ(sh(q(tool().string()) + " check " + q(mdb), &st).substr(0, 3), "OK:");
  EXPECT_EQ(st, 0);
  EXPECT_FALSE(fs::exists(dir / "db.ldb"));
  fs::remove_all(dir);
}

INSTANTIATE_TEST_SUITE_P(Fixtures, RunDifferential,
                         ::testing::Values("jet3/compIndexTestV1997.mdb", "jet4/compIndexTestV2000.mdb"),
                         [](const auto& info) { return std::string(info.index == 0 ? "Jet3" : "Jet4"); });

}  // namespace
