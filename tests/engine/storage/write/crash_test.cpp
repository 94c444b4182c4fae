// A writer that dies at any step of a commit of page-level changes (new data pages in a
// table's map, an inline map turned into a reference map, many pages taken and given back,
// the file grown) — before its k-th write, flush, cut or removal, or halfway through a
// write — leaves the file as before or as after the unit once it is opened again.
#include <gtest/gtest.h>

#include <filesystem>

#include "tests/engine/storage/storage_test_util.h"
#include "tests/engine/storage/write/crash_harness.h"
#include "tests/engine/storage/write/unit_sample_change.h"

namespace bv::storage {
namespace {

struct Case {
  const char* fixture;
  bool farPage;
  bool durable;
};

class CrashTest : public ::testing::TestWithParam<Case> {};

TEST_P(CrashTest, DeathAtEveryStepLeavesBeforeOrAfter) {
  const std::string src = test::fixturesDir() + "/" + GetParam().fixture;
  if (!std::filesystem::exists(src)) GTEST_SKIP() << "fixture absent: " << src;
  WriteOptions options;
  options.durable = GetParam().durable;
  const bool farPage = GetParam().farPage;
  crash::Harness h(src, [farPage](WriteUnit& unit) { ASSERT_TRUE(sample::applySampleChange(unit, farPage)); },
                   options);
  if (HasFailure()) return;
  for (IoFault fault : {IoFault::Crash, IoFault::TornWrite}) EXPECT_GT(h.killAtEveryStep(fault), 4u);
}

INSTANTIATE_TEST_SUITE_P(Units, CrashTest,
                         ::testing::Values(Case{"jet4/testV2000.mdb", true, true}, Case{"jet3/testV1997.mdb", true, false},
                                           Case{"jet4/indexTestV2000.mdb", false, true}),
                         [](const auto& info) {
                           std::string n = info.param.fixture;
                           n = n.substr(n.find('/') + 1);
                           n = n.substr(0, n.find('.'));
                           return n + (info.param.farPage ? "_grows" : "_small") +
                                  (info.param.durable ? "_durable" : "_fast");
                         });

}  // namespace
}  // namespace bv::storage
