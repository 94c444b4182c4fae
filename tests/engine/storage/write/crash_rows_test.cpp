// Units of row changes killed at every step of their commit: updates that rewrite long
// values, a delete, and inserts enough to split index pages, on indexed tables of Jet 3 and
// Jet 4 files. The next open finds the file exactly as before or exactly as after.
#include <gtest/gtest.h>

#include <filesystem>

#include "tests/engine/storage/storage_test_util.h"
#include "tests/engine/storage/write/crash_harness.h"
#include "tests/engine/storage/write/row_sample_change.h"

namespace bv::storage {
namespace {

struct Case {
  const char* fixture;
  const char16_t* table;
  int inserts;
};

class CrashRowsTest : public ::testing::TestWithParam<Case> {};

TEST_P(CrashRowsTest, DeathAtEveryStepLeavesBeforeOrAfter) {
  const std::string src = test::fixturesDir() + "/" + GetParam().fixture;
  if (!std::filesystem::exists(src)) GTEST_SKIP() << "fixture absent: " << src;
  const std::u16string table = GetParam().table;
  const int inserts = GetParam().inserts;
  crash::Harness h(src, [&](WriteUnit& unit) { sample::rowChange(unit, table, inserts); }, WriteOptions{});
  if (HasFailure()) return;
  {
    // The after state is what the unit meant: more rows, and index pages split.
    test::TempCopy after("");
    after.write(h.after());
    auto db = Database::open(after.path());
    auto before = Database::open(src);
    EXPECT_GT(db->table(table)->rowCount, before->table(table)->rowCount + inserts / 2);
    EXPECT_GT(checkDatabase(*db).indexPages, checkDatabase(*before).indexPages) << "no index page split";
  }
  for (IoFault fault : {IoFault::Crash, IoFault::TornWrite}) EXPECT_GT(h.killAtEveryStep(fault), 4u);
}

INSTANTIATE_TEST_SUITE_P(Tables, CrashRowsTest,
                         ::testing::Values(Case{"jet4/test2V2000.mdb", u"MSP_PROJECTS", 40},
                                           Case{"jet3/test2V1997.mdb", u"MSP_PROJECTS", 40},
                                           Case{"jet4/testV2000.mdb", u"Table1", 80},
                                           Case{"jet3/testV1997.mdb", u"Table1", 80}),
                         [](const auto& info) {
                           std::string n = info.param.fixture;
                           n = n.substr(n.find('/') + 1);
                           return n.substr(0, n.find('.')) + "_" + toUtf8(info.param.table);
                         });

}  // namespace
}  // namespace bv::storage
