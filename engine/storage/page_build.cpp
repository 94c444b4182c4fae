#include "engine/storage/page_build.h"

#include <cstring>

#include "engine/storage/data_page.h"
#include "engine/storage/error.h"

namespace bv::storage {

std::vector<uint8_t> buildDataPage(uint32_t owner, const std::vector<std::vector<uint8_t>>& rows, bool jet4) {
  const uint32_t ps = jet4 ? 4096 : 2048;
  std::vector<uint8_t> pg(ps, 0);
  pg[0] = 0x01;
  pg[1] = 0x01;
  for (int i = 0; i < 4; ++i) pg[4 + i] = static_cast<uint8_t>(owner >> (8 * i));
  const uint32_t countAt = rowCountOffset(jet4);
  const uint32_t tableStart = countAt + 2;
  uint32_t end = ps;
  for (size_t i = 0; i < rows.size(); ++i) {
    const size_t n = rows[i].size();
    const uint32_t tableEnd = tableStart + 2 * static_cast<uint32_t>(i + 1);
    if (n > end || end - n < tableEnd) throw JetError(3047, "The rows do not fit on one page.");
    end -= static_cast<uint32_t>(n);
    std::memcpy(pg.data() + end, rows[i].data(), n);
    pg[tableStart + 2 * i] = static_cast<uint8_t>(end);
    pg[tableStart + 2 * i + 1] = static_cast<uint8_t>(end >> 8);
  }
  const uint32_t count = static_cast<uint32_t>(rows.size());
  pg[countAt] = static_cast<uint8_t>(count);
  pg[countAt + 1] = static_cast<uint8_t>(count >> 8);
  const uint32_t free = end - (tableStart + 2 * count);
  pg[2] = static_cast<uint8_t>(free);
  pg[3] = static_cast<uint8_t>(free >> 8);
  return pg;
}

std::vector<uint8_t> inlineUsageMap(uint32_t first, std::span<const uint32_t> pages, bool jet4) {
  first -= first % 8;
  const uint32_t bytes = inlineMapBitmapBytes(jet4);
  std::vector<uint8_t> row(5 + bytes, 0);
  for (int i = 0; i < 4; ++i) row[1 + i] = static_cast<uint8_t>(first >> (8 * i));
  for (uint32_t p : pages) {
    if (p < first || p - first >= bytes * 8)
      throw JetError(3049, "Internal error: page " + std::to_string(p) + " lies outside a new usage map.");
    const uint32_t bit = p - first;
    row[5 + bit / 8] |= static_cast<uint8_t>(1u << (bit % 8));
  }
  return row;
}

std::vector<uint8_t> globalUsageMap(uint32_t pageCount, bool jet4) {
  const uint32_t bytes = inlineMapBitmapBytes(jet4);
  if (pageCount > bytes * 8) throw JetError(3049, "Internal error: too many pages for a new global map.");
  std::vector<uint8_t> row(5 + bytes, 0);
  for (uint32_t bit = pageCount; bit < bytes * 8; ++bit) row[5 + bit / 8] |= static_cast<uint8_t>(1u << (bit % 8));
  return row;
}

}  // namespace bv::storage
