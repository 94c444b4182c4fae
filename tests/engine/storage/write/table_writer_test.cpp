// TableWriter on Access-made tables: rows inserted, updated and deleted read back as
// written after commit, counters and usage maps stay exact (our check passes), mdb-export
// reads the same rows; rows that outgrow their page move behind a forwarding pointer and
// keep their id; long values of every size are written, rewritten and freed; a call that
// fails changes nothing.
#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <set>

#include "engine/storage/data_page_edit.h"
#include "engine/storage/row_encode.h"
#include "engine/storage/table_writer.h"
#include "engine/storage/write_unit.h"
#include "tests/engine/storage/storage_test_util.h"
#include "tests/engine/storage/write/random_values.h"
#include "tests/engine/storage/write/table_model.h"

namespace bv::storage {
namespace {

using test::Row;
using test::TableModel;

class TableWriterTest : public ::testing::Test {
 protected:
  void open(const std::string& rel) {
    const std::string src = test::fixturesDir() + "/" + rel;
    if (!std::filesystem::exists(src)) GTEST_SKIP() << "fixture absent: " << src;
    copy_ = std::make_unique<test::TempCopy>(src);
    db_ = Database::open(copy_->path(), OpenMode::ReadWrite);
  }
  // Everything a committed change must satisfy.
  void verify(std::u16string_view table, const TableModel& model) {
    test::expectTableMatches(*db_, table, model);
    test::expectCheckPasses(*db_);
    if (test::haveMdbExport()) test::expectMdbExportAgrees(*db_, copy_->path(), table);
  }
  static int errorOf(const std::function<void()>& f) {
    try {
      f();
    } catch (const JetError& e) {
      return e.number();
    }
    return 0;
  }
  // Every page the unit changed, with its bytes.
  std::pair<std::vector<uint32_t>, std::vector<Bytes>> snapshot(const WriteUnit& unit) const {
    std::vector<Bytes> images;
    for (uint32_t p : unit.changedPages()) images.emplace_back(db_->page(p).data(), db_->page(p).data() + unit.pageSize());
    return {unit.changedPages(), images};
  }
  std::unique_ptr<test::TempCopy> copy_;
  std::unique_ptr<Database> db_;
};

Row textRow(const TableDef& t, const std::u16string& fill) {
  Row r;
  for (size_t i = 0; i < t.columns.size(); ++i) r.push_back(Value(fill + char16_t(u'a' + i)));
  return r;
}

TEST_F(TableWriterTest, InsertUpdateDeleteReadBackAfterCommitJet4AndJet3) {
  for (const char* rel : {"jet4/overflowTestV2000.mdb", "jet3/overflowTestV1997.mdb"}) {
    SCOPED_TRACE(rel);
    open(rel);
    if (!db_) return;
    TableModel model = TableModel::read(*db_, u"Table1");
    const size_t before = model.rows.size();
    {
      WriteUnit unit(*db_);
      TableWriter w(unit, u"Table1");
      for (int i = 0; i < 300; ++i) {
        Row r = textRow(w.table(), u"row" + std::u16string(1, char16_t(u'0' + i % 10)));
        r[i % r.size()] = Value();  // a Null somewhere
        const RowId id = w.insert(r);
        EXPECT_EQ(w.read(id), r);
        model.rows[test::rowKey(id)] = r;
      }
      EXPECT_EQ(w.table().rowCount, before + 300);
      int n = 0;
      for (auto it = model.rows.begin(); it != model.rows.end(); ++n) {
        const RowId id = test::rowIdOf(it->first);
        if (n % 3 == 0) {
          w.remove(id);
          it = model.rows.erase(it);
          continue;
        }
        if (n % 3 == 1) {
          Row r = textRow(w.table(), u"changed");
          w.update(id, r);
          it->second = r;
        }
        ++it;
      }
      unit.commit();
    }
    verify(u"Table1", model);
    copy_.reset();
    db_.reset();
  }
}

TEST_F(TableWriterTest, RowsThatOutgrowTheirPageMoveAndKeepTheirIds) {
  open("jet4/overflowTestV2000.mdb");
  if (!db_) return;
  TableModel model = TableModel::read(*db_, u"Table1");
  std::vector<RowId> ids;
  {
    WriteUnit unit(*db_);
    TableWriter w(unit, u"Table1");
    // Short rows fill pages; growing them then cannot fit where they are.
    for (int i = 0; i < 200; ++i) {
      const Row r = textRow(w.table(), u"x");
      ids.push_back(w.insert(r));
      model.rows[test::rowKey(ids.back())] = r;
    }
    unit.commit();
  }
  std::vector<size_t> movedPerRound;
  for (int round = 0; round < 3; ++round) {
    WriteUnit unit(*db_);
    TableWriter w(unit, u"Table1");
    size_t moved = 0;
    for (size_t i = 0; i < ids.size(); i += 2) {
      // Grow, grow more (an already moved row moves again or grows where it is), then shrink
      // back so that the row returns to its own page.
      const std::u16string fill = round == 0 ? std::u16string(30, u'\u0416')
                                 : round == 1 ? std::u16string(45, u'\u05D0')
                                              : u"s";
      const Row r = textRow(w.table(), fill);
      w.update(ids[i], r);
      model.rows[test::rowKey(ids[i])] = r;
      EXPECT_EQ(w.read(ids[i]), r);
      const Database::RowBytes rb = db_->rowBytes(ids[i].page, ids[i].row);
      if (rb.slotFlags & kRowOverflow) ++moved;
    }
    movedPerRound.push_back(moved);
    if (round < 2) EXPECT_GT(moved, 10u) << "round " << round;
    // Shrunk rows go back to their own page where it has room again (other rows' moved
    // copies may have taken it).
    if (round == 2) EXPECT_LT(moved * 4, movedPerRound[1]) << "shrunk rows should mostly be back home";
    // Deleting moved rows frees both slots.
    if (round == 1)
      for (size_t i = 0; i < ids.size(); i += 10) {
        w.remove(ids[i]);
        model.rows.erase(test::rowKey(ids[i]));
      }
    unit.commit();
    verify(u"Table1", model);
    ids.erase(std::remove_if(ids.begin(), ids.end(), [&](RowId id) { return !model.rows.count(test::rowKey(id)); }),
              ids.end());
  }
}

// Long values: sizes around every boundary (in the row, one LVAL row, chains of pages).
TEST_F(TableWriterTest, LongValuesOfEverySizeAreWrittenRewrittenAndFreed) {
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
TEST_F(TableWriterTest, APageAColumnGaveBackStaysWithTheColumnThatTookIt) {
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

TEST_F(TableWriterTest, AFailedCallChangesNothing) {
  open("jet4/overflowTestV2000.mdb");
  if (!db_) return;
  WriteUnit unit(*db_);
  TableWriter w(unit, u"Table1");
  const RowId id = w.insert(textRow(w.table(), u"ok"));
  const auto before = snapshot(unit);
  Row tooLong = textRow(w.table(), u"ok");
  tooLong.back() = Value(std::u16string(51, u'z'));
  EXPECT_EQ(errorOf([&] { w.insert(tooLong); }), kErrFieldTooSmall);
  EXPECT_EQ(errorOf([&] { w.update(id, tooLong); }), kErrFieldTooSmall);
  EXPECT_EQ(errorOf([&] { w.insert(Row(3)); }), kErrConversion);
  EXPECT_EQ(snapshot(unit), before);
  w.remove(id);
  const auto afterRemove = snapshot(unit);
  EXPECT_EQ(errorOf([&] { w.update(id, textRow(w.table(), u"gone")); }), 3167);
  EXPECT_EQ(errorOf([&] { w.remove(id); }), 3167);
  EXPECT_EQ(errorOf([&] { w.read(id); }), 3167);
  EXPECT_EQ(snapshot(unit), afterRemove);
}

TEST_F(TableWriterTest, RefusedCallsLeaveEveryPageAsItWas) {
  open("jet3/overflowTestV1997.mdb");
  if (!db_) return;
  WriteUnit unit(*db_);
  TableWriter w(unit, u"Table1");
  const RowId id = w.insert(textRow(w.table(), u"ok"));
  const auto before = snapshot(unit);
  Row bad = textRow(w.table(), u"ok");
  bad[2] = Value(u"\u4E2D");  // not in code page 1252
  EXPECT_EQ(errorOf([&] { w.insert(bad); }), kErrConversion);
  EXPECT_EQ(errorOf([&] { w.update(id, bad); }), kErrConversion);
  EXPECT_EQ(snapshot(unit), before);
}

TEST_F(TableWriterTest, AutoNumbersAreHandedOutOnceAndTheCounterIsStored) {
  open("jet4/testV2000.mdb");
  if (!db_) return;
  TableModel model = TableModel::read(*db_, u"Table3");  // a COUNTER primary key, b Text
  const uint32_t start = db_->table(u"Table3")->autoNumber;
  std::vector<RowId> ids;
  {
    WriteUnit unit(*db_);
    TableWriter w(unit, u"Table3");
    auto add = [&](Value a, const char16_t* b) {
      const RowId id = w.insert(Row{a, Value(b)});
      ids.push_back(id);
      model.rows[test::rowKey(id)] = w.read(id);
      return *w.read(id)[0].get<int32_t>();
    };
    EXPECT_EQ(add(Value(), u"one"), static_cast<int32_t>(start + 1));
    EXPECT_EQ(add(Value(), u"two"), static_cast<int32_t>(start + 2));
    EXPECT_EQ(add(Value(int32_t{1000}), u"given"), 1000);  // an explicit value raises the counter
    EXPECT_EQ(add(Value(), u"after"), 1001);
    EXPECT_EQ(add(Value(int32_t{500}), u"below"), 500);    // a lower one leaves it
    // A number taken by a deleted row is not handed out again.
    w.remove(ids[3]);
    model.rows.erase(test::rowKey(ids[3]));
    EXPECT_EQ(add(Value(), u"next"), 1002);
    // Updating with the AutoNumber given as Null keeps the row's number.
    Row r = model.rows[test::rowKey(ids[0])];
    r[0] = Value();
    r[1] = Value(u"changed");
    w.update(ids[0], r);
    EXPECT_EQ(w.read(ids[0])[0], Value(static_cast<int32_t>(start + 1)));
    model.rows[test::rowKey(ids[0])] = w.read(ids[0]);
    EXPECT_EQ(w.table().autoNumber, 1002u);
    unit.commit();
  }
  EXPECT_EQ(db_->table(u"Table3")->autoNumber, 1002u);
  verify(u"Table3", model);
}

TEST_F(TableWriterTest, ReplicationIdsAreNewGuids) {
  open("jet4/testV2000.mdb");
  if (!db_) return;
  TableModel model = TableModel::read(*db_, u"Table4");  // name Text, data GUID AutoNumber
  {
    WriteUnit unit(*db_);
    TableWriter w(unit, u"Table4");
    std::set<std::array<uint8_t, 16>> seen;
    for (int i = 0; i < 50; ++i) {
      const RowId id = w.insert(Row{Value(u"n" + std::u16string(1, char16_t(u'a' + i % 26))), Value()});
      const Row back = w.read(id);
      const Guid* g = back[1].get<Guid>();
      ASSERT_NE(g, nullptr);
      EXPECT_TRUE(seen.insert(g->bytes).second);
      EXPECT_EQ(g->bytes[7] >> 4, 4);  // a random (version 4) GUID
      model.rows[test::rowKey(id)] = back;
    }
    unit.commit();
  }
  verify(u"Table4", model);
}

}  // namespace
}  // namespace bv::storage
