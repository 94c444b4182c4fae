// Statements a careless or hostile user may write finish with bounded memory (measured
// by counting this process's allocations, with generous limits) and with a result or a
// clear error: cross joins under TOP, joins under TOP, huge IN lists, long constants.
#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <filesystem>
#include <new>
#include <string>

#include "engine/sql/exec.h"
#include "engine/sql/parser.h"
#include "engine/sql/storage_catalog.h"
#include "engine/storage/error.h"

// Every allocation of the test program is counted: current and peak bytes in use.
namespace {
std::atomic<size_t> inUse{0}, peak{0};
constexpr size_t kHeader = 16;  // keeps the size in front of the block, alignment kept
void* counted(size_t n) {
  void* p = std::malloc(n + kHeader);
  if (!p) throw std::bad_alloc();
  *static_cast<size_t*>(p) = n;
  size_t now = inUse.fetch_add(n) + n;
  size_t old = peak.load();
  while (now > old && !peak.compare_exchange_weak(old, now)) {}
  return static_cast<char*>(p) + kHeader;
}
void release(void* p) {
  if (!p) return;
  char* base = static_cast<char*>(p) - kHeader;
  inUse.fetch_sub(*reinterpret_cast<size_t*>(base));
  std::free(base);
}
}  // namespace

void* operator new(size_t n) { return counted(n); }
void* operator new[](size_t n) { return counted(n); }
void operator delete(void* p) noexcept { release(p); }
void operator delete[](void* p) noexcept { release(p); }
void operator delete(void* p, size_t) noexcept { release(p); }
void operator delete[](void* p, size_t) noexcept { release(p); }

namespace bv::sql {
namespace {

namespace fs = std::filesystem;

std::string bigFile() { return std::string(BV_FIXTURES_DIR) + "/generated/big_jet4.mdb"; }

// Peak bytes allocated while running the statement, beyond what was in use before.
struct Measured {
  ResultSet rs;
  size_t peakBytes = 0;
};
Measured measure(const Catalog& catalog, const std::u16string& sql) {
  size_t before = inUse.load();
  peak.store(before);
  Measured m;
  m.rs = executeSelect(parseStatement(sql), catalog);
  m.peakBytes = peak.load() - before;
  return m;
}

constexpr size_t kMB = 1024 * 1024;

class Hostile : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!fs::exists(bigFile())) GTEST_SKIP() << "fixture not found: " << bigFile();
    db = storage::Database::open(bigFile());
    catalog = std::make_unique<StorageCatalog>(*db);
  }
  std::unique_ptr<storage::Database> db;
  std::unique_ptr<StorageCatalog> catalog;
};

TEST_F(Hostile, CrossAndEquiJoinsStreamIntoTop) {
  // 40 billion combinations: only the first five are made.
  auto m = measure(*catalog, u"SELECT TOP 5 a.ID, b.ID FROM Orders AS a, Orders AS b");
  ASSERT_EQ(m.rs.rows.size(), 5u);
  EXPECT_EQ(m.rs.rows[4][1], Value(int32_t(5)));
  EXPECT_LT(m.peakBytes, 64 * kMB);
  // A join on a field with two values pairs 20 billion rows; the tables are held (their
  // rows up to the last field used), the pairs are not (at 8 bytes each they would need
  // 160 GB).
  m = measure(*catalog, u"SELECT TOP 3 a.ID, b.ID FROM Orders AS a INNER JOIN Orders AS b ON a.Paid = b.Paid");
  EXPECT_EQ(m.rs.rows.size(), 3u);
  EXPECT_LT(m.peakBytes, 256 * kMB);
  m = measure(*catalog, u"SELECT DISTINCT TOP 2 a.Paid FROM Orders AS a, Orders AS b");
  EXPECT_EQ(m.rs.rows.size(), 2u);
  EXPECT_LT(m.peakBytes, 256 * kMB);
}

TEST_F(Hostile, TopKeepsItsRowsNotTheTable) {
  auto m = measure(*catalog, u"SELECT TOP 10 ID, Price FROM Orders ORDER BY Price DESC, ID");
  ASSERT_EQ(m.rs.rows.size(), 10u);
  EXPECT_LT(m.peakBytes, 16 * kMB);
  // The same rows as sorting everything: compare with the full ordered result's head.
  auto all = executeSelect(parseStatement(u"SELECT ID, Price FROM Orders ORDER BY Price DESC, ID"), *catalog);
  for (size_t i = 0; i < 10; ++i) EXPECT_EQ(m.rs.rows[i], all.rows[i]) << "row " << i;
  // Ties with the last row are kept, as TOP does (True is -1, so it sorts first).
  auto ties = measure(*catalog, u"SELECT TOP 1 ID FROM Orders ORDER BY Paid");
  size_t paid = size_t(executeSelect(parseStatement(u"SELECT COUNT(*) FROM Orders WHERE Paid = True"), *catalog)
                           .rows[0][0].as<int32_t>());
  EXPECT_EQ(ties.rs.rows.size(), paid);
  // Several keys: the head of the full order, down to the last row that ties with the 50th.
  auto multi = measure(*catalog, u"SELECT TOP 50 Paid, Qty FROM Orders ORDER BY Paid, Qty DESC");
  auto full = executeSelect(parseStatement(u"SELECT Paid, Qty FROM Orders ORDER BY Paid, Qty DESC"), *catalog);
  size_t end = 50;
  while (end < full.rows.size() && full.rows[end] == full.rows[49]) ++end;
  ASSERT_EQ(multi.rs.rows.size(), end);
  for (size_t i = 0; i < end; ++i) EXPECT_EQ(multi.rs.rows[i], full.rows[i]) << "row " << i;
}

TEST_F(Hostile, HugeInListsAndLongConstants) {
  std::u16string numbers = u"SELECT COUNT(*) FROM Orders WHERE Qty IN (";
  std::u16string texts = u"SELECT COUNT(*) FROM Orders WHERE Note IN (";
  for (int i = 0; i < 16000; ++i) {
    numbers += storage::fromUtf8(std::to_string(i * 7)) + u",";
    texts += u"'note " + storage::fromUtf8(std::to_string(i)) + u"',";
  }
  numbers.back() = u')';
  texts.back() = u')';
  auto m = measure(*catalog, numbers);
  auto byModulo = executeSelect(parseStatement(u"SELECT COUNT(*) FROM Orders WHERE Qty Mod 7 = 0 AND Qty >= 0 AND Qty < 112000"), *catalog);
  EXPECT_EQ(m.rs.rows[0][0], byModulo.rows[0][0]);
  EXPECT_LT(m.peakBytes, 32 * kMB);
  m = measure(*catalog, texts);
  EXPECT_EQ(m.rs.rows.size(), 1u);
  std::u16string longText(255, u'é');
  auto longer = measure(*catalog, u"SELECT COUNT(*) FROM Orders WHERE Customer < '" + longText + u"'");
  auto shorter = executeSelect(parseStatement(u"SELECT COUNT(*) FROM Orders WHERE Customer < 'é'"), *catalog);
  EXPECT_GE(longer.rs.rows[0][0].as<int32_t>(), shorter.rows[0][0].as<int32_t>());
}

}  // namespace
}  // namespace bv::sql
