// Every table of every Access-made fixture, exported by us and by mdb-export, compared
// value by value (see export_compare.h for the mdbtools display limits that are explained).
#include <gtest/gtest.h>

#include <iostream>
#include <set>
#include <sstream>

#include "tests/engine/storage/export_compare.h"

namespace bv::test {
namespace {

std::set<std::string> mdbTables(const std::string& path, bool system) {
  std::istringstream in(runCommand(std::string("mdb-tables -1 ") + (system ? "-S " : "") + shellQuote(path)));
  std::set<std::string> out;
  for (std::string line; std::getline(in, line);)
    if (!line.empty()) out.insert(line);
  return out;
}

TEST(ExportCompare, AccessMadeFilesMatchMdbExport) {
  std::vector<std::string> files = fixtureFiles("jet3");
  for (const auto& f : fixtureFiles("jet4")) files.push_back(f);
  ASSERT_GE(files.size(), 30u) << "fixtures missing under " << fixturesDir();
  size_t tables = 0, cells = 0;
  std::map<std::string, size_t> explained;
  for (const auto& path : files) {
    SCOPED_TRACE(path);
    auto db = storage::Database::open(path);
    std::set<std::string> ours;
    for (const auto& n : db->userTableNames()) ours.insert(storage::toUtf8(n));
    EXPECT_EQ(ours, mdbTables(path, false));
    // System tables too: they hold the unusual column layouts (variable Long columns,
    // the undocumented fixed blob type).
    std::set<std::string> all = mdbTables(path, true);
    for (const auto& name : all) {
      SCOPED_TRACE(name);
      const CompareResult r = compareWithMdbExport(*db, path, name);
      for (const auto& msg : r.failures) ADD_FAILURE() << msg;
      EXPECT_EQ(r.failureCount, 0u);
      ++tables;
      cells += r.cells;
      for (const auto& [why, n] : r.explained) explained[why] += n;
      // The recorded row count is exact for user tables.
      if (ours.count(name)) EXPECT_EQ(db->table(storage::fromUtf8(name))->rowCount, r.rows);
    }
  }
  std::cout << tables << " tables, " << cells << " cells compared\n";
  for (const auto& [why, n] : explained) std::cout << "  explained: " << why << ": " << n << "\n";
  EXPECT_GT(cells, 8000u);
}

}  // namespace
}  // namespace bv::test
