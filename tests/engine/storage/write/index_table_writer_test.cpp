// Indexes kept through the row writer: random inserts, updates and deletes on indexed
// fixture tables, Jet 3 and Jet 4. After each committed batch the whole file passes `check`
// (every entry tied to its row, key bytes equal to the row's values, unique flags against
// the data), and a refused change leaves the unit's pages as they were.
#include <gtest/gtest.h>

#include <map>
#include <random>

#include "engine/storage/error.h"
#include "engine/storage/table_writer.h"
#include "engine/storage/text_key.h"
#include "engine/storage/write_unit.h"
#include "tests/engine/storage/write/index_test_util.h"

namespace bv::storage {
namespace {

using indextest::joined;
using indextest::walkIndex;
using indextest::WritableCopy;

struct Case {
  const char* file;
  const char* table;
};

void PrintTo(const Case& c, std::ostream* os) { *os << c.file << " " << c.table; }

// A value for an indexed column: drawn from a small set so that keys collide.
Value randomValue(std::mt19937& rng, const ColumnDef& c) {
  if (rng() % 12 == 0) return Value();
  static const char16_t* kTexts[] = {u"alpha", u"Alpha", u"beta", u"gamma-ray", u"délta", u"épsilon", u"z",
                                     u"", u"long value of many words to give a long key", u"12 345"};
  switch (c.type) {
    case ColType::Long: return Value(static_cast<int32_t>(rng() % 40) - 5);
    case ColType::Integer: return Value(static_cast<int16_t>(rng() % 40));
    case ColType::Byte: return Value(static_cast<uint8_t>(rng() % 40));
    case ColType::Double: return Value(static_cast<double>(rng() % 40) / 4);
    case ColType::Bool: return Value(rng() % 2 == 0);
    case ColType::Text: {
      std::u16string s = kTexts[rng() % 10];
      if (rng() % 3 == 0) s += static_cast<char16_t>(u'a' + rng() % 26);
      return Value(s);
    }
    default: return Value();
  }
}

bool indexed(const TableDef& t, const ColumnDef& c) {
  for (const RealIndexDef& ri : t.realIndexes)
    for (const IndexColumn& ic : ri.columns)
      if (ic.columnNumber == c.number) return true;
  return false;
}

class ThroughRowWriter : public ::testing::TestWithParam<Case> {};

TEST_P(ThroughRowWriter, EveryIndexFollowsInsertsUpdatesAndDeletes) {
  WritableCopy w(GetParam().file);
  BV_NEED_FIXTURE(w);
  const std::u16string name = fromUtf8(GetParam().table);
  std::mt19937 rng(11);
  std::vector<RowId> live;
  {
    TableCursor c = w.db->scan(*w.db->table(name));
    while (c.next()) live.push_back(c.rowId());
  }
  size_t refused = 0, done = 0;
  for (int batch = 0; batch < 4; ++batch) {
    {
      WriteUnit unit(*w.db);
      TableWriter tw(unit, name);
      const TableDef t = tw.table();
      for (int op = 0; op < 150; ++op) {
        const int kind = live.empty() ? 0 : static_cast<int>(rng() % 4);  // 0,1 insert; 2 update; 3 delete
        std::vector<Value> row(t.columns.size());
        const size_t pick = live.empty() ? 0 : rng() % live.size();
        if (kind == 2) row = tw.read(live[pick]);
        for (size_t i = 0; i < t.columns.size(); ++i) {
          const ColumnDef& c = t.columns[i];
          if (c.autoNumber || c.guidAutoNumber) {
            if (kind != 2) row[i] = Value();
          } else if (indexed(t, c) && (kind != 2 || rng() % 2)) {
            row[i] = randomValue(rng, c);
          }
        }
        const auto before = unit.changedPages();
        std::vector<std::vector<uint8_t>> bytes;
        for (uint32_t p : before) bytes.emplace_back(unit.page(p).data(), unit.page(p).data() + unit.pageSize());
        try {
          if (kind == 3) {
            tw.remove(live[pick]);
            live.erase(live.begin() + static_cast<std::ptrdiff_t>(pick));
          } else if (kind == 2) {
            tw.update(live[pick], row);
          } else {
            live.push_back(tw.insert(row));
          }
          ++done;
        } catch (const JetError& e) {
          ASSERT_TRUE(e.number() == 3022 || e.number() == 3058) << e.what();
          ++refused;
          // Refused before anything was written.
          ASSERT_EQ(unit.changedPages(), before) << e.what();
          for (size_t k = 0; k < before.size(); ++k)
            ASSERT_TRUE(std::equal(bytes[k].begin(), bytes[k].end(), unit.page(before[k]).data())) << e.what();
        }
      }
      unit.commit();
    }
    w.reopen();
    const CheckReport r = checkDatabase(*w.db);
    ASSERT_TRUE(r.ok()) << "batch " << batch << "\n" << joined(r.problems);
    auto t = w.db->table(name);
    EXPECT_EQ(t->rowCount, live.size());
  }
  EXPECT_GT(done, 300u);
  RecordProperty("refused", static_cast<int>(refused));
}

INSTANTIATE_TEST_SUITE_P(Fixtures, ThroughRowWriter,
                         ::testing::Values(Case{"jet3/testIndexCodesV1997.mdb", "Table11"},
                                           Case{"jet3/indexTestV1997.mdb", "Table1"},
                                           Case{"jet3/compIndexTestV1997.mdb", "Table1"},
                                           Case{"jet4/testIndexPropertiesV2000.mdb", "TableUnique2_temp"},
                                           Case{"jet4/testIndexPropertiesV2003.mdb", "TableIgnoreNulls2"},
                                           Case{"jet4/compIndexTestV2003.mdb", "Table1"},
                                           Case{"jet4/indexTestV2000.mdb", "Table1"}),
                         [](const auto& info) {
                           return std::filesystem::path(info.param.file).stem().string() + "_" + info.param.table;
                         });

// A table whose text index uses a sort order this engine has no keys for: deleting or
// updating a row is refused naming the index, and nothing is written.
TEST(ThroughRowWriterRefusals, UnsupportedSortOrderRefusesDeleteAndUpdateBeforeWriting) {
  WritableCopy w("jet4/testIndexPropertiesV2000.mdb");
  BV_NEED_FIXTURE(w);
  auto t = w.db->table(u"TableUnique1_temp");
  const int data = t->findColumn(u"data");
  ASSERT_GE(data, 0);
  // Rewrite the column's sort order in its descriptor (Jet 4: after the 63-byte header and
  // 12 bytes per real index, 25 bytes per descriptor; the LCID at +11).
  size_t desc = 0;
  bool found = false;
  for (size_t i = 0; i < t->columns.size(); ++i) {
    const size_t at = 63 + 12 * t->realIndexes.size() + 25 * i;
    if ((t->raw[at + 5] | t->raw[at + 6] << 8) == t->columns[data].number) desc = at, found = true;
  }
  ASSERT_TRUE(found);
  ASSERT_LT(desc + 13, w.db->pageSize());
  w.db.reset();
  w.copy->write([&] {
    auto bytes = w.copy->read();
    const size_t at = static_cast<size_t>(t->tdefPage) * 4096 + desc + 11;
    bytes[at] = 0x0C;  // 1036 (0x040C)
    bytes[at + 1] = 0x04;
    return bytes;
  }());
  w.reopen();
  RowId first;
  {
    TableCursor c = w.db->scan(*w.db->table(u"TableUnique1_temp"));
    ASSERT_TRUE(c.next());
    first = c.rowId();
  }
  WriteUnit unit(*w.db);
  TableWriter tw(unit, u"TableUnique1_temp");
  const std::vector<Value> row = tw.read(first);
  for (int attempt = 0; attempt < 2; ++attempt) {
    try {
      if (attempt == 0) tw.remove(first);
      else tw.update(first, row);
      ADD_FAILURE() << "the change was made";
    } catch (const JetError& e) {
      EXPECT_EQ(e.number(), kErrKeyNotEncodable) << e.what();
      EXPECT_NE(std::string(e.what()).find("'DataIndex'"), std::string::npos) << e.what();
    }
    EXPECT_TRUE(unit.changedPages().empty());
  }
}

}  // namespace
}  // namespace bv::storage
