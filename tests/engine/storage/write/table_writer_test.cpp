// TableWriter on Access-made tables: rows inserted, updated and deleted read back as
// written after commit, counters and usage maps stay exact (our check passes), mdb-export
// reads the same rows; rows that outgrow their page move behind a forwarding pointer and
// keep their id; AutoNumbers are never handed out twice; a call that fails changes nothing.
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
#include "tests/engine/storage/write/table_writer_fixture.h"

namespace bv::storage {
namespace {

using test::Row;
using test::TableModel;

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

// Fixed-size, unindexed columns changed where they lie give the bytes a whole rewrite of
// the row gives (Nulls and Yes/No included), read back as written on Access-made rows, and
// anything else is left to update() with nothing written.
TEST_F(TableWriterTest, FixedColumnsChangedInPlaceEqualAWholeRewrite) {
  for (const char* rel : {"jet4/testV2000.mdb", "jet3/testV1997.mdb"}) {
    SCOPED_TRACE(rel);
    open(rel);
    if (!db_) return;
    TableModel model = TableModel::read(*db_, u"Table1");  // A, B indexed Text; C..I fixed
    ASSERT_FALSE(model.rows.empty());
    const std::vector<int> cols{2, 3, 4, 5, 6, 7, 8};
    const std::vector<std::vector<Value>> sets{
        {Value(uint8_t{7}), Value(int16_t{-3}), Value(int32_t{123456}), Value(2.5), Value(DateTime{40000.25}),
         Value(Currency{-12345}), Value(true)},
        {Value(), Value(), Value(), Value(), Value(), Value(), Value(false)},
        {Value(uint8_t{255}), Value(), Value(int32_t{-1}), Value(), Value(DateTime{-1.5}), Value(), Value(true)}};
    {
      WriteUnit unit(*db_);
      TableWriter w(unit, u"Table1");
      // Access's own rows, changed in place.
      size_t n = 0;
      for (auto& [key, row] : model.rows) {
        const auto& vals = sets[n++ % sets.size()];
        ASSERT_TRUE(w.updateFixed(test::rowIdOf(key), cols, vals));
        for (size_t k = 0; k < cols.size(); ++k) row[static_cast<size_t>(cols[k])] = vals[k];
        EXPECT_EQ(w.read(test::rowIdOf(key)), row);
      }
      // Rows of ours: changed in place, then rewritten whole with the same values.
      auto bytesOf = [&](RowId id) {
        const Database::RowBytes rb = db_->rowBytes(id.page, id.row);
        return Bytes(rb.data(), rb.data() + rb.size());
      };
      for (const auto& vals : sets) {
        Row r = textRow(w.table(), u"ours" + std::u16string(1, char16_t(u'0' + n++)));
        for (int c : cols) r[static_cast<size_t>(c)] = Value();
        r[8] = Value(false);
        const RowId a = w.insert(r);
        ASSERT_TRUE(w.updateFixed(a, cols, vals));
        const Bytes inPlace = bytesOf(a);
        for (size_t k = 0; k < cols.size(); ++k) r[static_cast<size_t>(cols[k])] = vals[k];
        w.update(a, r);
        EXPECT_EQ(inPlace, bytesOf(a));
        model.rows[test::rowKey(a)] = r;
      }
      // An indexed or variable column, a bad value or a deleted row: nothing is written.
      const RowId some = test::rowIdOf(model.rows.begin()->first);
      const auto before = snapshot(unit);
      EXPECT_FALSE(w.updateFixed(some, std::vector<int>{0}, std::vector<Value>{Value(u"x")}));
      EXPECT_FALSE(w.updateFixed(some, std::vector<int>{4, 1}, std::vector<Value>{Value(int32_t{1}), Value(u"x")}));
      EXPECT_EQ(errorOf([&] { w.updateFixed(some, std::vector<int>{4}, std::vector<Value>{Value(u"text")}); }),
                kErrConversion);
      EXPECT_EQ(snapshot(unit), before);
      Row goneRow = textRow(w.table(), u"gone");
      for (int c : cols) goneRow[static_cast<size_t>(c)] = Value();
      const RowId gone = w.insert(goneRow);
      w.remove(gone);
      EXPECT_FALSE(w.updateFixed(gone, std::vector<int>{4}, std::vector<Value>{Value(int32_t{1})}));
      unit.commit();
    }
    verify(u"Table1", model);
    copy_.reset();
    db_.reset();
  }
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
