// The rollback journal: a commit leaves none behind; a complete journal found at open puts
// the file back exactly (pages and length); a journal cut short or spoiled is recognised and
// dropped without touching the file; a read-only open refuses a file with a journal.
#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>

#include "engine/storage/error.h"
#include "engine/storage/file.h"
#include "engine/storage/journal.h"
#include "engine/storage/write_unit.h"
#include "tests/engine/storage/storage_test_util.h"

namespace bv::storage {
namespace {

namespace fs = std::filesystem;

std::vector<uint8_t> readFile(const std::string& p) {
  std::ifstream in(p, std::ios::binary);
  return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), {});
}
void writeFile(const std::string& p, const std::vector<uint8_t>& b) {
  std::ofstream out(p, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(b.data()), static_cast<std::streamsize>(b.size()));
}

class JournalTest : public ::testing::TestWithParam<const char*> {
 protected:
  void SetUp() override {
    const std::string src = test::fixturesDir() + "/" + GetParam();
    if (!fs::exists(src)) GTEST_SKIP() << "fixture absent: " << src;
    copy_ = std::make_unique<test::TempCopy>(src);
    journal_ = journalPath(copy_->path());
    before_ = copy_->read();
    auto db = Database::open(copy_->path());
    pageSize_ = db->pageSize();
  }

  // Writes the journal a unit changing `pages` would write, then damages the database the
  // way an interrupted commit would: those pages overwritten, the file grown by two pages.
  void interruptedCommit(const std::vector<uint32_t>& pages) {
    {
      File db(copy_->path(), true);
      writeJournal(db, journal_, pageSize_, before_.size(), pages, true);
    }
    auto bytes = before_;
    for (uint32_t p : pages) std::memset(&bytes[static_cast<size_t>(p) * pageSize_], 0xA5, pageSize_ / 2);
    bytes.resize(bytes.size() + 2 * pageSize_, 0x5A);
    writeFile(copy_->path(), bytes);
  }

  std::unique_ptr<test::TempCopy> copy_;
  std::string journal_;
  std::vector<uint8_t> before_;
  uint32_t pageSize_ = 0;
};

TEST_P(JournalTest, CommitLeavesNoJournalAndChangesTheFile) {
  auto db = Database::open(copy_->path(), OpenMode::ReadWrite);
  WriteUnit unit(*db);
  unit.modify(3)[pageSize_ - 1] ^= 0x01;
  unit.allocate();
  const size_t pages = unit.pageCount();
  unit.commit();
  EXPECT_FALSE(fs::exists(journal_));
  db.reset();
  const auto after = copy_->read();
  ASSERT_EQ(after.size(), pages * pageSize_);
  EXPECT_NE(after[4 * pageSize_ - 1], before_[4 * pageSize_ - 1]);
}

TEST_P(JournalTest, OpenForWritingRollsBackACompleteJournal) {
  interruptedCommit({1, 2, 5});
  ASSERT_NE(copy_->read(), before_);
  auto db = Database::open(copy_->path(), OpenMode::ReadWrite);
  EXPECT_FALSE(fs::exists(journal_));
  EXPECT_EQ(db->pageCount(), before_.size() / pageSize_);
  db.reset();
  EXPECT_EQ(copy_->read(), before_);
}

TEST_P(JournalTest, JournalOfAUnitThatOnlyGrewTheFileCutsItBack) {
  interruptedCommit({});
  Database::open(copy_->path(), OpenMode::ReadWrite).reset();
  EXPECT_EQ(copy_->read(), before_);
  EXPECT_FALSE(fs::exists(journal_));
}

TEST_P(JournalTest, ReadOnlyOpenRefusesAndLeavesEverythingAsFound) {
  interruptedCommit({2});
  const auto damaged = copy_->read();
  try {
    Database::open(copy_->path(), OpenMode::ReadOnly);
    FAIL() << "a half-changed file was opened for reading";
  } catch (const JetError& e) {
    EXPECT_EQ(e.number(), 3049);
    EXPECT_NE(std::string(e.what()).find("interrupted"), std::string::npos) << e.what();
    EXPECT_NE(std::string(e.what()).find(copy_->path()), std::string::npos) << e.what();
  }
  EXPECT_TRUE(fs::exists(journal_));
  EXPECT_EQ(copy_->read(), damaged);
}

// A journal cut anywhere, or with one byte changed, never names a change that reached the
// database: it is removed and the file left exactly as found.
TEST_P(JournalTest, TornOrSpoiledJournalIsDroppedWithoutTouchingTheFile) {
  {
    File db(copy_->path(), true);
    writeJournal(db, journal_, pageSize_, before_.size(), {1, 7, 2}, true);  // last: never all zero
  }
  const auto whole = readFile(journal_);
  const size_t record = 8 + pageSize_;
  ASSERT_EQ(whole.size(), 32 + 3 * record);
  std::vector<std::vector<uint8_t>> spoiled;
  for (size_t cut : {size_t{0}, size_t{1}, size_t{31}, size_t{32}, size_t{36}, 32 + record / 2, 32 + record,
                     whole.size() - 1})
    spoiled.emplace_back(whole.begin(), whole.begin() + static_cast<std::ptrdiff_t>(cut));
  for (size_t at : {size_t{3}, size_t{12}, size_t{20}, size_t{32}, size_t{37}, 32 + record + 100, whole.size() - 1}) {
    auto b = whole;
    b[at] ^= 0x10;
    spoiled.push_back(b);
  }
  auto longer = whole;
  longer.push_back(0);
  spoiled.push_back(longer);
  auto zeroTail = whole;  // the last record's image reads back as zeros
  std::memset(&zeroTail[whole.size() - pageSize_], 0, pageSize_);
  spoiled.push_back(zeroTail);

  auto changed = before_;
  changed[2 * pageSize_ + 7] ^= 0xFF;  // would be put back by a valid journal
  for (size_t i = 0; i < spoiled.size(); ++i) {
    SCOPED_TRACE("spoiled journal #" + std::to_string(i));
    writeFile(copy_->path(), changed);
    writeFile(journal_, spoiled[i]);
    {
      File db(copy_->path(), true);
      EXPECT_EQ(recoverJournal(db, journal_), JournalState::Torn);
    }
    EXPECT_FALSE(fs::exists(journal_));
    EXPECT_EQ(copy_->read(), changed);
  }
  // The untouched journal is applied.
  writeFile(journal_, whole);
  {
    File db(copy_->path(), true);
    EXPECT_EQ(recoverJournal(db, journal_), JournalState::RolledBack);
    EXPECT_EQ(recoverJournal(db, journal_), JournalState::Absent);
  }
  EXPECT_EQ(copy_->read(), before_);
}

INSTANTIATE_TEST_SUITE_P(Fixtures, JournalTest, ::testing::Values("jet4/emptyJet4.mdb", "jet3/testV1997.mdb"),
                         [](const auto& info) {
                           std::string n = info.param;
                           n = n.substr(n.find('/') + 1);
                           return n.substr(0, n.find('.'));
                         });

}  // namespace
}  // namespace bv::storage
