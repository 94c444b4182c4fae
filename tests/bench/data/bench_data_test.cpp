// The benchmark databases at small sizes: the same bytes every time, files our integrity
// check passes and mdb-export reads value for value, and the kinds of values the
// benchmarks rely on (Null customers, memos on long-value pages and page chains).
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iostream>
#include <iterator>
#include <random>

#include "bench/data/bench_data.h"
#include "engine/storage/check.h"
#include "engine/storage/database.h"
#include "tests/engine/storage/export_compare.h"

namespace bv::bench {
namespace {

namespace fs = std::filesystem;

bool haveMdbExport() {
  int status = 0;
  test::runCommand("command -v mdb-export >/dev/null 2>&1", &status);
  return status == 0;
}

class BenchDataTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::random_device rd;
    dir_ = fs::temp_directory_path() / ("bv_bench_data_" + std::to_string(rd()) + std::to_string(rd()));
    fs::create_directories(dir_);
  }
  void TearDown() override {
    std::error_code ec;
    fs::remove_all(dir_, ec);
  }
  std::string path(const char* name) const { return (dir_ / name).string(); }

  static std::string bytes(const std::string& p) {
    std::ifstream in(p, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
  }

  static void expectSound(const std::string& p, const std::vector<std::pair<std::string, size_t>>& tables) {
    auto db = storage::Database::open(p);
    const storage::CheckReport report = storage::checkDatabase(*db);
    for (const auto& problem : report.problems) ADD_FAILURE() << problem;
    for (const auto& [table, rows] : tables) {
      SCOPED_TRACE(table);
      EXPECT_EQ(db->table(storage::fromUtf8(table))->rowCount, rows);
      if (!haveMdbExport()) {
        std::cout << "mdb-export not installed: " << table << " not compared with it\n";
        continue;
      }
      const test::CompareResult r = test::compareWithMdbExport(*db, p, table);
      for (const auto& msg : r.failures) ADD_FAILURE() << msg;
      EXPECT_EQ(r.failureCount, 0u);
      EXPECT_EQ(r.rows, rows);
    }
  }

  fs::path dir_;
};

const BigSize kSmall{.customers = 300, .orders = 3000};
// Past two of the boundary-value rows (every 997th).
constexpr uint32_t kWideRows = 2100;

TEST_F(BenchDataTest, BigIsTheSameEveryTimeAndSound) {
  writeBigDatabase(path("a.mdb"), kSmall);
  writeBigDatabase(path("b.mdb"), kSmall);
  EXPECT_TRUE(bytes(path("a.mdb")) == bytes(path("b.mdb")));
  expectSound(path("a.mdb"), {{"Customers", kSmall.customers}, {"Orders", kSmall.orders}});

  // What the benchmarks' statements lean on.
  auto db = storage::Database::open(path("a.mdb"));
  auto orders = db->table(u"Orders");
  const int customer = orders->findColumn(u"Customer"), note = orders->findColumn(u"Note");
  size_t nullCustomers = 0, oneLvalNotes = 0, chainedNotes = 0, inlineNotes = 0;
  storage::TableCursor cur = db->scan(orders);
  std::vector<Value> row;
  while (cur.next()) {
    cur.readRow(row);
    nullCustomers += row[customer].isNull();
    if (const auto* s = row[note].get<std::u16string>()) {
      inlineNotes += s->size() <= 30;
      oneLvalNotes += s->size() >= 100 && s->size() <= 300;
      chainedNotes += s->size() > 4000;
    }
  }
  EXPECT_GT(nullCustomers, 0u);
  EXPECT_GT(inlineNotes, 0u);
  EXPECT_GT(oneLvalNotes, 0u);
  EXPECT_GT(chainedNotes, 0u);
}

TEST_F(BenchDataTest, WideIsTheSameEveryTimeAndSound) {
  writeWideDatabase(path("a.mdb"), kWideRows);
  writeWideDatabase(path("b.mdb"), kWideRows);
  EXPECT_TRUE(bytes(path("a.mdb")) == bytes(path("b.mdb")));
  expectSound(path("a.mdb"), {{"Wide", kWideRows}});
  auto db = storage::Database::open(path("a.mdb"));
  EXPECT_EQ(db->table(u"Wide")->columns.size(), 120u);
}

TEST_F(BenchDataTest, EnsureMakesOnlyWhatIsMissing) {
  const BenchSizes sizes{.big = {.customers = 20, .orders = 50}, .wideRows = 20};
  std::vector<std::string> made;
  auto note = [&](const std::string& p, double) { made.push_back(p); };
  const BenchDatabases first = ensureBenchDatabases(dir_.string(), sizes, note);
  EXPECT_EQ(made.size(), 2u);
  const auto stamp = fs::last_write_time(first.big);
  fs::remove(first.wide);
  const BenchDatabases second = ensureBenchDatabases(dir_.string(), sizes, note);
  ASSERT_EQ(made.size(), 3u);
  EXPECT_EQ(made.back(), second.wide);
  EXPECT_EQ(fs::last_write_time(second.big), stamp);
  // Nothing is left under a temporary name.
  size_t files = 0;
  for (const auto& e : fs::directory_iterator(dir_)) files += e.is_regular_file();
  EXPECT_EQ(files, 2u);
}

}  // namespace
}  // namespace bv::bench
