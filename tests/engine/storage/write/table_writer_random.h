// The randomized differential run behind the TableWriter tests: random inserts, updates
// and deletes on a copy of a fixture table, checked against an in-memory model after
// every committed batch (see table_writer_random_test.cpp).
#pragma once

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <set>

#include "engine/storage/table_writer.h"
#include "engine/storage/text_key.h"
#include "engine/storage/write_unit.h"
#include "tests/engine/storage/storage_test_util.h"
#include "tests/engine/storage/write/random_values.h"
#include "tests/engine/storage/write/table_model.h"

namespace bv::storage::randomized {

using test::Row;
using test::TableModel;

struct Scenario {
  const char* file;  // under the fixtures folder
  const char16_t* table;
  uint32_t seed;
  int batches;
  int opsPerBatch;
  bool exportEveryBatch = true;
};

inline void PrintTo(const Scenario& s, std::ostream* os) { *os << s.file << " " << toUtf8(s.table); }

// Errors a row may legitimately be refused with; the model then stays as it was.
inline bool expectedRefusal(int number) {
  return number == 3022 || number == 3058 || number == kErrKeyNotEncodable || number == 3047;
}

class RandomOps {
 public:
  RandomOps(Database& db, const TableDef& def, uint32_t seed) : gen_(seed, db), def_(def) {
    for (const RealIndexDef& ix : def.realIndexes)
      for (const IndexColumn& ic : ix.columns)
        if (int pos = def.columnByNumber(ic.columnNumber); pos >= 0) keyColumns_.insert(static_cast<size_t>(pos));
    // Columns that refer to another table take only values rows already have (or Null), so
    // that every reference still finds its row.
    for (const IndexDef& ix : def.indexes)
      if (ix.foreignKey && ix.fkSide == 2)  // the referring end (the referred-to end has 1)
        for (const IndexColumn& ic : ix.columns)
          if (int pos = def.columnByNumber(ic.columnNumber); pos >= 0) references_.insert(static_cast<size_t>(pos));
  }

  // A new row; index columns often take a value some row already has (colliding keys).
  Row newRow(const TableModel& m) {
    Row r = gen_.row(def_, /*longValuesInRow=*/false);
    for (size_t c : keyColumns_)
      if (!m.rows.empty() && gen_.chance(0.3)) r[c] = pick(m)[c];
    for (size_t c : references_) r[c] = m.rows.empty() || gen_.chance(0.3) ? Value() : pick(m)[c];
    for (size_t c = 0; c < def_.columns.size(); ++c)
      if (def_.columns[c].autoNumber) r[c] = Value();  // the table hands out the number
    return r;
  }

  // Some columns of an existing row changed.
  Row changed(const Row& old, const TableModel& m) {
    Row r = old;
    const Row fresh = newRow(m);
    for (size_t c = 0; c < r.size(); ++c)
      if (!def_.columns[c].autoNumber && !def_.columns[c].guidAutoNumber && gen_.chance(0.4)) r[c] = fresh[c];
    return r;
  }

  const Row& pick(const TableModel& m) { return std::next(m.rows.begin(), gen_.below(static_cast<int>(m.rows.size())))->second; }
  uint32_t pickKey(const TableModel& m) {
    return std::next(m.rows.begin(), gen_.below(static_cast<int>(m.rows.size())))->first;
  }
  int below(int n) { return gen_.below(n); }

 private:
  test::RandomValues gen_;
  const TableDef& def_;
  std::set<size_t> keyColumns_;
  std::set<size_t> references_;
};

inline std::pair<std::vector<uint32_t>, std::vector<Bytes>> snapshot(const Database& db, const WriteUnit& unit) {
  std::vector<Bytes> images;
  const auto pages = unit.changedPages();
  for (uint32_t p : pages) images.emplace_back(db.page(p).data(), db.page(p).data() + unit.pageSize());
  return {pages, images};
}

inline void run(const Scenario& s) {
  const std::string src = test::fixturesDir() + "/" + s.file;
  if (!std::filesystem::exists(src)) GTEST_SKIP() << "fixture absent: " << src;
  SCOPED_TRACE(std::string(s.file) + " " + toUtf8(s.table));
  test::TempCopy copy(src);
  auto db = Database::open(copy.path(), OpenMode::ReadWrite);
  TableModel model = TableModel::read(*db, s.table);
  auto def = db->table(s.table);
  RandomOps ops(*db, *def, s.seed);
  const bool mdb = test::haveMdbExport();
  size_t done[3] = {0, 0, 0}, refused = 0;
  for (int batch = 0; batch < s.batches; ++batch) {
    SCOPED_TRACE("batch " + std::to_string(batch));
    {
      WriteUnit unit(*db, WriteOptions{.durable = false});
      TableWriter w(unit, s.table);
      for (int n = 0; n < s.opsPerBatch; ++n) {
        const int kind = model.rows.empty() ? 0 : ops.below(10) < 4 ? 0 : ops.below(10) < 6 ? 1 : 2;
        // Small units are compared page by page around refused calls.
        const bool watch = unit.changedPages().size() < 64;
        const auto before = watch ? snapshot(*db, unit) : decltype(snapshot(*db, unit)){};
        try {
          if (kind == 0) {
            Row r = ops.newRow(model);
            const RowId id = w.insert(r);
            const Row back = w.read(id);
            for (size_t c = 0; c < r.size(); ++c)
              if (def->columns[c].autoNumber || (def->columns[c].guidAutoNumber && r[c].isNull())) r[c] = back[c];
            ASSERT_FALSE(model.rows.count(test::rowKey(id))) << "a live row id was handed out again";
            model.rows[test::rowKey(id)] = r;
          } else if (kind == 1) {
            const uint32_t key = ops.pickKey(model);
            Row r = ops.changed(model.rows[key], model);
            w.update(test::rowIdOf(key), r);
            model.rows[key] = r;
          } else {
            const uint32_t key = ops.pickKey(model);
            w.remove(test::rowIdOf(key));
            model.rows.erase(key);
          }
          ++done[kind];
        } catch (const JetError& e) {
          ASSERT_TRUE(expectedRefusal(e.number())) << "operation " << kind << ": " << e.number() << " " << e.what();
          ++refused;
          if (watch) ASSERT_EQ(snapshot(*db, unit), before) << "a refused call changed pages: " << e.what();
        }
      }
      unit.commit();
    }
    test::expectTableMatches(*db, s.table, model);
    test::expectCheckPasses(*db);
    if (mdb && (s.exportEveryBatch || batch + 1 == s.batches)) test::expectMdbExportAgrees(*db, copy.path(), s.table);
    if (::testing::Test::HasFailure()) return;
  }
  // The run must have exercised every kind of change.
  EXPECT_GT(done[0], 0u);
  EXPECT_GT(done[1], 0u);
  EXPECT_GT(done[2], 0u);
  std::printf("  %s %s: %zu inserts, %zu updates, %zu deletes, %zu refused, %zu rows at the end\n", s.file,
              toUtf8(s.table).c_str(), done[0], done[1], done[2], refused, model.rows.size());
}

}  // namespace bv::storage::randomized
