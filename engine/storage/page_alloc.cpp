#include "engine/storage/page_alloc.h"

#include "engine/storage/write_unit.h"

namespace bv::storage {

namespace {

// Sets or clears a page's bit in the inline global map (page 1, row 0) when it covers it.
void setGlobalFree(WriteUnit& unit, uint32_t n, bool free) {
  Database& db = unit.db();
  const Database::RowBytes rb = db.rowBytes(1, 0);
  if (!rb.valid || rb.size() < 5 || rb.data()[0] != 0x00) return;  // not an inline map
  const uint8_t* d = rb.data();
  const uint32_t first = static_cast<uint32_t>(d[1] | d[2] << 8 | d[3] << 16 | static_cast<uint32_t>(d[4]) << 24);
  if (n < first || n - first >= (rb.size() - 5) * 8) return;
  const uint32_t bit = n - first;
  const uint8_t mask = static_cast<uint8_t>(1u << (bit % 8));
  if (((d[5 + bit / 8] & mask) != 0) == free) return;
  const uint16_t start = rb.start;
  uint8_t& b = unit.modify(1)[start + 5 + bit / 8];
  b = static_cast<uint8_t>(free ? (b | mask) : (b & ~mask));
}

}  // namespace

uint32_t allocateInUse(WriteUnit& unit) {
  const uint32_t n = unit.allocate();
  setGlobalFree(unit, n, false);
  return n;
}

void releaseToFree(WriteUnit& unit, uint32_t page) {
  unit.release(page);
  setGlobalFree(unit, page, true);
}

}  // namespace bv::storage
