// Long values (Memo, OLE) through TableWriter: every size around the boundaries (in the
// row, one LVAL row, chains of pages) written, rewritten and freed with their pages given
// back; long-value pages handed between columns stay with the column that holds them.
#include <gtest/gtest.h>

#include <algorithm>

#include "engine/storage/data_page_edit.h"
#include "engine/storage/table_writer.h"
#include "tests/engine/storage/write/random_values.h"
#include "tests/engine/storage/write/table_writer_fixture.h"

namespace bv::storage {
namespace {

using test::Row;
using test::TableModel;
class LongValueTest : public TableWriterTest {};

// Long values: sizes around every boundary (in the row, one LVAL row, chains of pages).
TEST_F(LongValueTest, LongValuesOfEverySizeAreWrittenRewrittenAndFreed) {
  open("jet4/fixedNumericTestV2000.mdb");
  if (!db_) return;
  auto def = db_->table(u"test");
  const int memo = def->findColumn(u"col1");
  ASSERT_GE(memo, 0);
  const uint32_t pagesBefore = db_->pageCount();
  TableModel model = TableModel::read(*db_, u"test");
  test::RandomValues gen(11, *db_);
  const std::vector<size_t> sizes = {0, 1, 31, 32, 33, 64, 100, 2000, 2039, 2040, 2041, 4076, 4080, 4100, 9000, 30000, 60000};
  // (mdb-export prints at most 200,000 bytes of a memo: 60,000 CJK characters stay below.)
  std::vector<RowId> ids;
  {
    WriteUnit unit(*db_);
    TableWriter w(unit, u"test");
    for (size_t n : sizes) {
      Row r(def->columns.size());
      // Compressible (Latin) and two-byte (CJK) text.
      r[memo] = Value(n % 2 ? gen.text(n) : std::u16string(n, u'\u4E2D'));
      ids.push_back(w.insert(r));
      EXPECT_EQ(w.read(ids.back()), r) << n;
      model.rows[test::rowKey(ids.back())] = r;
    }
    unit.commit();
  }
  verify(u"test", model);
  {
    WriteUnit unit(*db_);
    TableWriter w(unit, u"test");
    for (size_t i = 0; i < ids.size(); ++i) {
      Row r = model.rows[test::rowKey(ids[i])];
      r[memo] = Value(std::u16string(sizes[sizes.size() - 1 - i], u'q'));
      w.update(ids[i], r);
      model.rows[test::rowKey(ids[i])] = r;
    }
    unit.commit();
  }
  verify(u"test", model);
  {
    WriteUnit unit(*db_);
    TableWriter w(unit, u"test");
    for (RowId id : ids) {
      w.remove(id);
      model.rows.erase(test::rowKey(id));
    }
    unit.commit();
  }
  verify(u"test", model);
  // Freed long values gave their pages back: the file holds no more pages in use than it
  // did before, and the column's map lists no page without a live value.
  def = db_->table(u"test");
  const auto lvPages = db_->usageMapPages(def->columns[memo].lvOwnedMap);
  for (uint32_t p : lvPages) {
    PageRef pg = db_->page(p);
    std::vector<uint8_t> copy(pg.data(), pg.data() + pg.size());
    EXPECT_FALSE(DataPageEditor(copy.data(), pg.size(), true, p).empty()) << "empty LVAL page " << p << " kept";
  }
  auto globalFree = db_->usageMapPages(RowPointer{1, 0});
  size_t inUse = 0;
  for (uint32_t p = 0; p < db_->pageCount(); ++p)
    if (!std::binary_search(globalFree.begin(), globalFree.end(), p)) ++inUse;
  size_t inUseBefore = 0;
  {
    auto orig = Database::open(test::fixturesDir() + "/jet4/fixedNumericTestV2000.mdb");
    auto freeBefore = orig->usageMapPages(RowPointer{1, 0});
    for (uint32_t p = 0; p < pagesBefore; ++p)
      if (!std::binary_search(freeBefore.begin(), freeBefore.end(), p)) ++inUseBefore;
  }
  EXPECT_LE(inUse, inUseBefore + 1) << "pages in use grew although every added row is gone";
}

// Long-value pages of all columns look alike: a page one column gave back and another
// column then took must not be used (or listed) by the first one again.
TEST_F(LongValueTest, APageAColumnGaveBackStaysWithTheColumnThatTookIt) {
  open("jet3/test2V1997.mdb");
  if (!db_) return;
  auto def = db_->table(u"MSP_PROJECTS");
  const int id = def->findColumn(u"PROJ_ID"), name = def->findColumn(u"PROJ_NAME");
  const int author = def->findColumn(u"PROJ_PROP_AUTHOR"), title = def->findColumn(u"PROJ_PROP_TITLE");
  ASSERT_TRUE(id >= 0 && name >= 0 && author >= 0 && title >= 0);
  TableModel model = TableModel::read(*db_, u"MSP_PROJECTS");
  auto rowWith = [&](int32_t key, int column, size_t chars) {
    Row r(def->columns.size());
    for (size_t i = 0; i < r.size(); ++i)
      if (def->columns[i].type == ColType::Bool) r[i] = Value(false);
    r[id] = Value(key);
    r[name] = Value(u"p" + std::u16string(1, char16_t(u'a' + key % 26)) + std::u16string(1, char16_t(u'a' + key / 26)));
    r[column] = Value(std::u16string(chars, u'w'));
    return r;
  };
  {
    WriteUnit unit(*db_);
    TableWriter w(unit, u"MSP_PROJECTS");
    const RowId first = w.insert(rowWith(100, author, 6000));  // a chain on new pages
    w.remove(first);                                           // ... given back
    const RowId second = w.insert(rowWith(101, title, 1500));  // another column takes one
    const RowId third = w.insert(rowWith(102, author, 300));   // the first column writes again
    model.rows[test::rowKey(second)] = w.read(second);
    model.rows[test::rowKey(third)] = w.read(third);
    unit.commit();
  }
  verify(u"MSP_PROJECTS", model);
}

}  // namespace
}  // namespace bv::storage
