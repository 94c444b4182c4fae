// Index trees under random insertion and removal: after every committed batch each index
// read back in tree order equals a sorted model of its entries, and the file passes the
// structural part of `check` (pages, order, parents, siblings, tails, page maps).
#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <random>
#include <set>

#include "engine/storage/error.h"
#include "engine/storage/index_page.h"
#include "engine/storage/index_tree_edit.h"
#include "engine/storage/index_writer.h"
#include "engine/storage/key_encode.h"
#include "engine/storage/write_unit.h"
#include "tests/engine/storage/write/index_test_util.h"

namespace bv::storage {
namespace {

using indextest::joined;
using indextest::structuralProblems;
using indextest::walkIndex;
using indextest::WritableCopy;

using Row = std::vector<Value>;
using Model = std::map<std::pair<uint32_t, uint8_t>, Row>;  // row id -> values

// The entries the model says index `real` must hold, sorted as an index sorts them.
std::vector<IndexEntry> expectedEntries(const TableDef& t, size_t real, const Model& model, bool jet4) {
  const RealIndexDef& ri = t.realIndexes[real];
  std::vector<IndexEntry> out;
  for (const auto& [id, row] : model) {
    if ((ri.flags & 0x02) && allKeyColumnsNull(ri.columns, t, row)) continue;
    out.push_back(IndexEntry{encodeKey(ri, t, row, jet4), id.first, id.second, 0});
  }
  std::sort(out.begin(), out.end(), [](const IndexEntry& a, const IndexEntry& b) { return compareEntries(a, b) < 0; });
  return out;
}

Model readRows(const Database& db, const TableDef& t) {
  Model m;
  TableCursor c = db.scan(t);
  Row row;
  while (c.next()) {
    c.readRow(row);
    m[{c.rowId().page, c.rowId().row}] = row;
  }
  return m;
}

// Every page of every index of the table re-encodes to its own bytes (bitmask, free space
// and the bytes after the entries exact) and intermediate pages carry the marker byte
// Access writes.
void expectPagesCanonical(const Database& db, const TableDef& t) {
  const bool j4 = db.isJet4();
  for (const RealIndexDef& ri : t.realIndexes) {
    for (uint32_t n : db.usageMapPages(ri.usageMap)) {
      PageRef p = db.page(n);
      const std::span<const uint8_t> bytes(p.data(), p.size());
      IndexPage ip = decodeIndexPage(bytes, j4, n);
      const int prefix = ip.entries.size() >= 2 ? static_cast<int>(ip.prefixLength) : -1;
      EXPECT_TRUE(std::equal(bytes.begin(), bytes.end(), encodeIndexPage(ip, j4, prefix).begin())) << "page " << n;
      EXPECT_EQ(p[j4 ? 26 : 21], ip.leaf() ? 0 : 1) << "page " << n;
    }
  }
}

int treeDepth(const Database& db, const RealIndexDef& ri) {
  int depth = 1;
  uint32_t n = ri.rootPage;
  while (true) {
    PageRef p = db.page(n);
    IndexPage ip = decodeIndexPage(std::span<const uint8_t>(p.data(), p.size()), db.isJet4(), n);
    if (ip.leaf()) return depth;
    n = ip.entries.empty() ? ip.tail : ip.entries.front().child;
    ++depth;
  }
}

void verifyAgainstModel(WritableCopy& w, const std::u16string& table, const Model& model, bool rowsAreReal) {
  w.reopen();
  auto t = w.db->table(table);
  for (size_t i = 0; i < t->realIndexes.size(); ++i) {
    const auto got = walkIndex(*w.db, *t, i);
    const auto want = expectedEntries(*t, i, model, w.db->isJet4());
    ASSERT_EQ(got.size(), want.size()) << "index " << i;
    for (size_t k = 0; k < got.size(); ++k) ASSERT_EQ(got[k], want[k]) << "index " << i << " entry " << k;
  }
  expectPagesCanonical(*w.db, *t);
  CheckOptions opt;
  opt.maxListed = 100000;
  const CheckReport r = checkDatabase(*w.db, opt);
  const auto problems = structuralProblems(r, !rowsAreReal);
  EXPECT_TRUE(problems.empty()) << joined(problems);
}

std::u16string randomText(std::mt19937& rng, size_t len, bool jet4) {
  static const char16_t kJ3[] = u"abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789 -'éèüÅçñß";
  static const char16_t kJ4[] = u"abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789 -'éèüÅçñßΩжあ中";
  const std::u16string_view set = jet4 ? std::u16string_view(kJ4) : std::u16string_view(kJ3);
  std::u16string s;
  for (size_t i = 0; i < len; ++i) s.push_back(set[rng() % set.size()]);
  return s;
}

struct Synthetic {
  const char* file;
  const char* table;
  const char* textColumns;  // comma-separated
  const char* longColumn;  // a unique Long column to fill, or nullptr
  size_t textLen;
  int rounds, opsPerRound;
  int minDepth;  // the tallest tree the test must have grown
};

void PrintTo(const Synthetic& s, std::ostream* os) { *os << s.file << " " << s.table; }

// Long text keys in random order with random removals force leaf and intermediate splits
// and new roots; removing everything at the end shrinks the tree back to one empty leaf.
class SyntheticEntries : public ::testing::TestWithParam<Synthetic> {};

TEST_P(SyntheticEntries, TreeMatchesTheModelThroughSplitsAndShrinking) {
  const Synthetic& s = GetParam();
  WritableCopy w(s.file);
  BV_NEED_FIXTURE(w);
  const std::u16string table = fromUtf8(s.table);
  Model model = readRows(*w.db, *w.db->table(table));
  const bool j4 = w.db->isJet4();
  std::mt19937 rng(20261209);
  std::vector<std::u16string> pool;  // reused values give equal keys on different rows
  uint32_t nextPage = 0x100000;
  int32_t nextLong = 1000000;
  int maxDepth = 0;

  for (int round = 0; round < s.rounds; ++round) {
    auto t = w.db->table(table);
    std::vector<int> textPos;
    for (std::string_view rest = s.textColumns; !rest.empty();) {
      const size_t comma = std::min(rest.find(','), rest.size());
      textPos.push_back(t->findColumn(fromUtf8(rest.substr(0, comma))));
      ASSERT_GE(textPos.back(), 0) << rest.substr(0, comma);
      rest.remove_prefix(std::min(comma + 1, rest.size()));
    }
    const int longPos = s.longColumn ? t->findColumn(fromUtf8(s.longColumn)) : -1;
    WriteUnit unit(*w.db);
    TableIndexes ix(unit, *t);
    const bool last = round + 1 == s.rounds;
    for (int op = 0; last ? !model.empty() : op < s.opsPerRound; ++op) {
      const bool remove = last || (!model.empty() && rng() % 10 < 3);
      if (remove) {
        auto it = model.begin();
        std::advance(it, rng() % model.size());
        ix.removeRow(it->second, RowId{it->first.first, it->first.second});
        model.erase(it);
        continue;
      }
      Row row(t->columns.size());
      for (size_t c = 0; c < textPos.size(); ++c) {
        if (!pool.empty() && rng() % 5 == 0) {
          row[textPos[c]] = pool[rng() % pool.size()];
        } else if (rng() % 20 == 0 && (c > 0 || s.longColumn)) {
          row[textPos[c]] = Value();  // Null keys sort first
        } else {
          pool.push_back(randomText(rng, s.textLen / 2 + rng() % s.textLen, j4));
          row[textPos[c]] = pool.back();
        }
      }
      if (longPos >= 0) row[longPos] = nextLong++;
      const RowId id{nextPage + static_cast<uint32_t>(model.size() / 200), static_cast<uint8_t>(rng())};
      if (model.count({id.page, id.row})) continue;
      try {
        ix.check(row, nullptr);
      } catch (const JetError& e) {
        if (e.number() != 3022) throw;
        continue;  // a reused value in a unique index
      }
      ix.insertRow(row, id);
      model[{id.page, id.row}] = row;
    }
    unit.commit();
    verifyAgainstModel(w, table, model, false);
    if (HasFatalFailure()) return;
    auto after = w.db->table(table);
    for (const RealIndexDef& ri : after->realIndexes) maxDepth = std::max(maxDepth, treeDepth(*w.db, ri));
  }
  EXPECT_GE(maxDepth, s.minDepth) << "the trees did not grow as tall as the test needs";
  auto t = w.db->table(table);
  for (const RealIndexDef& ri : t->realIndexes) {
    EXPECT_EQ(treeDepth(*w.db, ri), 1);
    EXPECT_EQ(w.db->usageMapPages(ri.usageMap), std::vector<uint32_t>{ri.rootPage});
    EXPECT_EQ(ri.distinctKeys, 0u);
  }
}

INSTANTIATE_TEST_SUITE_P(
    Fixtures, SyntheticEntries,
    ::testing::Values(Synthetic{"jet3/testIndexCodesV1997.mdb", "Table11", "data", "id", 150, 4, 500, 3},
                      Synthetic{"jet4/bigIndexTestV2000.mdb", "Table1", "col1", nullptr, 180, 4, 900, 3},
                      // Definitions over two pages: some index blocks lie on the second page.
                      Synthetic{"jet3/testV1997.mdb", "Table2", "column1,column10,column14,column75", nullptr, 40, 3, 300, 2},
                      Synthetic{"jet4/testV2000.mdb", "Table2", "column1,column10,column14,column75", nullptr, 60, 3, 500, 2}),
    [](const auto& info) {
      return std::string(info.param.file).substr(0, 4) + "_" + info.param.table;
    });

// Keys arriving in ascending order fill pages completely: the split leaves everything but
// the new entry on the left page, as Access's own pages look after appends.
TEST(IndexTreeAppend, AscendingKeysLeaveFullPages) {
  WritableCopy w("jet4/bigIndexTestV2000.mdb");
  BV_NEED_FIXTURE(w);
  auto t = w.db->table(u"Table1");
  Model model;
  {
    WriteUnit unit(*w.db);
    TableIndexes ix(unit, *t);
    for (int i = 0; i < 3000; ++i) {
      Row row(t->columns.size());
      char buf[32];
      std::snprintf(buf, sizeof buf, "key %06d", i);
      row[t->findColumn(u"col1")] = fromUtf8(buf);
      const RowId id{0x200000 + static_cast<uint32_t>(i / 256), static_cast<uint8_t>(i % 256)};
      ix.insertRow(row, id);
      model[{id.page, id.row}] = row;
    }
    unit.commit();
  }
  verifyAgainstModel(w, u"Table1", model, false);
  t = w.db->table(u"Table1");
  EXPECT_EQ(t->realIndexes[0].distinctKeys, 3000u);
  std::vector<uint32_t> leaves;
  for (uint32_t n : w.db->usageMapPages(t->realIndexes[0].usageMap))
    if (w.db->page(n)[0] == kIndexLeafPage) leaves.push_back(n);
  ASSERT_GT(leaves.size(), 5u);
  size_t notFull = 0;
  for (uint32_t n : leaves) {
    PageRef p = w.db->page(n);
    IndexPage ip = decodeIndexPage(std::span<const uint8_t>(p.data(), p.size()), true, n);
    if (ip.next != 0 && ip.freeSpace > 30) ++notFull;
  }
  EXPECT_EQ(notFull, 0u);
}

// A second writer made in the same unit from a definition parsed before the first writer
// grew the tree starts from the root the unit now records, not the stale one.
TEST(IndexTreeRoot, LaterWriterInTheSameUnitSeesTheNewRoot) {
  WritableCopy w("jet4/bigIndexTestV2000.mdb");
  BV_NEED_FIXTURE(w);
  const auto stale = w.db->table(u"Table1");
  const int col = stale->findColumn(u"col1");
  std::mt19937 rng(3);
  Model model;
  {
    WriteUnit unit(*w.db);
    for (int writer = 0; writer < 2; ++writer) {
      TableIndexes ix(unit, *stale);
      for (int i = 0; i < 300; ++i) {
        Row row(stale->columns.size());
        row[col] = randomText(rng, 150, true);
        const RowId id{0x200000 + static_cast<uint32_t>(writer * 2 + i / 256), static_cast<uint8_t>(i)};
        ix.insertRow(row, id);
        model[{id.page, id.row}] = row;
      }
    }
    unit.commit();
  }
  verifyAgainstModel(w, u"Table1", model, false);
  EXPECT_NE(w.db->table(u"Table1")->realIndexes[0].rootPage, stale->realIndexes[0].rootPage);
}

// An entry looked up (as a removal is checked before the row changes) and removed after
// other edits split its leaf is found where the split moved it, not where it was seen.
TEST(IndexTreeRemove, EntrySeenBeforeASplitIsRemovedWhereItMoved) {
  WritableCopy w("jet4/compIndexTestV2003.mdb");
  BV_NEED_FIXTURE(w);
  const auto t = w.db->table(u"Table1");
  const RealIndexDef& ri = t->realIndexes[0];
  const std::vector<IndexEntry> before = walkIndex(*w.db, *t, 0);
  ASSERT_GT(before.size(), 10u);
  const IndexEntry e = before[before.size() / 2];
  {
    WriteUnit unit(*w.db);
    IndexTreeEditor ed(unit, t->tdefPage, ri.rootPage, ri.usageMap);
    ASSERT_TRUE(ed.contains(e));
    // Entries of the same key after it fill its leaf until it splits, which puts the
    // leaf's first part (and e) on a new page.
    std::vector<IndexEntry> added;
    for (uint32_t k = 0; k < 3000; ++k) {
      added.push_back(IndexEntry{e.key, 0xF00000 + k / 200, static_cast<uint8_t>(k % 200), 0});
      ed.insert(added.back());
    }
    ed.remove(e);
    EXPECT_FALSE(ed.contains(e));
    for (const IndexEntry& a : added) ed.remove(a);
    unit.commit();
  }
  std::vector<IndexEntry> expected = before;
  expected.erase(expected.begin() + static_cast<std::ptrdiff_t>(before.size() / 2));
  EXPECT_EQ(walkIndex(*w.db, *w.db->table(u"Table1"), 0), expected);
}

// Real rows: every row's entries are removed (pages empty out, tails are handed on, the
// tree shrinks) and put back in another order; the file then passes the whole check and
// every index holds exactly what Access wrote.
class RealRows : public ::testing::TestWithParam<const char*> {};

TEST_P(RealRows, RemovedAndRestoredEntriesEqualTheOriginalIndexes) {
  WritableCopy w(GetParam());
  BV_NEED_FIXTURE(w);
  std::mt19937 rng(7);
  for (const std::u16string& name : w.db->userTableNames()) {
    SCOPED_TRACE(toUtf8(name));
    auto t = w.db->table(name);
    if (t->realIndexes.empty()) continue;
    std::vector<std::vector<IndexEntry>> original;
    for (size_t i = 0; i < t->realIndexes.size(); ++i) original.push_back(walkIndex(*w.db, *t, i));
    const Model rows = readRows(*w.db, *t);
    std::vector<std::pair<RowId, Row>> order;
    for (const auto& [id, row] : rows) order.push_back({RowId{id.first, id.second}, row});

    for (int pass = 0; pass < 2; ++pass) {
      // Pass 0 takes out every row, pass 1 every other one.
      std::shuffle(order.begin(), order.end(), rng);
      const size_t n = pass == 0 ? order.size() : order.size() / 2;
      {
        WriteUnit unit(*w.db);
        TableIndexes ix(unit, *w.db->table(name));
        for (size_t k = 0; k < n; ++k) ix.removeRow(order[k].second, order[k].first);
        unit.commit();
      }
      Model left;
      for (size_t k = n; k < order.size(); ++k) left[{order[k].first.page, order[k].first.row}] = order[k].second;
      verifyAgainstModel(w, name, left, false);
      if (HasFatalFailure()) return;
      std::shuffle(order.begin(), order.begin() + static_cast<std::ptrdiff_t>(n), rng);
      {
        WriteUnit unit(*w.db);
        TableIndexes ix(unit, *w.db->table(name));
        for (size_t k = 0; k < n; ++k) {
          ix.check(order[k].second, nullptr);
          ix.insertRow(order[k].second, order[k].first);
        }
        unit.commit();
      }
      w.reopen();
      t = w.db->table(name);
      for (size_t i = 0; i < t->realIndexes.size(); ++i) EXPECT_EQ(walkIndex(*w.db, *t, i), original[i]);
    }
  }
  CheckOptions opt;
  const CheckReport r = checkDatabase(*w.db, opt);
  EXPECT_TRUE(r.ok()) << joined(r.problems);
}

INSTANTIATE_TEST_SUITE_P(Fixtures, RealRows,
                         ::testing::Values("jet3/indexTestV1997.mdb", "jet3/compIndexTestV1997.mdb",
                                           "jet3/testIndexCodesV1997.mdb", "jet4/indexTestV2000.mdb",
                                           "jet4/compIndexTestV2003.mdb", "jet4/testIndexPropertiesV2000.mdb"),
                         [](const auto& info) {
                           std::string s = std::filesystem::path(info.param).stem().string();
                           return s;
                         });

}  // namespace
}  // namespace bv::storage
