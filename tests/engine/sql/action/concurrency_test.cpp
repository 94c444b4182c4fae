// Several processes changing one file at once: writers take turns, every statement is
// applied whole, and the last one out removes the lock file.
#include <gtest/gtest.h>

#include <sys/wait.h>
#include <unistd.h>

#include <set>

#include "action_test_util.h"
#include "engine/storage/check.h"
#include "engine/storage/lock_file.h"

namespace {

using bv::test::fixture;

constexpr int kProcesses = 4;
constexpr int kStatements = 120;

// Process k inserts rows "k-i" into Table3 (b; a is an AutoNumber) and, every tenth
// statement, marks one of its earlier rows with a '+'. Every statement opens the file
// afresh, as separate runs of the tool do; the rest of the time others hold it open.
int writer(const std::string& path, int k) {
  try {
    auto held = bv::storage::Database::open(path, bv::storage::OpenMode::ReadWrite);
    for (int i = 0; i < kStatements; ++i) {
      const std::string sql = i % 10 == 9 ? "UPDATE Table3 SET b = b & '+' WHERE b = '" + std::to_string(k) + "-" +
                                                 std::to_string(i - 5) + "'"
                                           : "INSERT INTO Table3 (b) VALUES ('" + std::to_string(k) + "-" +
                                                 std::to_string(i) + "')";
      // Turns are not handed out in order, so a writer may wait for several others: the
      // bound is generous here, the waiting itself is what is tested.
      bv::storage::OpenOptions o;
      o.mode = bv::storage::OpenMode::ReadWrite;
      o.lockTimeoutMs = 60000;
      auto db = bv::storage::Database::open(path, o);
      if (bv::sql::executeAction(*db, bv::sql::parseStatement(bv::storage::fromUtf8(sql)), {}, {true, false}) != 1)
        return 2;
    }
    return 0;
  } catch (const std::exception& e) {
    fprintf(stderr, "writer %d: %s\n", k, e.what());
    return 1;
  }
}

TEST(Concurrency, WritersInSeveralProcessesAllApplyWhole) {
  const std::string src = fixture("jet4/testV2000.mdb");
  NEED_FIXTURE(src);
  bv::test::ScratchCopy f(src);
  std::vector<pid_t> pids;
  for (int k = 0; k < kProcesses; ++k) {
    const pid_t pid = fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) _exit(writer(f.path(), k));
    pids.push_back(pid);
  }
  for (pid_t pid : pids) {
    int status = 0;
    waitpid(pid, &status, 0);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "a writer failed";
  }
  // Every process's rows are there, each statement applied exactly once.
  std::set<std::string> expected;
  for (int k = 0; k < kProcesses; ++k)
    for (int i = 0; i < kStatements; ++i) {
      if (i % 10 == 9) continue;
      const bool marked = i % 10 == 4;
      expected.insert("\"" + std::to_string(k) + "-" + std::to_string(i) + (marked ? "+" : "") + "\"");
    }
  auto rows = bv::test::selectRows(f.path(), u"SELECT b FROM Table3");
  EXPECT_EQ(rows.size(), expected.size());
  EXPECT_EQ(std::set<std::string>(rows.begin(), rows.end()), expected);
  // AutoNumbers: one per insert, none given twice.
  auto numbers = bv::test::selectRows(f.path(), u"SELECT DISTINCT a FROM Table3");
  EXPECT_EQ(numbers.size(), expected.size());
  auto db = bv::storage::Database::open(f.path());
  auto report = bv::storage::checkDatabase(*db);
  EXPECT_TRUE(report.ok()) << (report.problems.empty() ? "" : report.problems[0]);
  db.reset();
  EXPECT_FALSE(std::filesystem::exists(bv::storage::lockFilePath(f.path())));
}

}  // namespace
