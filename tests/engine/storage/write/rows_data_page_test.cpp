// Data page edits: rows stay packed from the page end in slot order, the free-space field is
// exact, slots keep their numbers, freed room is reused, and a full page says so.
#include <gtest/gtest.h>

#include <map>
#include <random>
#include <vector>

#include "engine/storage/data_page_edit.h"
#include "engine/storage/error.h"
#include "engine/storage/value.h"

namespace bv::storage {
namespace {

// Reads a page back the way the reader does and checks the layout rules.
void expectConsistent(const std::vector<uint8_t>& page, bool jet4, const std::map<int, Bytes>& live) {
  PageRef ref(std::shared_ptr<const uint8_t[]>(page.data(), [](const uint8_t*) {}), 7,
              static_cast<uint32_t>(page.size()));
  const int count = dataPageRowCount(ref, jet4);
  ASSERT_GE(count, 0);
  uint32_t lowest = static_cast<uint32_t>(page.size());
  for (int i = 0; i < count; ++i) {
    RowSpan s;
    ASSERT_TRUE(locateRow(ref, jet4, count, i, s)) << "slot " << i;
    lowest = s.start;
    auto it = live.find(i);
    if (it == live.end()) {
      EXPECT_EQ(s.flags, kRowFreed) << "slot " << i;
    } else {
      EXPECT_EQ(s.flags, 0) << "slot " << i;
      EXPECT_EQ(Bytes(page.begin() + s.start, page.begin() + s.end), it->second) << "slot " << i;
    }
  }
  EXPECT_EQ(ref.u16(2), lowest - rowCountOffset(jet4) - 2 - 2 * count);
}

class DataPageEdit : public ::testing::TestWithParam<bool> {
 protected:
  bool jet4() const { return GetParam(); }
  uint32_t size() const { return jet4() ? 4096 : 2048; }
};

TEST_P(DataPageEdit, RandomInsertsReplacesAndFreesKeepThePageExact) {
  std::vector<uint8_t> page(size());
  initDataPage(page.data(), size(), jet4(), 42);
  EXPECT_EQ(page[0], 0x01);
  EXPECT_EQ(page[4], 42);
  std::map<int, Bytes> live;
  std::mt19937 rng(7);
  auto bytesOf = [&](size_t n) {
    Bytes b(n);
    for (auto& x : b) x = static_cast<uint8_t>(rng());
    return b;
  };
  size_t refusals = 0;
  for (int step = 0; step < 3000; ++step) {
    DataPageEditor ed(page.data(), size(), jet4());
    const int op = static_cast<int>(rng() % 3);
    if (op == 0 || live.empty()) {
      const Bytes b = bytesOf(4 + rng() % 300);
      if (!ed.canInsert(b.size())) {
        ++refusals;
        // A page that refuses must really lack the room.
        EXPECT_LT(ed.freeSpace() + ed.reclaimable(), b.size() + 2);
        continue;
      }
      const int slot = ed.insert(b, 0);
      EXPECT_FALSE(live.count(slot)) << "a live slot was reused";
      live[slot] = b;
    } else {
      auto it = live.begin();
      std::advance(it, rng() % live.size());
      if (op == 1) {
        const Bytes b = bytesOf(4 + rng() % 400);
        if (ed.canReplace(it->first, b.size())) {
          ed.replace(it->first, b, 0);
          it->second = b;
        }
      } else {
        ed.free(it->first);
        live.erase(it);
      }
    }
    expectConsistent(page, jet4(), live);
    if (HasFailure()) return;
  }
  EXPECT_GT(refusals, 0u) << "the page never filled up";
}

TEST_P(DataPageEdit, AFreedSlotIsReusedWithItsRoom) {
  std::vector<uint8_t> page(size());
  initDataPage(page.data(), size(), jet4(), 3);
  DataPageEditor ed(page.data(), size(), jet4());
  const Bytes big(size() / 2, 0xAB), small(100, 0xCD);
  EXPECT_EQ(ed.insert(big, 0), 0);
  EXPECT_EQ(ed.insert(small, 0), 1);
  EXPECT_FALSE(ed.canInsert(big.size()));
  ed.free(0);
  EXPECT_FALSE(ed.empty());
  ASSERT_TRUE(ed.canInsert(big.size()));
  EXPECT_EQ(ed.insert(big, 0), 0);  // slot 0 again: no new slot needed
  expectConsistent(page, jet4(), {{0, big}, {1, small}});
  ed.free(0);
  ed.free(1);
  EXPECT_TRUE(ed.empty());
}

TEST_P(DataPageEdit, SlotNumbersStopAtTheLimit) {
  std::vector<uint8_t> page(size());
  initDataPage(page.data(), size(), jet4(), 3);
  DataPageEditor ed(page.data(), size(), jet4());
  const Bytes tiny(4, 1);
  int n = 0;
  while (ed.canInsert(tiny.size())) ASSERT_EQ(ed.insert(tiny, 0), n++);
  EXPECT_EQ(n, kMaxRowsPerPage);  // room for more, but row numbers are one byte
  EXPECT_EQ(ed.slotCount(), n);
}

TEST_P(DataPageEdit, ADamagedOffsetTableIsRefused) {
  std::vector<uint8_t> page(size());
  initDataPage(page.data(), size(), jet4(), 3);
  page[rowCountOffset(jet4())] = 0xFF;  // more slots than the page can list
  page[rowCountOffset(jet4()) + 1] = 0x7F;
  EXPECT_THROW(DataPageEditor(page.data(), size(), jet4()), JetError);
}

INSTANTIATE_TEST_SUITE_P(Formats, DataPageEdit, ::testing::Values(false, true),
                         [](const auto& info) { return info.param ? "Jet4" : "Jet3"; });

}  // namespace
}  // namespace bv::storage
