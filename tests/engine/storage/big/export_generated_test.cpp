// The two large generated fixtures (50 MB each), exported by us and by mdb-export and
// compared value by value. Slow (about half a minute), so it is its own test program,
// labelled "big".
#include <gtest/gtest.h>

#include <filesystem>
#include <iostream>

#include "tests/engine/storage/export_compare.h"

namespace bv::test {
namespace {

void compareFile(const std::string& name, const std::vector<std::string>& tables,
                 const std::vector<size_t>& rows) {
  const std::string path = fixturesDir() + "/generated/" + name;
  if (!std::filesystem::exists(path)) GTEST_SKIP() << path << " is not present";
  auto db = storage::Database::open(path);
  for (size_t i = 0; i < tables.size(); ++i) {
    SCOPED_TRACE(tables[i]);
    const CompareResult r = compareWithMdbExport(*db, path, tables[i]);
    for (const auto& msg : r.failures) ADD_FAILURE() << msg;
    EXPECT_EQ(r.failureCount, 0u);
    EXPECT_EQ(r.rows, rows[i]);
    std::cout << name << " " << tables[i] << ": " << r.cells << " cells\n";
    for (const auto& [why, n] : r.explained) std::cout << "  explained: " << why << ": " << n << "\n";
  }
}

TEST(ExportCompareGenerated, BigJet4) { compareFile("big_jet4.mdb", {"Customers", "Orders"}, {2000, 200000}); }

TEST(ExportCompareGenerated, WideJet4EveryType) { compareFile("wide_jet4.mdb", {"Wide"}, {20000}); }

}  // namespace
}  // namespace bv::test
