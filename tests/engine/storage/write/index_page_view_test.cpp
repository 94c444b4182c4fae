// Leaf edits made in place give exactly the bytes a re-encoding of the changed entry list
// gives, on every leaf page of Access-made indexes, Jet 3 and Jet 4.
#include <gtest/gtest.h>

#include <filesystem>

#include "engine/storage/database.h"
#include "engine/storage/index_page.h"
#include "engine/storage/index_page_view.h"
#include "tests/engine/storage/storage_test_util.h"

namespace bv::storage {
namespace {

class LeafEdits : public ::testing::TestWithParam<const char*> {};

TEST_P(LeafEdits, InPlaceEditsEqualReencoding) {
  const std::string path = test::fixturesDir() + "/" + GetParam();
  if (!std::filesystem::exists(path)) GTEST_SKIP() << "fixture absent: " << path;
  auto db = Database::open(path);
  const bool j4 = db->isJet4();
  size_t inserted = 0, removed = 0, removedFirst = 0, declined = 0;
  for (uint32_t n = 3; n < db->pageCount(); ++n) {
    PageRef p = db->page(n);
    if (p[0] != kIndexLeafPage) continue;
    const IndexPage ip = decodeIndexPage(std::span<const uint8_t>(p.data(), p.size()), j4, n);
    const int prefix = static_cast<int>(ip.prefixLength);
    // Access does not always compress as much as it could; an edit in place keeps the
    // page's own prefix, or declines when the prefix would have to change. (Access leaves
    // old bytes after the last entry; the encoded page has zeros there.)
    const std::vector<uint8_t> original = encodeIndexPage(ip, j4, ip.entries.size() >= 2 ? prefix : -1);
    for (size_t i = 0; i < ip.entries.size(); ++i) {
      IndexPage without = ip;
      without.entries.erase(without.entries.begin() + static_cast<std::ptrdiff_t>(i));
      const std::vector<uint8_t> expectRemoved =
          encodeIndexPage(without, j4, without.entries.size() >= 2 ? prefix : -1);

      std::vector<uint8_t> page = original;
      IndexPageView v;
      v.parse(page.data(), j4, n);
      ASSERT_EQ(v.count(), ip.entries.size());
      ASSERT_EQ(v.lowerBound(ip.entries[i]), i);
      ASSERT_EQ(v.compare(i, ip.entries[i]), 0);
      if (v.remove(page.data(), i)) {
        ++removed;
        if (i == 0) ++removedFirst;
        ASSERT_EQ(page, expectRemoved) << "page " << n << " entry " << i;
        EXPECT_EQ(v.count(), ip.entries.size() - 1);
      } else {
        ++declined;
        ASSERT_EQ(page, original) << "a declined edit wrote to the page";
      }

      // Putting the entry back into the page without it gives the original page again.
      page = expectRemoved;
      v.parse(page.data(), j4, n);
      if (v.insert(page.data(), i, ip.entries[i])) {
        ++inserted;
        ASSERT_EQ(page, original) << "page " << n << " entry " << i;
      } else {
        ++declined;
        ASSERT_EQ(page, expectRemoved) << "a declined edit wrote to the page";
      }
    }
  }
  EXPECT_GT(inserted, 0u);
  EXPECT_GT(removed, 0u);
  EXPECT_GT(removedFirst, 0u) << "the first entry of a page is never taken out in place";
  RecordProperty("declined", static_cast<int>(declined));
}

INSTANTIATE_TEST_SUITE_P(Fixtures, LeafEdits,
                         ::testing::Values("jet3/testIndexCodesV1997.mdb", "jet3/compIndexTestV1997.mdb",
                                           "jet4/compIndexTestV2000.mdb", "jet4/testIndexPropertiesV2003.mdb",
                                           "jet4/compIndexTestV2003.mdb"),
                         [](const auto& info) { return std::filesystem::path(info.param).stem().string(); });

}  // namespace
}  // namespace bv::storage
