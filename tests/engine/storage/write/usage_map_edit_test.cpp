// Usage maps changed through a write unit: bits set and cleared, inline windows moved,
// inline maps turned into reference maps, and pages taken from / given back to the global
// free-page map — each read back by the reader and judged by check after commit.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <memory>

#include "engine/storage/check.h"
#include "engine/storage/data_page.h"
#include "engine/storage/error.h"
#include "engine/storage/usage_map_edit.h"
#include "engine/storage/write_unit.h"
#include "tests/engine/storage/storage_test_util.h"

namespace bv::storage {
namespace {

const RowPointer kGlobal{1, 0};

bool contains(const std::vector<uint32_t>& v, uint32_t p) { return std::find(v.begin(), v.end(), p) != v.end(); }

std::string problems(const CheckReport& r) {
  std::string s;
  for (const auto& p : r.problems) s += p + "\n";
  return s;
}

// Turns page n into an empty data page of the table (what a row writer does first).
void makeEmptyDataPage(WriteUnit& unit, uint32_t n, uint32_t tdefPage) {
  uint8_t* p = unit.modify(n);
  const uint32_t rc = rowCountOffset(unit.jet4());
  p[0] = 0x01;
  p[1] = 0x01;
  const uint32_t freeBytes = unit.pageSize() - (rc + 2);
  p[2] = static_cast<uint8_t>(freeBytes);
  p[3] = static_cast<uint8_t>(freeBytes >> 8);
  for (int i = 0; i < 4; ++i) p[4 + i] = static_cast<uint8_t>(tdefPage >> (8 * i));
}

uint8_t mapType(const Database& db, RowPointer map) { return db.rowBytes(map.page, map.row).data()[0]; }

class UsageMapEditTest : public ::testing::TestWithParam<const char*> {
 protected:
  void SetUp() override {
    const std::string src = test::fixturesDir() + "/" + GetParam();
    if (!std::filesystem::exists(src)) GTEST_SKIP() << "fixture absent: " << src;
    copy_ = std::make_unique<test::TempCopy>(src);
    db_ = Database::open(copy_->path(), OpenMode::ReadWrite);
    // A table that owns data pages already.
    for (const auto& name : db_->userTableNames()) {
      auto def = db_->table(name);
      if (!def->ownedMap.isNull() && !db_->usageMapPages(def->ownedMap).empty()) {
        table_ = def;
        break;
      }
    }
    ASSERT_TRUE(table_) << "no user table with data pages";
  }
  void reopenAndCheck() {
    db_.reset();
    db_ = Database::open(copy_->path(), OpenMode::ReadWrite);
    const CheckReport r = checkDatabase(*db_);
    EXPECT_TRUE(r.ok()) << problems(r);
  }
  std::unique_ptr<test::TempCopy> copy_;
  std::unique_ptr<Database> db_;
  std::shared_ptr<const TableDef> table_;
};

TEST_P(UsageMapEditTest, NewDataPageJoinsOwnedMapAndLeavesItWhenReleased) {
  const RowPointer owned = table_->ownedMap;
  const uint32_t tdef = table_->tdefPage;
  const auto before = db_->usageMapPages(owned);
  uint32_t fresh = 0;
  {
    WriteUnit unit(*db_);
    fresh = unit.allocate();
    EXPECT_FALSE(mapHasPage(*db_, kGlobal, fresh)) << "an allocated page stays marked free";
    makeEmptyDataPage(unit, fresh, tdef);
    setPageInMap(unit, owned, fresh, true);
    EXPECT_TRUE(mapHasPage(*db_, owned, fresh));
    unit.commit();
  }
  reopenAndCheck();
  auto after = db_->usageMapPages(table_->ownedMap);
  EXPECT_EQ(after.size(), before.size() + 1);
  EXPECT_TRUE(contains(after, fresh));
  EXPECT_FALSE(contains(db_->usageMapPages(kGlobal), fresh));

  {
    WriteUnit unit(*db_);
    setPageInMap(unit, owned, fresh, false);
    unit.release(fresh);
    EXPECT_FALSE(mapHasPage(*db_, owned, fresh));
    EXPECT_TRUE(mapHasPage(*db_, kGlobal, fresh));
    unit.commit();
  }
  reopenAndCheck();
  EXPECT_EQ(db_->usageMapPages(owned), before);
  EXPECT_TRUE(contains(db_->usageMapPages(kGlobal), fresh));
  // A released page is handed out again before the file grows.
  const uint32_t pages = db_->pageCount();
  WriteUnit unit(*db_);
  const auto freeNow = db_->usageMapPages(kGlobal);
  const uint32_t firstFree = *std::find_if(freeNow.begin(), freeNow.end(), [](uint32_t p) { return p >= 3; });
  EXPECT_EQ(unit.allocate(), firstFree);
  EXPECT_EQ(unit.pageCount(), pages);
}

// Pages far beyond an inline map's window: the map becomes a reference map listing the old
// pages and the new one; the many pages allocated on the way are given back, which makes
// the global map grow the same way.
TEST_P(UsageMapEditTest, FarPageTurnsInlineMapIntoReferenceMap) {
  const RowPointer owned = table_->ownedMap;
  const uint32_t tdef = table_->tdefPage;
  ASSERT_EQ(mapType(*db_, owned), 0x00) << "fixture's owned map is expected inline";
  const auto before = db_->usageMapPages(owned);
  const std::string exportedBefore = test::runCommand(
      "mdb-export " + test::shellQuote(copy_->path()) + " " + test::shellQuote(toUtf8(table_->name)) + " 2>&1");
  const uint32_t window = static_cast<uint32_t>(db_->rowBytes(owned.page, owned.row).size() - 5) * 8;
  uint32_t far = 0;
  std::vector<uint32_t> spare;
  {
    WriteUnit unit(*db_);
    // Grow until a page lies past every window that could still hold the old pages.
    const uint32_t beyond = (before.front() & ~7u) + window;
    while ((far = unit.allocate()) < beyond) spare.push_back(far);
    makeEmptyDataPage(unit, far, tdef);
    setPageInMap(unit, owned, far, true);
    EXPECT_EQ(mapType(*db_, owned), 0x01);
    for (uint32_t p : spare) unit.release(p);
    unit.commit();
  }
  reopenAndCheck();
  // An independent reader follows the new map to the same rows.
  const std::string exportCmd = "mdb-export " + test::shellQuote(copy_->path()) + " " + test::shellQuote(toUtf8(table_->name));
  int status = 0;
  const std::string exported = test::runCommand(exportCmd + " 2>&1", &status);
  // (mdb-export prints one empty line for a data page without live rows, such as the new
  // page here; the table's own rows must all come first, unchanged, and nothing be amiss.)
  if (status == 0) {
    EXPECT_EQ(exported.compare(0, exportedBefore.size(), exportedBefore), 0) << exported;
    EXPECT_EQ(exported.find("warning"), std::string::npos) << exported;
  }
  auto expected = before;
  expected.push_back(far);
  EXPECT_EQ(db_->usageMapPages(owned), expected);
  const auto freePages = db_->usageMapPages(kGlobal);
  for (uint32_t p : spare) {
    if (!contains(freePages, p) && db_->page(p)[0] != 0x05) {
      ADD_FAILURE() << "page " << p << " was given back but is neither free nor a map's bitmap page";
      break;
    }
  }
  // Clearing works on the reference map too.
  {
    WriteUnit unit(*db_);
    setPageInMap(unit, owned, far, false);
    unit.release(far);
    unit.commit();
  }
  reopenAndCheck();
  EXPECT_EQ(db_->usageMapPages(owned), before);
}

// An inline map whose pages all fit a shifted window is moved instead of converted.
TEST_P(UsageMapEditTest, InlineWindowMovesWhenEveryPageStillFits) {
  for (const auto& name : db_->userTableNames()) {
    auto def = db_->table(name);
    const RowPointer owned = def->ownedMap;
    if (owned.isNull() || mapType(*db_, owned) != 0x00) continue;
    auto rb = db_->rowBytes(owned.page, owned.row);
    const uint32_t first = rb.page.u32(rb.start + 1);
    const uint32_t window = static_cast<uint32_t>(rb.size() - 5) * 8;
    const auto pages = db_->usageMapPages(owned);
    if (pages.empty() || (pages.front() & ~7u) <= first) continue;
    const uint32_t tdef = def->tdefPage;
    {
      WriteUnit unit(*db_);
      std::vector<uint32_t> spare;
      uint32_t target = 0;
      while ((target = unit.allocate()) < first + window) spare.push_back(target);
      // Past the window, yet within reach of one that still holds the table's pages.
      if (target >= (pages.front() & ~7u) + window) continue;
      makeEmptyDataPage(unit, target, tdef);
      setPageInMap(unit, owned, target, true);
      EXPECT_EQ(mapType(*db_, owned), 0x00);
      auto moved = db_->rowBytes(owned.page, owned.row);
      EXPECT_EQ(moved.page.u32(moved.start + 1), pages.front() & ~7u);
      auto expected = pages;
      expected.push_back(target);
      EXPECT_EQ(db_->usageMapPages(owned), expected);
      for (uint32_t p : spare) unit.release(p);
      unit.commit();
    }
    reopenAndCheck();
    return;
  }
  GTEST_SKIP() << "no table of this fixture has an inline owned map with room to move";
}

// The global map itself outgrows its window: a page given back beyond it turns the map into
// a reference map, whose bitmap page is taken from the free pages of the very map being
// converted. Every free page stays free (but the one taken), pages past the end of the file
// are marked free as before, and the file checks.
TEST_P(UsageMapEditTest, GlobalMapBecomesReferenceMapWhenAPageBeyondItIsFreed) {
  ASSERT_EQ(mapType(*db_, kGlobal), 0x00);
  const auto row = db_->rowBytes(kGlobal.page, kGlobal.row);
  const uint32_t windowEnd = row.page.u32(row.start + 1) + static_cast<uint32_t>(row.size() - 5) * 8;
  const auto freeBefore = db_->usageMapPages(kGlobal);
  const std::string exportCmd =
      "mdb-export " + test::shellQuote(copy_->path()) + " " + test::shellQuote(toUtf8(table_->name)) + " 2>&1";
  const std::string exportedBefore = test::runCommand(exportCmd);
  std::vector<uint32_t> spare;
  uint32_t bitmap = 0;
  {
    WriteUnit unit(*db_);
    // Past the window and beyond the reach of any window holding the first page taken.
    while (unit.pageCount() <= 2 * windowEnd) spare.push_back(unit.allocate());
    const uint32_t last = unit.pageCount() - 1;
    EXPECT_FALSE(mapHasPage(*db_, kGlobal, last));
    // A free page low in the file, so that no window can hold both.
    unit.release(spare.front());
    EXPECT_EQ(mapType(*db_, kGlobal), 0x00);
    unit.release(last);
    ASSERT_EQ(mapType(*db_, kGlobal), 0x01);
    EXPECT_TRUE(mapHasPage(*db_, kGlobal, last));
    bitmap = db_->rowBytes(kGlobal.page, kGlobal.row).page.u32(db_->rowBytes(kGlobal.page, kGlobal.row).start + 1);
    EXPECT_EQ(db_->page(bitmap)[0], 0x05);
    EXPECT_FALSE(mapHasPage(*db_, kGlobal, bitmap));
    for (uint32_t p : spare)
      if (p != last && p != spare.front()) unit.release(p);
    unit.commit();
  }
  reopenAndCheck();
  const auto freeAfter = db_->usageMapPages(kGlobal);
  for (uint32_t p : spare)
    if (p != bitmap) EXPECT_TRUE(contains(freeAfter, p)) << "page " << p << " given back but not free";
  for (uint32_t p : freeBefore)
    if (p != bitmap && p >= 3) EXPECT_TRUE(contains(freeAfter, p)) << "page " << p << " was free before";
  EXPECT_FALSE(contains(freeAfter, bitmap));
  EXPECT_EQ(test::runCommand(exportCmd), exportedBefore) << "an independent reader sees other rows";
  bool pastEnd = false;
  db_->usageMapPages(kGlobal, &pastEnd);
  EXPECT_TRUE(pastEnd) << "pages past the end of the file are no longer marked free";
  // Growing again takes a page the map marks free, never the bitmap page.
  WriteUnit unit(*db_);
  const uint32_t again = unit.allocate();
  EXPECT_NE(again, bitmap);
  EXPECT_FALSE(mapHasPage(*db_, kGlobal, again));
}

INSTANTIATE_TEST_SUITE_P(Fixtures, UsageMapEditTest,
                         ::testing::Values("jet4/testV2000.mdb", "jet3/testV1997.mdb", "jet4/indexTestV2000.mdb"),
                         [](const auto& info) {
                           std::string n = info.param;
                           n = n.substr(n.find('/') + 1);
                           return n.substr(0, n.find('.'));
                         });

TEST(UsageMapEdit, NullMapIsAnError) {
  const std::string src = test::fixturesDir() + "/jet4/testV2000.mdb";
  if (!std::filesystem::exists(src)) GTEST_SKIP() << "fixture absent: " << src;
  test::TempCopy copy(src);
  auto db = Database::open(copy.path(), OpenMode::ReadWrite);
  WriteUnit unit(*db);
  EXPECT_THROW(setPageInMap(unit, RowPointer{}, 10, true), JetError);
  EXPECT_THROW(mapHasPage(*db, RowPointer{}, 10), JetError);
}

}  // namespace
}  // namespace bv::storage
