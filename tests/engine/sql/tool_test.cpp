// The tool's `query` and `run --dry-run` commands, run as a user runs them: the `brimvale`
// program built beside this test program.
#include <gtest/gtest.h>

#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

namespace {

namespace fs = std::filesystem;

struct Outcome {
  int status = -1;
  std::string out;
};

fs::path tool() { return fs::read_symlink("/proc/self/exe").parent_path() / "brimvale"; }

std::string quote(const std::string& s) {
  std::string q = "'";
  for (char c : s) q += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return q + "'";
}

Outcome run(const std::string& args, bool withStderr = false) {
  Outcome o;
  std::string cmd = quote(tool().string()) + " " + args + (withStderr ? " 2>&1" : " 2>/dev/null");
  FILE* p = popen(cmd.c_str(), "r");
  if (!p) return o;
  char buf[65536];
  size_t n;
  while ((n = fread(buf, 1, sizeof buf, p)) > 0) o.out.append(buf, n);
  int rc = pclose(p);
  o.status = WIFEXITED(rc) ? WEXITSTATUS(rc) : -1;
  return o;
}

const std::string kBig = std::string(BV_FIXTURES_DIR) + "/generated/big_jet4.mdb";

class Tool : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(fs::exists(tool())) << "build the brimvale tool first: " << tool();
  }
};

TEST_F(Tool, QueryWritesTheExportFormat) {
  Outcome exported = run("export " + quote(kBig) + " Customers");
  Outcome queried = run("query " + quote(kBig) + " 'SELECT * FROM [Customers]'");
  ASSERT_EQ(exported.status, 0);
  ASSERT_EQ(queried.status, 0);
  EXPECT_GT(queried.out.size(), 1000u);
  EXPECT_EQ(queried.out, exported.out);
  Outcome q = run("query " + quote(kBig) +
                  " 'SELECT TOP 2 ID, Price, Shipped, Paid, Customer & \"!\" AS [a,b] FROM Orders "
                  "WHERE ID > [first] ORDER BY ID' --param first=2");
  EXPECT_EQ(q.status, 0);
  EXPECT_EQ(q.out,
            "ID,Price,Shipped,Paid,\"a,b\"\n"
            "3,9125.3400,2006-04-02 19:00:49,1,\"Dmitri Jónsdóttir!\"\n"
            "4,7170.4000,2011-07-06 00:00:00,0,\"Peter Öztürk!\"\n");
}

TEST_F(Tool, DryRunCountsAndLeavesTheFileAlone) {
  fs::path copy = fs::temp_directory_path() / ("bv_tool_test_" + std::to_string(::getpid()) + ".mdb");
  fs::copy_file(kBig, copy, fs::copy_options::overwrite_existing);
  auto bytes = [](const fs::path& p) {
    std::ifstream f(p, std::ios::binary);
    std::stringstream s;
    s << f.rdbuf();
    return s.str();
  };
  const std::string before = bytes(copy);
  Outcome del = run("run --dry-run " + quote(copy.string()) + " 'DELETE FROM Orders WHERE ID <= 1500'");
  EXPECT_EQ(del.status, 0);
  EXPECT_EQ(del.out, "1500 records would be affected\n");
  Outcome upd = run("run --dry-run " + quote(copy.string()) +
                    " 'UPDATE Customers SET City = \"Oslo\" WHERE ID = 7'");
  EXPECT_EQ(upd.out, "1 record would be affected\n");
  EXPECT_EQ(bytes(copy), before);
  fs::remove(copy);
}

TEST_F(Tool, FailuresGiveJetNumbersAndExitStatus) {
  auto expectError = [](const std::string& args, const char* number) {
    Outcome o = run(args, true);
    EXPECT_EQ(o.status, 1) << args;
    EXPECT_NE(o.out.find(std::string("error ") + number), std::string::npos) << o.out;
  };
  expectError("run --dry-run " + quote(kBig) + " 'SELECT * FROM Orders'", "3065");
  expectError("run --dry-run " + quote(kBig) + " 'DELETE FROM Orders WHERE Qty > Limit'", "3061");
  expectError("query " + quote(kBig) + " 'SELECT * FROM Nowhere'", "3078");
  expectError("query " + quote(kBig) + " 'DELETE FROM Orders'", "3065");
  expectError("query " + quote(kBig) + " 'SELECT * FROM Orders WHERE'", "3141");
  // The fixture is a read-only file: the real run refuses it whole.
  expectError("run " + quote(kBig) + " 'DELETE FROM Orders'", "3027");
  EXPECT_EQ(run("query " + quote(kBig)).status, 2);
}

}  // namespace

namespace {

TEST_F(Tool, ExplainPrintsHowEachTableIsRead) {
  if (!fs::exists(kBig)) GTEST_SKIP() << "fixture not found: " << kBig;
  Outcome o = run("query --explain " + quote(kBig) +
                  " 'SELECT TOP 3 o.ID FROM Orders o, Customers c WHERE o.Customer = c.Name AND c.ID = 7'");
  ASSERT_EQ(o.status, 0);
  EXPECT_NE(o.out.find("stops after TOP 3"), std::string::npos) << o.out;
  EXPECT_NE(o.out.find("o: reads the table"), std::string::npos) << o.out;
  EXPECT_NE(o.out.find("c: index PrimaryKey (c.ID = 7)"), std::string::npos) << o.out;
  o = run("query --explain " + quote(kBig) + " \"SELECT COUNT(*) FROM Orders WHERE Customer LIKE 'Ab*'\"");
  EXPECT_NE(o.out.find("Orders: index CustomerIdx (Customer LIKE 'Ab*')"), std::string::npos) << o.out;
  // The plan is printed, not the rows.
  EXPECT_EQ(o.out.find("Expr1000"), std::string::npos) << o.out;
}

const std::string kSmall = std::string(BV_FIXTURES_DIR) + "/jet4/testV2000.mdb";

std::string fileBytes(const fs::path& p) {
  std::ifstream f(p, std::ios::binary);
  std::stringstream s;
  s << f.rdbuf();
  return s.str();
}

// A writable copy of a fixture in a folder of its own (the .ldb appears beside it).
struct Copy {
  fs::path dir, file;
  explicit Copy(const std::string& src) {
    char tmpl[] = "/tmp/bv_run_XXXXXX";
    dir = mkdtemp(tmpl);
    file = dir / "db.mdb";
    fs::copy_file(src, file);
    fs::permissions(file, fs::perms::owner_write, fs::perm_options::add);
  }
  ~Copy() { fs::remove_all(dir); }
};

TEST_F(Tool, RunPrintsTheProgramsMessages) {
  if (!fs::exists(kSmall)) GTEST_SKIP() << "fixture absent: " << kSmall;
  Copy c(kSmall);
  const std::string db = quote(c.file.string());
  EXPECT_EQ(run("run " + db + " 'UPDATE Table1 SET E = E + 1'").out, "2 records updated.\n");
  EXPECT_EQ(run("run " + db + " 'UPDATE Table1 SET E = 0 WHERE A = \"none\"'").out, "0 records updated.\n");
  EXPECT_EQ(run("run " + db + " \"INSERT INTO Table1 (A) VALUES ('x')\"").out, "1 records updated.\n");
  EXPECT_EQ(run("run " + db + " \"INSERT INTO Table1 (A) VALUES ('y')\"").out, "1 records updated.\n");
  EXPECT_EQ(run("run " + db + " \"dElEtE FROM Table1 WHERE A = 'x'\"").out, "1 records deleted.\n");
  // A leading blank keeps a delete from being worded as one, as in the program.
  EXPECT_EQ(run("run " + db + " \" DELETE FROM Table1 WHERE A = 'y'\"").out, "1 records updated.\n");
  EXPECT_EQ(run("run " + db + " 'DELETE FROM Table1 WHERE E = [n]' --param n=1").out, "1 records deleted.\n");
  EXPECT_EQ(run("query " + db + " 'SELECT A, E FROM Table1'").out, "A,E\n\"abcdefg\",333333334\n");
  EXPECT_FALSE(fs::exists(c.dir / "db.ldb")) << "the lock file outlived the run";
  EXPECT_EQ(run("check " + db).status, 0);
}

TEST_F(Tool, RunFailuresChangeNothingAndDryRunsGiveTheSameError) {
  if (!fs::exists(kSmall)) GTEST_SKIP() << "fixture absent: " << kSmall;
  Copy c(kSmall);
  const std::string db = quote(c.file.string());
  const std::string before = fileBytes(c.file);
  const std::string dup = " \"INSERT INTO Table1 (A, B) VALUES ('a', 'again')\"";
  for (const std::string& mode : {std::string("run "), std::string("run --dry-run ")}) {
    Outcome o = run(mode + db + dup, true);
    EXPECT_EQ(o.status, 1) << mode;
    EXPECT_NE(o.out.find("error 3022"), std::string::npos) << o.out;
    o = run(mode + db + " \"UPDATE Table1 SET A = '' WHERE A = 'a'\"", true);
    EXPECT_NE(o.out.find("error 3315"), std::string::npos) << o.out;
    // One row breaks the key, the other would not: fail-on-error keeps neither.
    o = run(mode + db + " \"INSERT INTO Table1 (A) SELECT IIf(A = 'a', 'new', 'ABCDEFG') FROM Table1\"", true);
    EXPECT_EQ(o.status, 1);
    EXPECT_TRUE(fileBytes(c.file) == before) << mode << ": the failed statements changed the file";
  }
  EXPECT_FALSE(fs::exists(c.dir / "db.ldb"));
}

}  // namespace
