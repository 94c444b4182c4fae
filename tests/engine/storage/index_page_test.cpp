// Index page decoding: every index page in the Access-made fixtures, and hand-built pages
// with prefix compression and damage.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>

#include "engine/storage/error.h"
#include "engine/storage/index_page.h"

using namespace bv::storage;
namespace fs = std::filesystem;

namespace {

std::vector<uint8_t> readAll(const fs::path& p) {
  std::ifstream in(p, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// A Jet 4 page from entries given whole (key + pointers); later entries are stored without
// the first `prefix` bytes.
std::vector<uint8_t> buildJet4Page(uint8_t type, const std::vector<std::vector<uint8_t>>& whole,
                                   uint16_t prefix) {
  const IndexPageLayout L = IndexPageLayout::forJet4(true);
  std::vector<uint8_t> page(L.pageSize, 0);
  page[0] = type;
  page[1] = 1;
  page[L.prefixOffset] = static_cast<uint8_t>(prefix);
  uint32_t at = 0;
  for (size_t i = 0; i < whole.size(); ++i) {
    size_t skip = i == 0 ? 0 : prefix;
    for (size_t k = skip; k < whole[i].size(); ++k) page[L.firstEntry + at++] = whole[i][k];
    page[L.maskOffset + at / 8] |= static_cast<uint8_t>(1u << (at % 8));
  }
  uint32_t free = L.pageSize - (L.firstEntry + at);
  page[2] = static_cast<uint8_t>(free);
  page[3] = static_cast<uint8_t>(free >> 8);
  return page;
}

}  // namespace

TEST(IndexPage, PrefixCompressionRestoresWholeEntries) {
  std::vector<std::vector<uint8_t>> whole = {
      {0x7F, 0x4A, 0x4C, 0x01, 0x00, 0x00, 0x00, 0x10, 0x02},
      {0x7F, 0x4A, 0x4D, 0x01, 0x00, 0x00, 0x00, 0x10, 0x00},
      {0x7F, 0x4A, 0x4D, 0x01, 0x00, 0x00, 0x00, 0x11, 0x05}};
  auto page = buildJet4Page(kIndexLeafPage, whole, 2);
  IndexPage ip = decodeIndexPage(page, true, 9);
  ASSERT_EQ(ip.entries.size(), 3u);
  EXPECT_EQ(ip.prefixLength, 2u);
  EXPECT_EQ(ip.entries[1].key, (std::vector<uint8_t>{0x7F, 0x4A, 0x4D, 0x01, 0x00}));
  EXPECT_EQ(ip.entries[1].dataPage, 0x10u);
  EXPECT_EQ(ip.entries[1].dataRow, 0);
  EXPECT_EQ(ip.entries[2].dataPage, 0x11u);
  EXPECT_EQ(ip.entries[2].dataRow, 5);
  EXPECT_EQ(ip.freeSpace, 4096 - ip.usedEnd);

  // Intermediate entries carry a big-endian child page after the data pointer.
  auto node = buildJet4Page(kIndexNodePage, {{0x7F, 0x80, 0, 0, 0, 0, 0, 0x20, 1, 0, 0, 0x01, 0x02}}, 0);
  IndexPage np = decodeIndexPage(node, true, 3);
  ASSERT_EQ(np.entries.size(), 1u);
  EXPECT_EQ(np.entries[0].child, 0x102u);
  EXPECT_EQ(np.entries[0].dataPage, 0x20u);
  EXPECT_EQ(np.entries[0].dataRow, 1);
}

TEST(IndexPage, DamagedPagesGiveErrors) {
  std::vector<std::vector<uint8_t>> whole = {{0x7F, 1, 0, 0, 0x10, 0}, {0x7F, 2, 0, 0, 0x10, 1}};
  auto expectError = [](const std::vector<uint8_t>& page, bool jet4) {
    try {
      decodeIndexPage(page, jet4, 42);
      ADD_FAILURE() << "damaged page decoded";
    } catch (const bv::JetError& e) {
      EXPECT_EQ(e.number(), 3049);
      EXPECT_NE(std::string(e.what()).find("42"), std::string::npos);
    }
  };
  auto page = buildJet4Page(kIndexLeafPage, whole, 0);
  page[0] = 0x01;  // not an index page
  expectError(page, true);
  page = buildJet4Page(kIndexLeafPage, whole, 0);
  page[IndexPageLayout::forJet4(true).prefixOffset] = 30;  // longer than the first entry
  expectError(page, true);
  page = buildJet4Page(kIndexLeafPage, {{0x7F, 1}}, 0);  // entry shorter than its pointer
  expectError(page, true);
  page = buildJet4Page(kIndexLeafPage, whole, 0);
  page[IndexPageLayout::forJet4(true).maskOffset + 452] = 0x80;  // end past the page
  expectError(page, true);
  expectError(std::vector<uint8_t>(100, 4), true);  // wrong size
}

// Every index page of the fixtures decodes: the stored free space is exactly what follows
// the last entry, entries are in order, and re-encoding the decoded page (with its prefix
// length) gives back the bytes Access wrote, bitmask and marker byte included.
TEST(IndexPage, FixturePagesDecodeAndEncodeBack) {
  int pages = 0;
  size_t entries = 0;
  for (const char* dir : {"jet3", "jet4"}) {
    for (const auto& f : fs::directory_iterator(fs::path(BV_FIXTURES_DIR) / dir)) {
      if (f.path().extension() != ".mdb") continue;
      auto bytes = readAll(f.path());
      const bool jet4 = bytes.at(0x14) != 0;
      const IndexPageLayout L = IndexPageLayout::forJet4(jet4);
      for (size_t n = 0; n * L.pageSize < bytes.size(); ++n) {
        const uint8_t* raw = bytes.data() + n * L.pageSize;
        if (raw[0] != kIndexLeafPage && raw[0] != kIndexNodePage) continue;
        IndexPage ip = decodeIndexPage(std::span<const uint8_t>(raw, L.pageSize), jet4, static_cast<uint32_t>(n));
        EXPECT_EQ(ip.freeSpace, L.pageSize - ip.usedEnd) << f.path() << " page " << n;
        for (size_t i = 1; i < ip.entries.size(); ++i)
          EXPECT_LT(compareEntries(ip.entries[i - 1], ip.entries[i]), 0) << f.path() << " page " << n;
        std::vector<uint8_t> again = encodeIndexPage(ip, jet4, static_cast<int>(ip.prefixLength));
        // Bytes past the last entry are left over from earlier contents; compare the rest.
        ASSERT_TRUE(std::equal(again.begin(), again.begin() + ip.usedEnd, raw)) << f.path() << " page " << n;
        // With the longest shared prefix the page still decodes to the same entries.
        IndexPage tight = decodeIndexPage(encodeIndexPage(ip, jet4), jet4, 0);
        ASSERT_EQ(tight.entries, ip.entries) << f.path() << " page " << n;
        EXPECT_GE(tight.prefixLength, ip.prefixLength);
        ++pages;
        entries += ip.entries.size();
      }
    }
  }
  EXPECT_GT(pages, 100);
  EXPECT_GT(entries, 10000u);
}
