// Layout helpers for data and long-value pages (type 0x01): header, row-offset table.
#pragma once

#include <cstdint>

#include "engine/storage/page_cache.h"

namespace bv::storage {

constexpr uint16_t kRowDeleted = 0x8000;
constexpr uint16_t kRowOverflow = 0x4000;
constexpr uint16_t kRowOffsetMask = 0x1FFF;

// Offset of the row count (the offset table follows it).
inline uint32_t rowCountOffset(bool jet4) { return jet4 ? 12 : 8; }

struct RowSpan {
  uint16_t start = 0, end = 0, flags = 0;
};

// Number of slots on a data page, or -1 if the offset table would not fit the page.
inline int dataPageRowCount(const PageRef& p, bool jet4) {
  const uint32_t at = rowCountOffset(jet4);
  const uint32_t n = p.u16(at);
  if (at + 2 + 2 * n > p.size()) return -1;
  return static_cast<int>(n);
}

// The bytes of slot `row` (0 <= row < count): they end where the previous slot's row
// starts (the page end for slot 0). False if the offsets contradict the page.
inline bool locateRow(const PageRef& p, bool jet4, int count, int row, RowSpan& out) {
  const uint32_t table = rowCountOffset(jet4) + 2;
  const uint16_t entry = p.u16(table + 2 * static_cast<uint32_t>(row));
  const uint32_t start = entry & kRowOffsetMask;
  const uint32_t end = row == 0 ? p.size() : (p.u16(table + 2 * static_cast<uint32_t>(row - 1)) & kRowOffsetMask);
  if (start < table + 2 * static_cast<uint32_t>(count) || start > end || end > p.size()) return false;
  out.start = static_cast<uint16_t>(start);
  out.end = static_cast<uint16_t>(end);
  out.flags = entry & (kRowDeleted | kRowOverflow);
  return true;
}

}  // namespace bv::storage
