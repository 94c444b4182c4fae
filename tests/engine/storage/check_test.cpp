// `check` on the fixtures (all consistent) and on copies with one planted fault each.
#include <gtest/gtest.h>

#include <optional>

#include <algorithm>

#include "engine/storage/check.h"
#include "engine/storage/index_page.h"
#include "engine/storage/index_walk.h"
#include "tests/engine/storage/check_test_util.h"

using namespace bv::storage;
using bv::testutil::TempCopy;
namespace fs = std::filesystem;

namespace {

CheckReport checkFile(const std::string& path) {
  auto db = Database::open(path);
  return checkDatabase(*db);
}

std::string joined(const CheckReport& r) {
  std::string s;
  for (const auto& p : r.problems) s += p + "\n";
  return s;
}

bool mentions(const CheckReport& r, const std::string& text) {
  return std::any_of(r.problems.begin(), r.problems.end(),
                     [&](const std::string& p) { return p.find(text) != std::string::npos; });
}

// Where to plant faults: a user table with an index whose root is a leaf holding at least
// three entries, and one of the table's data pages.
struct Target {
  bool jet4 = false;
  uint32_t pageSize = 0;
  uint32_t tdefPage = 0;
  uint32_t leafPage = 0;
  uint32_t dataPage = 0;
  RowPointer ownedMap;
};

Target locate(const std::string& path) {
  auto db = Database::open(path);
  Target t;
  t.jet4 = db->isJet4();
  t.pageSize = db->pageSize();
  for (const auto& name : db->userTableNames()) {
    auto def = db->table(name);
    for (const auto& ri : def->realIndexes) {
      PageRef p = db->page(ri.rootPage);
      if (p[0] != kIndexLeafPage) continue;
      IndexPage ip = decodeIndexPage(std::span<const uint8_t>(p.data(), p.size()), t.jet4, ri.rootPage);
      auto owned = db->usageMapPages(def->ownedMap);
      if (ip.entries.size() < 3 || owned.empty()) continue;
      t.tdefPage = def->tdefPage;
      t.leafPage = ri.rootPage;
      t.dataPage = owned.front();
      t.ownedMap = def->ownedMap;
      return t;
    }
  }
  ADD_FAILURE() << "no suitable index in " << path;
  return t;
}

class CheckFaults : public ::testing::TestWithParam<const char*> {
 protected:
  void SetUp() override {
    copy_ = std::make_unique<TempCopy>(GetParam());
    t_ = locate(copy_->path());
    ASSERT_NE(t_.leafPage, 0u);
    CheckReport before = checkFile(copy_->path());
    ASSERT_TRUE(before.ok()) << joined(before);
  }
  uint64_t at(uint32_t page, uint32_t off = 0) const {
    return static_cast<uint64_t>(page) * t_.pageSize + off;
  }
  IndexPage leaf() const {
    auto b = copy_->read(at(t_.leafPage), t_.pageSize);
    return decodeIndexPage(b, t_.jet4, t_.leafPage);
  }
  void writeLeaf(const IndexPage& ip) const { copy_->write(at(t_.leafPage), encodeIndexPage(ip, t_.jet4)); }
  // Expects check to fail and to name `text` in one of its lines.
  void expectFound(const std::string& text) const {
    CheckReport r = checkFile(copy_->path());
    EXPECT_FALSE(r.ok());
    EXPECT_TRUE(mentions(r, text)) << "wanted '" << text << "' in:\n" << joined(r);
  }
  // Offset of row 0 of the page holding a usage map, and the map's first covered page.
  std::pair<uint64_t, uint32_t> inlineMap(RowPointer map) const {
    auto db = Database::open(copy_->path());
    Database::RowBytes rb = db->rowBytes(map.page, map.row);
    EXPECT_TRUE(rb.valid);
    EXPECT_EQ(rb.data()[0], 0) << "expected an inline map";
    uint32_t first = rb.data()[1] | rb.data()[2] << 8 | rb.data()[3] << 16 | static_cast<uint32_t>(rb.data()[4]) << 24;
    return {at(map.page, rb.start), first};
  }
  void flipBits(uint64_t offset, uint8_t mask) const {
    auto b = copy_->read(offset, 1);
    b[0] ^= mask;
    copy_->write(offset, b);
  }
  void flipMapBit(RowPointer map, uint32_t page) const {
    auto [off, first] = inlineMap(map);
    flipBits(off + 5 + (page - first) / 8, static_cast<uint8_t>(1u << ((page - first) % 8)));
  }

  std::unique_ptr<TempCopy> copy_;
  Target t_;
};

}  // namespace

TEST(Check, EveryFixturePasses) {
  int files = 0;
  for (const char* dir : {"jet3", "jet4", "generated"}) {
    for (const auto& f : fs::directory_iterator(bv::testutil::fixture(dir))) {
      if (f.path().extension() != ".mdb") continue;
      CheckReport r = checkFile(f.path().string());
      EXPECT_TRUE(r.ok()) << f.path() << ":\n" << joined(r);
      EXPECT_GT(r.tables, 0u);
      ++files;
    }
  }
  EXPECT_GE(files, 40);
}

TEST(Check, CountsWhatItRead) {
  CheckReport r = checkFile(bv::testutil::fixture("generated/big_jet4.mdb").string());
  ASSERT_TRUE(r.ok()) << joined(r);
  // Orders (200,000) and Customers (2,000) plus the system tables; two indexes on each.
  EXPECT_GT(r.rows, 202000u);
  EXPECT_GE(r.indexEntries, 404000u);
}

TEST_P(CheckFaults, ChangedKeyByte) {
  IndexPage ip = leaf();
  ip.entries.back().key.back() ^= 0x01;
  writeLeaf(ip);
  expectFound("does not match the row's values");
}

TEST_P(CheckFaults, DeletedEntry) {
  IndexPage ip = leaf();
  IndexEntry gone = ip.entries[1];
  ip.entries.erase(ip.entries.begin() + 1);
  writeLeaf(ip);
  expectFound("row " + std::to_string(gone.dataPage) + ":" + std::to_string(gone.dataRow) +
              " is missing from the index");
}

TEST_P(CheckFaults, EntryNamesNoRow) {
  IndexPage ip = leaf();
  ip.entries.back().dataRow = 250;
  writeLeaf(ip);
  expectFound("which is not a live row");
}

TEST_P(CheckFaults, DuplicatedEntry) {
  IndexPage ip = leaf();
  ip.entries.push_back(ip.entries.back());
  writeLeaf(ip);
  expectFound("is indexed more than once");
}

TEST_P(CheckFaults, SwappedEntries) {
  IndexPage ip = leaf();
  std::swap(ip.entries[0], ip.entries[2]);
  writeLeaf(ip);
  expectFound("is not above the one before it");
}

TEST_P(CheckFaults, IndexPageFreeSpace) {
  flipBits(at(t_.leafPage, 2), 0x04);
  expectFound("index page " + std::to_string(t_.leafPage) + ": the free-space field");
}

TEST_P(CheckFaults, IndexPageOfAnotherTable) {
  flipBits(at(t_.leafPage, 4), 0x01);
  expectFound("names table definition");
}

TEST_P(CheckFaults, RowCount) {
  flipBits(at(t_.tdefPage, t_.jet4 ? 16 : 12), 0x01);  // the count changes by one
  expectFound("rows but the table holds");
}

// Two tables' indexes sharing one tree page.
TEST(CheckTree, PageSharedByTwoIndexes) {
  TempCopy copy("jet3/indexTestV1997.mdb");
  auto db = Database::open(copy.path());
  auto t1 = db->table(u"Table1"), t2 = db->table(u"Table2");
  const uint32_t ps = db->pageSize(), root1 = t1->realIndexes.at(0).rootPage,
                 root2 = t2->realIndexes.at(0).rootPage, tdef2 = t2->tdefPage;
  db.reset();
  auto tdef = copy.read(uint64_t(tdef2) * ps, ps);
  const std::vector<uint8_t> old = {uint8_t(root2), uint8_t(root2 >> 8), uint8_t(root2 >> 16), 0};
  auto it = std::search(tdef.begin() + 43, tdef.end(), old.begin(), old.end());
  ASSERT_NE(it, tdef.end());
  copy.write(uint64_t(tdef2) * ps + uint64_t(it - tdef.begin()),
             {uint8_t(root1), uint8_t(root1 >> 8), uint8_t(root1 >> 16), 0});
  CheckReport r = checkFile(copy.path());
  EXPECT_TRUE(mentions(r, "table 'Table2': index ")) << joined(r);
  EXPECT_TRUE(mentions(r, "page " + std::to_string(root1) + " also belongs to table 'Table1'")) << joined(r);
}

// A value the sort order has no key for is a note, not a problem: the file is not damaged.
TEST(CheckNotes, ValueWithoutSortKey) {
  TempCopy copy("jet3/testIndexCodesV1997.mdb");
  const std::string needle("row19AA\x13" "AA", 10);  // Table1 (name, data); data is indexed
  auto all = copy.read(0, copy.size());
  auto it = std::search(all.begin(), all.end(), needle.begin(), needle.end());
  ASSERT_NE(it, all.end());
  copy.write(static_cast<uint64_t>(it - all.begin()) + 7, {0x00});  // no sort data for 0x00
  CheckReport r = checkFile(copy.path());
  EXPECT_TRUE(r.ok()) << joined(r);
  ASSERT_EQ(r.notes.size(), 1u);
  EXPECT_NE(r.notes[0].find("'DataIndex': the entries of 1 rows were not compared"), std::string::npos)
      << r.notes[0];
}

TEST(CheckAutoNumber, CounterBelowValuesInUse) {
  // The first table with an AutoNumber in use gets a recorded counter of 0.
  for (const char* dir : {"jet3", "jet4"}) {
    for (const auto& f : fs::directory_iterator(bv::testutil::fixture(dir))) {
      auto db = Database::open(f.path().string());
      for (const auto& name : db->userTableNames()) {
        auto def = db->table(name);
        bool hasAuto = std::any_of(def->columns.begin(), def->columns.end(),
                                   [](const ColumnDef& c) { return c.autoNumber; });
        if (!hasAuto || def->autoNumber == 0 || def->rowCount == 0) continue;
        const uint64_t at = uint64_t(def->tdefPage) * db->pageSize() + (db->isJet4() ? 20 : 16);
        db.reset();
        TempCopy copy(std::string(dir) + "/" + f.path().filename().string());
        copy.write(at, {0, 0, 0, 0});
        CheckReport r = checkFile(copy.path());
        EXPECT_TRUE(mentions(r, "as the last AutoNumber, but the value")) << joined(r);
        return;
      }
    }
  }
  FAIL() << "no table with an AutoNumber column";
}

TEST_P(CheckFaults, DataPageFreeSpace) {
  flipBits(at(t_.dataPage, 2), 0x10);
  expectFound("data page " + std::to_string(t_.dataPage) + ": the free-space field");
}

TEST_P(CheckFaults, UsedPageMarkedFree) {
  flipMapBit(RowPointer{1, 0}, t_.dataPage);
  expectFound("page " + std::to_string(t_.dataPage) + " is marked free in the global page map");
}

TEST_P(CheckFaults, OwnedPageMissingFromMap) {
  flipMapBit(t_.ownedMap, t_.dataPage);
  expectFound("data page " + std::to_string(t_.dataPage) + " names this table but is missing");
}

// A data page of the table in no map and not free: a note when it holds only deleted rows
// (space Access leaked), a problem when it holds a live row.
TEST_P(CheckFaults, LeakedPageIsANoteUnlessItHoldsRows) {
  const uint32_t extra = static_cast<uint32_t>(copy_->size() / t_.pageSize);
  auto page = copy_->read(at(t_.dataPage), t_.pageSize);
  const uint32_t table = (t_.jet4 ? 12 : 8) + 2;
  const uint32_t rows = page[table - 2] | page[table - 1] << 8;
  ASSERT_GT(rows, 0u);
  for (uint32_t i = 0; i < rows; ++i) page[table + 2 * i + 1] |= 0x80;  // deleted
  copy_->write(at(extra), page);
  flipMapBit(RowPointer{1, 0}, extra);  // in use: not marked free
  CheckReport r = checkFile(copy_->path());
  EXPECT_TRUE(r.ok()) << joined(r);
  EXPECT_TRUE(std::any_of(r.notes.begin(), r.notes.end(), [&](const std::string& n) {
    return n.find("leaked pages: 1 data page") != std::string::npos &&
           n.find(std::to_string(extra)) != std::string::npos;
  })) << "no note on the leaked page";

  page[table + 1] &= 0x7F;  // slot 0 live again
  copy_->write(at(extra), page);
  expectFound("data page " + std::to_string(extra) + " names this table but is missing");
}

INSTANTIATE_TEST_SUITE_P(Fixtures, CheckFaults,
                         ::testing::Values("jet3/indexTestV1997.mdb", "jet4/indexTestV2000.mdb"),
                         [](const auto& info) { return std::string(info.param[3] == '3' ? "Jet3" : "Jet4"); });

// Multi-level trees: a broken sibling link and a parent entry below its child.
void plantTreeFaults(const char* rel) {
  TempCopy copy(rel);
  auto db = Database::open(copy.path());
  const uint32_t ps = db->pageSize();
  const bool jet4 = db->isJet4();
  for (const auto& name : db->userTableNames()) {
    auto def = db->table(name);
    for (const auto& ri : def->realIndexes) {
      PageRef root = db->page(ri.rootPage);
      if (root[0] != kIndexNodePage) continue;
      IndexPage node = decodeIndexPage(std::span<const uint8_t>(root.data(), root.size()), jet4, ri.rootPage);
      ASSERT_FALSE(node.entries.empty());
      const uint32_t firstLeaf = node.entries[0].child;
      db.reset();
      // The first leaf's "next" link no longer leads to its right neighbour.
      auto leafBytes = copy.read(uint64_t(firstLeaf) * ps, ps);
      IndexPage leafPage = decodeIndexPage(leafBytes, jet4, firstLeaf);
      ASSERT_GE(leafPage.entries.size(), 2u);
      copy.write(uint64_t(firstLeaf) * ps + (jet4 ? 16 : 12), {0, 0, 0, 0});
      CheckReport r = checkFile(copy.path());
      EXPECT_TRUE(mentions(r, "index page " + std::to_string(firstLeaf) + ": sibling links")) << joined(r);
      copy.write(uint64_t(firstLeaf) * ps, leafBytes);
      ASSERT_TRUE(checkFile(copy.path()).ok());
      // The root's first entry claims less than the last entry of its child.
      IndexPage changed = node;
      changed.entries[0] = leafPage.entries.front();
      changed.entries[0].child = firstLeaf;
      copy.write(uint64_t(ri.rootPage) * ps, encodeIndexPage(changed, jet4));
      r = checkFile(copy.path());
      EXPECT_TRUE(mentions(r, "is below the entries of that child")) << joined(r);
      return;
    }
  }
  FAIL() << rel << ": no index with an intermediate root page";
}

TEST(CheckTree, SiblingLinkAndParentEntry) {
  plantTreeFaults("jet3/testIndexCodesV1997.mdb");
  plantTreeFaults("jet4/compIndexTestV2000.mdb");
}

// The in-order walker yields exactly the entries check found, in order, for every index.
TEST(IndexWalk, WalksEveryIndexInOrder) {
  for (const char* rel : {"jet3/testIndexCodesV1997.mdb", "jet4/compIndexTestV2000.mdb"}) {
    auto db = Database::open(bv::testutil::fixture(rel).string());
    uint64_t total = 0;
    for (const auto& e : db->catalog()) {
      if (e.kind != ObjectKind::UserTable) continue;
      auto def = db->tableAt(e.tdefPage(), e.name);
      for (const auto& ri : def->realIndexes) {
        IndexWalker w(*db, *def, ri);
        IndexEntry prev, cur;
        uint64_t n = 0;
        while (w.next(cur)) {
          if (n++) EXPECT_LT(compareEntries(prev, cur), 0);
          prev = cur;
        }
        EXPECT_EQ(n, def->rowCount) << rel << " " << toUtf8(def->name);
        total += n;
      }
    }
    EXPECT_GT(total, 100u);
  }
}

// Seeking: starting at a key gives the first entry with that key (or the next above it).
TEST(IndexWalk, SeekFindsFirstEntryAtOrAboveKey) {
  for (const char* rel : {"jet3/testIndexCodesV1997.mdb", "generated/big_jet4.mdb"}) {
    auto db = Database::open(bv::testutil::fixture(rel).string());
    int seeks = 0;
    for (const auto& name : db->userTableNames()) {
      auto def = db->table(name);
      for (const auto& ri : def->realIndexes) {
        std::vector<IndexEntry> all;
        IndexWalker w(*db, *def, ri);
        for (IndexEntry e; w.next(e);) all.push_back(e);
        const size_t step = std::max<size_t>(1, all.size() / 40);
        // One walker seeking again and again (up, then down) finds what fresh ones find.
        std::optional<IndexWalker> reused;
        std::vector<std::pair<std::vector<uint8_t>, std::optional<IndexEntry>>> found;
        auto expectSame = [&](const std::vector<uint8_t>& key, const std::optional<IndexEntry>& want) {
          if (!reused) reused.emplace(*db, *def, ri, key);
          else reused->seek(key);
          IndexEntry e;
          const bool got = reused->next(e);
          EXPECT_EQ(got, want.has_value());
          if (got && want) EXPECT_EQ(e, *want) << rel << " " << toUtf8(def->name);
        };
        for (size_t i = 0; i < all.size(); i += step) {
          // The first entry with this key, and a key just above it (one byte appended).
          size_t first = i;
          while (first > 0 && all[first - 1].key == all[i].key) --first;
          IndexWalker s(*db, *def, ri, all[i].key);
          IndexEntry got;
          ASSERT_TRUE(s.next(got));
          EXPECT_EQ(got, all[first]) << rel << " " << toUtf8(def->name);
          std::vector<uint8_t> above = all[i].key;
          above.push_back(0xFF);
          size_t after = i;
          while (after < all.size() && all[after].key < above) ++after;
          IndexWalker t(*db, *def, ri, above);
          if (after < all.size()) {
            ASSERT_TRUE(t.next(got));
            EXPECT_EQ(got, all[after]);
          } else {
            EXPECT_FALSE(t.next(got));
          }
          found.emplace_back(all[i].key, all[first]);
          found.emplace_back(above, after < all.size() ? std::optional<IndexEntry>(all[after]) : std::nullopt);
          ++seeks;
        }
        for (const auto& [key, want] : found) expectSame(key, want);
        for (auto it = found.rbegin(); it != found.rend(); ++it) expectSame(it->first, it->second);
        IndexWalker none(*db, *def, ri, std::vector<uint8_t>(4, 0xFF));
        IndexEntry e;
        EXPECT_FALSE(none.next(e));
      }
    }
    EXPECT_GT(seeks, 50) << rel;
  }
}

// The leaf path of every entry of a multi-level index ends on the leaf that holds it.
TEST(IndexWalk, LeafPathEndsOnTheEntrysLeaf) {
  auto db = Database::open(bv::testutil::fixture("generated/big_jet4.mdb").string());
  auto def = db->table(u"Orders");
  for (const auto& ri : def->realIndexes) {
    IndexWalker w(*db, *def, ri);
    size_t n = 0, multiLevel = 0;
    for (IndexEntry e; w.next(e); ++n) {
      if (n % 1000) continue;
      std::vector<uint32_t> path = leafPathFor(*db, *def, ri, e);
      ASSERT_FALSE(path.empty());
      EXPECT_EQ(path.front(), ri.rootPage);
      multiLevel += path.size() > 2;
      PageRef leaf = db->page(path.back());
      IndexPage ip = decodeIndexPage(std::span<const uint8_t>(leaf.data(), leaf.size()), true, path.back());
      EXPECT_NE(std::find(ip.entries.begin(), ip.entries.end(), e), ip.entries.end()) << "entry " << n;
    }
    EXPECT_GT(multiLevel, 0u);
  }
}

// A file cut short says what is wrong and names the file, whether or not the cut falls on
// a page boundary.
TEST(CheckTruncation, CutFilesAreNamedAndExplained) {
  if (!fs::exists(bv::testutil::fixture("jet4/testV2000.mdb"))) GTEST_SKIP() << "fixture absent: jet4/testV2000.mdb";
  struct Cut {
    uint64_t size;
    const char* says;
  };
  for (const Cut& cut : {Cut{8192, "hold 2 pages"}, Cut{40000, "not a whole number of 4096-byte pages"},
                         Cut{40960, "past the end of the file"}, Cut{4096, "hold 1 pages"}}) {
    TempCopy copy("jet4/testV2000.mdb");
    copy.truncate(cut.size);
    try {
      auto db = Database::open(copy.path());
      CheckReport r = checkDatabase(*db);
      EXPECT_FALSE(r.ok()) << cut.size;
      ADD_FAILURE() << cut.size << " bytes: opened";
    } catch (const bv::JetError& e) {
      const std::string what = e.what();
      EXPECT_EQ(e.number(), 3049);
      EXPECT_NE(what.find(copy.path()), std::string::npos) << what;
      EXPECT_NE(what.find(cut.says), std::string::npos) << what;
      if (cut.size % 4096 == 0) EXPECT_EQ(what.find("not a whole number"), std::string::npos) << what;
    }
  }
  // Cut further on, the file opens and check names the missing pages and the file.
  TempCopy copy("jet4/testV2000.mdb");
  copy.truncate(512 * 4096);
  auto db = Database::open(copy.path());
  CheckReport r = checkDatabase(*db);
  EXPECT_FALSE(r.ok());
  EXPECT_TRUE(mentions(r, "'" + copy.path() + "' is damaged: page ")) << joined(r);
  EXPECT_TRUE(mentions(r, "lies beyond the end of the file (512 pages)")) << joined(r);
}
