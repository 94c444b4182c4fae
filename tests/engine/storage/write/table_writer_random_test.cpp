// Randomized differential test of TableWriter: long sequences of inserts, updates and
// deletes (every column type, Nulls, long values of every size, text in many scripts,
// colliding index keys) on copies of Access-made tables, checked against an in-memory
// model. After every committed batch the table read back equals the model, our check
// passes with every index walked, and mdb-export reads the same rows. A refused call
// (duplicate key, Null key, key that cannot be encoded) must leave every page unchanged.
#include <gtest/gtest.h>

#include "tests/engine/storage/write/table_writer_random.h"

namespace bv::storage::randomized {
namespace {

class TableWriterRandom : public ::testing::TestWithParam<Scenario> {};

TEST_P(TableWriterRandom, MatchesTheModelAfterEveryBatch) { run(GetParam()); }

// Tables without indexes: rows, long values and page maps on their own.
INSTANTIATE_TEST_SUITE_P(
    Unindexed, TableWriterRandom,
    ::testing::Values(Scenario{"jet4/overflowTestV2000.mdb", u"Table1", 1, 6, 120},
                      Scenario{"jet3/overflowTestV1997.mdb", u"Table1", 2, 6, 120},
                      Scenario{"jet4/fixedNumericTestV2000.mdb", u"test", 3, 6, 80},
                      Scenario{"jet3/delTestV1997.mdb", u"Table", 4, 5, 100},
                      Scenario{"jet4/queryTestV2003.mdb", u"Table2", 5, 5, 100}),
    [](const auto& info) { return "case" + std::to_string(info.index); });

// Indexed tables: every key type, ascending and descending, composite keys, unique and
// primary keys, references to other tables, compressed and code-page text.
INSTANTIATE_TEST_SUITE_P(
    Indexed, TableWriterRandom,
    ::testing::Values(Scenario{"jet4/indexTestV2000.mdb", u"Table1", 11, 6, 100},
                      Scenario{"jet4/indexTestV2003.mdb", u"Table1", 12, 4, 100},
                      Scenario{"jet3/indexTestV1997.mdb", u"Table1", 13, 6, 100},
                      Scenario{"jet4/compIndexTestV2000.mdb", u"Table1", 14, 6, 150},
                      Scenario{"jet4/compIndexTestV2003.mdb", u"Table1", 15, 4, 150},
                      Scenario{"jet3/compIndexTestV1997.mdb", u"Table1", 16, 6, 150},
                      Scenario{"jet4/bigIndexTestV2000.mdb", u"Table1", 17, 6, 150},
                      Scenario{"jet4/testV2000.mdb", u"Table1", 18, 5, 120},
                      Scenario{"jet3/testV1997.mdb", u"Table1", 19, 5, 120},
                      Scenario{"jet4/test2V2000.mdb", u"MSP_PROJECTS", 20, 4, 60},
                      Scenario{"jet3/test2V1997.mdb", u"MSP_PROJECTS", 21, 4, 60},
                      Scenario{"jet4/fixedTextTestV2000.mdb", u"users", 22, 4, 100}),
    [](const auto& info) { return "case" + std::to_string(info.index); });

// Every table of the Jet 3 index-codes file: each key type in both directions.
TEST(TableWriterRandomEveryTable, IndexCodesJet3) {
  const std::string file = "jet3/testIndexCodesV1997.mdb";
  if (!std::filesystem::exists(test::fixturesDir() + "/" + file)) GTEST_SKIP() << "fixture absent: " << file;
  std::vector<std::u16string> names = Database::open(test::fixturesDir() + "/" + file)->userTableNames();
  ASSERT_GT(names.size(), 20u);
  uint32_t seed = 100;
  for (const auto& n : names) {
    run(Scenario{file.c_str(), n.c_str(), seed++, 3, 40});
    if (HasFailure()) return;
  }
}

}  // namespace
}  // namespace bv::storage::randomized
