// A write unit's changes are visible through the database while it is active, reach the file
// on commit and vanish on rollback.
#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <memory>

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
