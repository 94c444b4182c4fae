// A write unit's changes are visible through the database while it is active, reach the file
// on commit and vanish on rollback.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <memory>
#include <vector>

#include "engine/storage/error.h"
#include "engine/storage/write_unit.h"
#include "tests/engine/storage/storage_test_util.h"

namespace bv::storage {
namespace {

class WriteUnitTest : public ::testing::Test {
 protected:
  void SetUp() override {
    const std::string src = test::fixturesDir() + "/jet4/testV2000.mdb";
    if (!std::filesystem::exists(src)) GTEST_SKIP() << "fixture absent: " << src;
    copy_ = std::make_unique<test::TempCopy>(src);
  }
  const std::string& path() const { return copy_->path(); }
  std::unique_ptr<test::TempCopy> copy_;
};

TEST_F(WriteUnitTest, ChangesAreSeenWhileActiveAndDroppedOnRollback) {
  const auto before = copy_->read();
  auto db = Database::open(path(), OpenMode::ReadWrite);
  const uint32_t pages = db->pageCount();
  {
    WriteUnit unit(*db);
    const uint32_t fresh = unit.allocate();
    EXPECT_EQ(fresh, pages);
    unit.modify(fresh)[0] = 0x01;
    unit.modify(2)[100] ^= 0xFF;
    EXPECT_EQ(db->pageCount(), pages + 1);
    EXPECT_EQ(db->page(fresh)[0], 0x01);
    EXPECT_NE(db->page(2)[100], (before[2 * db->pageSize() + 100]));
  }  // destroyed without commit
  EXPECT_EQ(db->pageCount(), pages);
  EXPECT_EQ(db->page(2)[100], (before[2 * db->pageSize() + 100]));
  db.reset();
  EXPECT_EQ(copy_->read(), before);
}

// Cached decodings of a page are reused while its stamp stays the same, so every way a page
// can change must give it a stamp it never had, also across units.
TEST_F(WriteUnitTest, StampsChangeWithEveryChangeAndAreNeverReused) {
  auto db = Database::open(path(), OpenMode::ReadWrite);
  std::vector<uint64_t> seen;
  for (int round = 0; round < 2; ++round) {
    WriteUnit unit(*db);
    const uint64_t untouched = unit.stamp(2);
    EXPECT_EQ(unit.stamp(3), untouched) << "pages the unit has not changed share one stamp";
    seen.push_back(untouched);
    unit.modify(2);
    seen.push_back(unit.stamp(2));
    unit.modify(2);  // again: the caller may write through it once more
    seen.push_back(unit.stamp(2));
    const uint32_t fresh = unit.allocate();
    seen.push_back(unit.stamp(fresh));
    unit.release(fresh);
    seen.push_back(unit.stamp(fresh));
    EXPECT_EQ(unit.stamp(3), untouched);
    PageRef hold;
    uint64_t stamp = 0;
    const uint8_t* seenCopy = unit.read(2, hold, stamp);
    EXPECT_EQ(stamp, unit.stamp(2));
    EXPECT_EQ(seenCopy, unit.modify(2)) << "the unit's own copy is read";
    EXPECT_NE(stamp, unit.stamp(2)) << "modify() after the read changes the stamp";
    const uint8_t* seenFile = unit.read(3, hold, stamp);
    EXPECT_EQ(seenFile, hold.data());
    EXPECT_EQ(stamp, untouched);
  }  // rolled back
  std::vector<uint64_t> sorted = seen;
  std::sort(sorted.begin(), sorted.end());
  EXPECT_EQ(std::adjacent_find(sorted.begin(), sorted.end()), sorted.end()) << "a stamp was handed out twice";
}

TEST_F(WriteUnitTest, CommitWritesEveryChangedPage) {
  auto db = Database::open(path(), OpenMode::ReadWrite);
  const uint32_t ps = db->pageSize();
  const uint32_t pages = db->pageCount();
  WriteUnit unit(*db);
  const uint32_t fresh = unit.allocate();
  std::memcpy(unit.modify(fresh), db->page(pages - 1).data(), ps);  // any valid page image
  unit.commit();
  EXPECT_FALSE(unit.active());
  EXPECT_EQ(db->pageCount(), pages + 1);
  db.reset();
  const auto after = copy_->read();
  ASSERT_EQ(after.size(), static_cast<size_t>(pages + 1) * ps);
  EXPECT_EQ(0, std::memcmp(after.data() + static_cast<size_t>(pages) * ps,
                           after.data() + static_cast<size_t>(pages - 1) * ps, ps));
}

TEST_F(WriteUnitTest, ReadOnlyDatabaseRefusesAUnit) {
  auto db = Database::open(path(), OpenMode::ReadOnly);
  try {
    WriteUnit unit(*db);
    FAIL() << "a unit started on a read-only database";
  } catch (const JetError& e) {
    EXPECT_EQ(e.number(), 3027);
  }
}

}  // namespace
}  // namespace bv::storage
