// Sharing a database file: the .ldb entries of shared writers, exclusive opens, the
// writer and commit locks (between two opens of one process and between processes).
#include <gtest/gtest.h>

#include <fstream>
#include <unistd.h>

#include "engine/storage/error.h"
#include "engine/storage/file_lock.h"
#include "engine/storage/lock_file.h"
#include "engine/storage/sharing.h"
#include "engine/storage/statement_lock.h"
#include "storage_test_util.h"

namespace {

using bv::JetError;
using bv::storage::Database;
using bv::storage::OpenMode;
using bv::storage::OpenOptions;
namespace fs = std::filesystem;

const std::string kSource = bv::test::fixturesDir() + "/jet4/testV2000.mdb";

#define NEED_FIXTURE()                                                                  \
  if (!fs::exists(kSource)) GTEST_SKIP() << "fixture absent: " << kSource;

std::unique_ptr<Database> openWith(const std::string& path, OpenMode mode, bool exclusive = false,
                                   int timeoutMs = 5000, const std::string& user = "Admin") {
  OpenOptions o;
  o.mode = mode;
  o.exclusive = exclusive;
  o.lockTimeoutMs = timeoutMs;
  o.userName = user;
  return Database::open(path, o);
}

std::vector<uint8_t> readAll(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), {});
}

std::string field(const std::vector<uint8_t>& ldb, size_t slot, size_t offset) {
  const char* p = reinterpret_cast<const char*>(ldb.data() + slot * 64 + offset);
  return std::string(p, strnlen(p, 32));
}

int errorOf(const std::function<void()>& f) {
  try {
    f();
  } catch (const JetError& e) {
    return e.number();
  }
  return 0;
}

TEST(LockFile, PathReplacesTheMdbExtensionOrAppends) {
  EXPECT_EQ(bv::storage::lockFilePath("/a/b/Shop.MDB"), "/a/b/Shop.ldb");
  EXPECT_EQ(bv::storage::lockFilePath("/a/b.mdb.bak"), "/a/b.mdb.bak.ldb");
  EXPECT_EQ(bv::storage::lockFilePath("data"), "data.ldb");
}

TEST(LockFile, SharedWritersHaveEntriesAndTheLastOneOutRemovesIt) {
  NEED_FIXTURE();
  bv::test::TempCopy f(kSource);
  const std::string ldb = bv::storage::lockFilePath(f.path());
  {
    auto a = openWith(f.path(), OpenMode::ReadWrite, false, 5000, "Admin");
    ASSERT_TRUE(fs::exists(ldb));
    auto b = openWith(f.path(), OpenMode::ReadWrite, false, 5000, "Second");
    auto bytes = readAll(ldb);
    ASSERT_EQ(bytes.size(), 128u);
    EXPECT_EQ(field(bytes, 0, 0), bv::storage::computerName().substr(0, 31));
    EXPECT_EQ(field(bytes, 0, 32), "Admin");
    EXPECT_EQ(field(bytes, 1, 32), "Second");
    a.reset();
    EXPECT_TRUE(fs::exists(ldb)) << "removed while another user is still in the database";
    // A third user reuses the slot the first one left.
    auto c = openWith(f.path(), OpenMode::ReadWrite, false, 5000, "Third");
    EXPECT_EQ(field(readAll(ldb), 0, 32), "Third");
  }
  EXPECT_FALSE(fs::exists(ldb));
}

TEST(LockFile, ExclusiveAndReadOnlyOpensMakeNone) {
  NEED_FIXTURE();
  bv::test::TempCopy f(kSource);
  const std::string ldb = bv::storage::lockFilePath(f.path());
  {
    auto x = openWith(f.path(), OpenMode::ReadWrite, true);
    EXPECT_FALSE(fs::exists(ldb));
  }
  {
    auto r = openWith(f.path(), OpenMode::ReadOnly);
    EXPECT_FALSE(fs::exists(ldb));
  }
}

TEST(LockFile, StaleEntriesAreReusedAndTheFileRemoved) {
  NEED_FIXTURE();
  bv::test::TempCopy f(kSource);
  const std::string ldb = bv::storage::lockFilePath(f.path());
  {
    std::ofstream out(ldb, std::ios::binary);
    std::string stale(3 * 64, '\0');
    stale.replace(0, 4, "GONE");
    stale.replace(64, 4, "GONE");
    out << stale;
  }
  {
    auto a = openWith(f.path(), OpenMode::ReadWrite, false, 5000, "Fresh");
    auto bytes = readAll(ldb);
    EXPECT_EQ(field(bytes, 0, 32), "Fresh");
    EXPECT_EQ(field(bytes, 1, 0), "GONE") << "other stale entries stay as they were";
  }
  EXPECT_FALSE(fs::exists(ldb));
}

TEST(FileLocks, ARangeIsHeldElsewhereWhenAnyOfItsBytesIs) {
  const std::string path = (fs::temp_directory_path() / ("bv_locks_" + std::to_string(getpid()))).string();
  std::ofstream(path) << "x";
  {
    bv::storage::FileLocks mine(path), other(path);
    const uint64_t base = 0x10000000;
    EXPECT_FALSE(mine.anyHeldElsewhere(base, 255));
    ASSERT_TRUE(other.tryLock(base + 254, bv::storage::FileLocks::Mode::Shared));
    EXPECT_TRUE(mine.anyHeldElsewhere(base, 255)) << "the last byte of the range";
    EXPECT_FALSE(mine.anyHeldElsewhere(base, 254)) << "a byte past the range";
    EXPECT_TRUE(mine.heldElsewhere(base + 254));
    other.unlock(base + 254);
    ASSERT_TRUE(mine.tryLock(base, bv::storage::FileLocks::Mode::Exclusive));
    EXPECT_FALSE(mine.anyHeldElsewhere(base, 255)) << "this handle's own lock";
    EXPECT_TRUE(other.anyHeldElsewhere(base, 255));
  }
  fs::remove(path);
}

TEST(Sharing, ExclusiveOpenKeepsOthersOutAndWaitsForNoOne) {
  NEED_FIXTURE();
  bv::test::TempCopy f(kSource);
  {
    auto x = openWith(f.path(), OpenMode::ReadWrite, true);
    EXPECT_EQ(errorOf([&] { openWith(f.path(), OpenMode::ReadOnly); }), 3045);
    EXPECT_EQ(errorOf([&] { openWith(f.path(), OpenMode::ReadWrite); }), 3045);
    EXPECT_EQ(errorOf([&] { openWith(f.path(), OpenMode::ReadWrite, true); }), 3045);
    EXPECT_FALSE(fs::exists(bv::storage::lockFilePath(f.path())))
        << "a refused shared open left its entry behind";
  }
  auto s = openWith(f.path(), OpenMode::ReadOnly);
  EXPECT_EQ(errorOf([&] { openWith(f.path(), OpenMode::ReadWrite, true); }), 3045);
  s.reset();
  EXPECT_EQ(errorOf([&] { openWith(f.path(), OpenMode::ReadWrite, true); }), 0);
}

TEST(Sharing, ASecondWriterWaitsThenFailsWithTheLockedError) {
  NEED_FIXTURE();
  bv::test::TempCopy f(kSource);
  auto a = openWith(f.path(), OpenMode::ReadWrite, false, 50);
  auto b = openWith(f.path(), OpenMode::ReadWrite, false, 50);
  {
    bv::storage::WriteLock w(*a);
    EXPECT_EQ(errorOf([&] { bv::storage::WriteLock w2(*b); }), 3218);
    // Readers go on reading while a change is being prepared ...
    EXPECT_EQ(errorOf([&] { bv::storage::ReadLock r(*b); }), 0);
    // ... but a commit waits for them.
    bv::storage::ReadLock r(*b);
    EXPECT_EQ(errorOf([&] { bv::storage::CommitLock c(*a); }), 3218);
  }
  EXPECT_EQ(errorOf([&] { bv::storage::WriteLock w2(*b); }), 0);
}

TEST(Sharing, WriterTurnsAreExclusiveBetweenProcesses) {
  NEED_FIXTURE();
  bv::test::TempCopy f(kSource);
  int toChild[2], toParent[2];
  ASSERT_EQ(pipe(toChild), 0);
  ASSERT_EQ(pipe(toParent), 0);
  const pid_t pid = fork();
  ASSERT_GE(pid, 0);
  if (pid == 0) {
    // The child holds the writer's turn until the parent has tried to take it.
    int rc = 1;
    try {
      auto db = openWith(f.path(), OpenMode::ReadWrite);
      bv::storage::WriteLock w(*db);
      char c = 'L';
      if (write(toParent[1], &c, 1) == 1 && read(toChild[0], &c, 1) == 1) rc = 0;
    } catch (...) {
    }
    _exit(rc);
  }
  char c = 0;
  ASSERT_EQ(read(toParent[0], &c, 1), 1);
  auto db = openWith(f.path(), OpenMode::ReadWrite, false, 100);
  EXPECT_EQ(errorOf([&] { bv::storage::WriteLock w(*db); }), 3218);
  EXPECT_EQ(errorOf([&] { openWith(f.path(), OpenMode::ReadWrite, true); }), 3045);
  ASSERT_EQ(write(toChild[1], &c, 1), 1);
  int status = 0;
  waitpid(pid, &status, 0);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  EXPECT_EQ(errorOf([&] { bv::storage::WriteLock w(*db); }), 0);
  db.reset();
  EXPECT_FALSE(fs::exists(bv::storage::lockFilePath(f.path())));
}

TEST(Sharing, AReadOnlyFileOpensReadOnly) {
  NEED_FIXTURE();
  bv::test::TempCopy f(kSource);
  fs::permissions(f.path(), fs::perms::owner_read | fs::perms::group_read | fs::perms::others_read);
  auto db = openWith(f.path(), OpenMode::ReadWrite);
  EXPECT_EQ(db->mode(), OpenMode::ReadOnly);
  EXPECT_FALSE(fs::exists(bv::storage::lockFilePath(f.path())));
}

}  // namespace
