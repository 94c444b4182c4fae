// Damaged copies of fixtures: every failure must be a JetError or a problem that check
// reports; never a crash, a hang or another exception.
#include <gtest/gtest.h>

#include <random>

#include "engine/storage/check.h"
#include "engine/storage/index_page.h"
#include "engine/storage/index_walk.h"
#include "tests/engine/storage/check_test_util.h"

using namespace bv::storage;
using bv::testutil::TempCopy;

namespace {

// What reading a whole file gave.
struct Outcome {
  int error = 0;            // JetError number from open or a read; 0 if none
  std::string message;
  size_t problems = 0;      // lines check reported
  bool damageSeen() const { return error != 0 || problems != 0; }
};

// Opens the file and reads everything the public API offers: catalog, every table's rows
// with all values, every index in order, then check.
Outcome readEverything(const std::string& path) {
  Outcome o;
  try {
    auto db = Database::open(path);
    for (const auto& e : db->catalog()) {
      if (e.kind != ObjectKind::UserTable && e.kind != ObjectKind::SystemTable) continue;
      try {
        auto def = db->tableAt(e.tdefPage(), e.name);
        std::vector<bv::Value> row;
        TableCursor cur = db->scan(def);
        while (cur.next()) cur.readRow(row);
        for (const auto& ri : def->realIndexes) {
          IndexWalker w(*db, *def, ri);
          IndexEntry entry;
          while (w.next(entry)) {
          }
        }
      } catch (const bv::JetError& err) {
        if (!o.error) o.error = err.number(), o.message = err.what();
      }
    }
    CheckReport r = checkDatabase(*db);
    o.problems = r.problems.size();
  } catch (const bv::JetError& err) {
    if (!o.error) o.error = err.number(), o.message = err.what();
  }
  return o;
}

constexpr const char* kJet3 = "jet3/testV1997.mdb";
constexpr const char* kJet4 = "jet4/indexTestV2000.mdb";

struct Layout {
  uint32_t pageSize = 0;
  bool jet4 = false;
  uint32_t tdefPage = 0;   // a user table with an index
  uint32_t rootPage = 0;
};

Layout layoutOf(const std::string& path) {
  auto db = Database::open(path);
  Layout l{db->pageSize(), db->isJet4()};
  for (const auto& name : db->userTableNames()) {
    auto def = db->table(name);
    if (def->realIndexes.empty() || def->rowCount == 0) continue;
    l.tdefPage = def->tdefPage;
    l.rootPage = def->realIndexes[0].rootPage;
    break;
  }
  return l;
}

}  // namespace

class Damage : public ::testing::TestWithParam<const char*> {};

TEST_P(Damage, TruncatedFiles) {
  TempCopy copy(GetParam());
  const uint64_t full = copy.size();
  const uint32_t ps = layoutOf(copy.path()).pageSize;
  for (uint64_t size : {full - 1, full - ps, full / 2, uint64_t(3) * ps, uint64_t(2) * ps + 7,
                        uint64_t(ps), uint64_t(100), uint64_t(0)}) {
    copy.truncate(size);
    Outcome o = readEverything(copy.path());
    EXPECT_TRUE(o.damageSeen()) << "truncated to " << size;
    if (size % ps != 0 || size < 3ull * ps)
      EXPECT_TRUE(o.error == 3049 || o.error == 3343) << size << ": " << o.error << " " << o.message;
  }
}

TEST_P(Damage, HeaderVersionAndSignature) {
  TempCopy copy(GetParam());
  const auto original = copy.read(0, 0x20);
  for (uint8_t version : {0x02, 0x03, 0x05, 0x7F, 0xFF}) {
    copy.write(0x14, {version});
    Outcome o = readEverything(copy.path());
    EXPECT_EQ(o.error, 3343) << "version " << int(version) << ": " << o.message;
  }
  // The other version: a Jet 3 file read with 4 KB pages and the other way round.
  copy.write(0, original);
  copy.write(0x14, {static_cast<uint8_t>(original[0x14] ^ 1)});
  EXPECT_TRUE(readEverything(copy.path()).damageSeen());
  copy.write(0, original);
  copy.write(4, {'X'});
  EXPECT_EQ(readEverything(copy.path()).error, 3343);
}

// Each page in turn overwritten with zeros, then with random bytes: no crash, and damage to
// the catalog, a table definition or an index page in use is always noticed.
TEST_P(Damage, EveryPageOverwritten) {
  TempCopy copy(GetParam());
  const Layout l = layoutOf(copy.path());
  const uint32_t pages = static_cast<uint32_t>(copy.size() / l.pageSize);
  std::mt19937 rng(12345);
  for (uint32_t p = 1; p < pages; ++p) {
    const auto original = copy.read(uint64_t(p) * l.pageSize, l.pageSize);
    for (int variant = 0; variant < 2; ++variant) {
      std::vector<uint8_t> junk(l.pageSize, 0);
      if (variant == 1)
        for (auto& b : junk) b = static_cast<uint8_t>(rng());
      copy.write(uint64_t(p) * l.pageSize, junk);
      Outcome o = readEverything(copy.path());
      if (p == 2 || p == l.tdefPage || p == l.rootPage)
        EXPECT_TRUE(o.damageSeen()) << "page " << p << " variant " << variant;
      if (o.error) EXPECT_TRUE(o.error == 3049 || o.error == 3343) << o.error << " " << o.message;
    }
    copy.write(uint64_t(p) * l.pageSize, original);
  }
}

// Pointers in a table definition that lead outside the file or back to themselves.
TEST_P(Damage, TableDefinitionPointers) {
  TempCopy copy(GetParam());
  const Layout l = layoutOf(copy.path());
  const uint64_t tdef = uint64_t(l.tdefPage) * l.pageSize;
  const auto original = copy.read(tdef, l.pageSize);
  const uint32_t ownedAt = l.jet4 ? 55 : 35;
  auto restore = [&] { copy.write(tdef, original); };

  // Owned-pages map on a page beyond the end of the file.
  copy.write(tdef + ownedAt, {0x00, 0xF0, 0xFF, 0x7F});
  Outcome o = readEverything(copy.path());
  EXPECT_EQ(o.error, 3049) << o.message;
  EXPECT_GT(o.problems, 0u);
  restore();

  // Next-page link of the definition: beyond the end, then to itself.
  const uint32_t self = l.tdefPage;
  for (uint32_t next : {0x00FFFFF0u, self}) {
    copy.write(tdef + 4, {static_cast<uint8_t>(next), static_cast<uint8_t>(next >> 8),
                          static_cast<uint8_t>(next >> 16), static_cast<uint8_t>(next >> 24)});
    o = readEverything(copy.path());
    EXPECT_EQ(o.error, 3049) << o.message;
    EXPECT_GT(o.problems, 0u);
    restore();
  }

  // Root page of an index: find its u32 in the definition and point it past the end.
  std::vector<uint8_t> root = {static_cast<uint8_t>(l.rootPage), static_cast<uint8_t>(l.rootPage >> 8),
                               static_cast<uint8_t>(l.rootPage >> 16), static_cast<uint8_t>(l.rootPage >> 24)};
  auto it = std::search(original.begin() + (l.jet4 ? 63 : 43), original.end(), root.begin(), root.end());
  ASSERT_NE(it, original.end());
  copy.write(tdef + static_cast<uint64_t>(it - original.begin()), {0xF0, 0xFF, 0xFF, 0x00});
  o = readEverything(copy.path());
  EXPECT_EQ(o.error, 3049) << o.message;
  EXPECT_GT(o.problems, 0u);
  restore();
}

// Index pages whose links form loops: readers stop with an error instead of running forever.
TEST_P(Damage, IndexLoops) {
  TempCopy copy(GetParam());
  const Layout l = layoutOf(copy.path());
  const uint64_t at = uint64_t(l.rootPage) * l.pageSize;
  const auto original = copy.read(at, l.pageSize);
  IndexPage ip = decodeIndexPage(original, l.jet4, l.rootPage);
  ASSERT_TRUE(ip.leaf());
  ip.next = l.rootPage;  // the leaf chain returns to the same page
  copy.write(at, encodeIndexPage(ip, l.jet4));
  Outcome o = readEverything(copy.path());
  EXPECT_EQ(o.error, 3049) << o.message;
  EXPECT_GT(o.problems, 0u);
  // An intermediate root whose child is itself.
  IndexPage node = ip;
  node.type = kIndexNodePage;
  node.next = 0;
  node.tail = l.rootPage;
  for (auto& e : node.entries) e.child = l.rootPage;
  copy.write(at, encodeIndexPage(node, l.jet4));
  o = readEverything(copy.path());
  EXPECT_EQ(o.error, 3049) << o.message;
  EXPECT_GT(o.problems, 0u);
}

INSTANTIATE_TEST_SUITE_P(Fixtures, Damage, ::testing::Values(kJet3, kJet4),
                         [](const auto& info) { return std::string(info.param[3] == '3' ? "Jet3" : "Jet4"); });
