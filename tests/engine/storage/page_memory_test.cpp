// Page memory: buffers handed out by PageBuffers and pages read into them by the cache.
#include <gtest/gtest.h>

#include <cstring>
#include <numeric>

#include "engine/storage/file.h"
#include "engine/storage/page_buffers.h"
#include "engine/storage/page_cache.h"
#include "storage_test_util.h"

namespace bv::storage {
namespace {

TEST(PageBuffers, ReleasedBuffersAreReusedAndHeldOnesOutliveThePool) {
  auto pool = PageBuffers::make(4096);
  std::vector<std::shared_ptr<uint8_t[]>> held;
  for (int i = 0; i < 40; ++i) held.push_back(pool->take());
  const size_t made = pool->capacity();
  EXPECT_GE(made, 40u);
  // Every buffer is distinct and a whole page long: writing one leaves the others alone.
  for (size_t i = 0; i < held.size(); ++i) std::memset(held[i].get(), int(i), 4096);
  for (size_t i = 0; i < held.size(); ++i) {
    EXPECT_EQ(held[i][0], uint8_t(i));
    EXPECT_EQ(held[i][4095], uint8_t(i));
  }
  // Let go of them all and take as many again: no new memory.
  held.clear();
  for (int i = 0; i < 40; ++i) held.push_back(pool->take());
  EXPECT_EQ(pool->capacity(), made);
  // A buffer stays usable after every other owner of the pool is gone.
  std::shared_ptr<uint8_t[]> last = pool->take();
  pool.reset();
  held.clear();
  std::memset(last.get(), 0x5A, 4096);
  EXPECT_EQ(last[100], 0x5A);
}

TEST(PageCache, PagesReadTogetherMatchTheFileUpToItsEnd) {
  test::TempCopy dir("");
  const uint32_t pageSize = 4096, pages = 37;
  std::vector<uint8_t> bytes(size_t(pages) * pageSize);
  for (size_t i = 0; i < bytes.size(); ++i) bytes[i] = uint8_t((i * 131) ^ (i >> 12));
  {
    auto f = File::create(dir.path());
    f->writeAt(0, bytes.data(), bytes.size());
  }
  File f(dir.path(), false);
  PageCache cache(f, pageSize, pages, 8);
  // In ascending order the cache reads ahead several pages at a time, also past what it
  // keeps, and at the end of the file stops at the last page.
  for (uint32_t p = 0; p < pages; ++p) {
    PageRef r = cache.get(p);
    ASSERT_EQ(std::memcmp(r.data(), bytes.data() + size_t(p) * pageSize, pageSize), 0) << "page " << p;
  }
  EXPECT_EQ(cache.reads(), pages);
  // Out of order, after the pages were dropped from the small cache.
  for (uint32_t p : {3u, 30u, 0u, 36u, 12u}) {
    PageRef r = cache.get(p);
    ASSERT_EQ(std::memcmp(r.data(), bytes.data() + size_t(p) * pageSize, pageSize), 0) << "page " << p;
  }
  EXPECT_THROW(cache.get(pages), JetError);
}

// Rows fetched sparsely in file order (every third page) soon stop the cache reading pages
// nobody asks for; a scan after them still reads every page once.
TEST(PageCache, ReadAheadShrinksForSparseReads) {
  test::TempCopy dir("");
  const uint32_t pageSize = 4096, pages = 3000;
  {
    auto f = File::create(dir.path());
    std::vector<uint8_t> bytes(size_t(pages) * pageSize, 0x11);
    f->writeAt(0, bytes.data(), bytes.size());
  }
  File f(dir.path(), false);
  PageCache cache(f, pageSize, pages, 256);
  uint32_t asked = 0;
  for (uint32_t p = 0; p < 1500; p += 3, ++asked) cache.get(p);
  // Reading 16 pages for every one asked for would read all 1,500; a window that adapts
  // reads little more than the 500 asked for.
  EXPECT_LT(cache.reads(), asked * 3 / 2) << "pages read for " << asked << " asked for";
  const uint64_t before = cache.reads();
  for (uint32_t p = 1500; p < pages; ++p) cache.get(p);
  EXPECT_EQ(cache.reads() - before, pages - 1500);
}

}  // namespace
}  // namespace bv::storage
