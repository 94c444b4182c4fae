// A file whose last change was interrupted (a journal beside it): any command of the tool,
// also one that only reads, puts it back first; a file it may not write is refused with
// an explanation, untouched.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>

#include "engine/storage/file.h"
#include "engine/storage/journal.h"
#include "tests/engine/storage/storage_test_util.h"

namespace bv::test {
namespace {

namespace fs = std::filesystem;

struct ToolResult {
  int status = 0;
  std::string out, err;
};

ToolResult brimvale(const std::string& args) {
  TempCopy errFile("");
  ToolResult r;
  r.out = runCommand(std::string(BV_TOOL) + " " + args + " 2>" + shellQuote(errFile.dir() + "/err"), &r.status);
  r.err = runCommand("cat " + shellQuote(errFile.dir() + "/err"));
  return r;
}

// Leaves `copy` as a commit interrupted after it overwrote page 2 (the catalog) would.
void interrupt(const TempCopy& copy) {
  const auto before = copy.read();
  {
    storage::File db(copy.path(), true);
    storage::writeJournal(db, storage::journalPath(copy.path()), 4096, before.size(), {2}, true);
  }
  auto bytes = before;
  std::memset(&bytes[2 * 4096], 0xEE, 4096);
  copy.write(bytes);
}

TEST(InterruptedChange, ReadingCommandRestoresTheFileFirst) {
  const std::string src = fixturesDir() + "/jet4/testV2000.mdb";
  if (!fs::exists(src)) GTEST_SKIP() << "fixture absent: " << src;
  TempCopy copy(src);
  const auto before = copy.read();
  interrupt(copy);
  ToolResult r = brimvale("check " + shellQuote(copy.path()));
  EXPECT_EQ(r.status, 0) << r.out << r.err;
  EXPECT_FALSE(fs::exists(storage::journalPath(copy.path())));
  EXPECT_EQ(copy.read(), before);
}

TEST(InterruptedChange, FileThatCannotBeWrittenIsRefusedAsFound) {
  const std::string src = fixturesDir() + "/jet4/testV2000.mdb";
  if (!fs::exists(src)) GTEST_SKIP() << "fixture absent: " << src;
  if (geteuid() == 0) GTEST_SKIP() << "running as root: a read-only file can still be written";
  TempCopy copy(src);
  interrupt(copy);
  const auto damaged = copy.read();
  fs::permissions(copy.path(), fs::perms::owner_read, fs::perm_options::replace);
  ToolResult r = brimvale("tables " + shellQuote(copy.path()));
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find("error 3049"), std::string::npos) << r.err;
  EXPECT_NE(r.err.find("interrupted"), std::string::npos) << r.err;
  EXPECT_TRUE(fs::exists(storage::journalPath(copy.path())));
  EXPECT_EQ(copy.read(), damaged);
}

}  // namespace
}  // namespace bv::test
