#include "engine/storage/page_alloc.h"

#include "engine/storage/write_unit.h"

namespace bv::storage {

uint32_t allocateInUse(WriteUnit& unit) {
  const uint32_t n = unit.allocate();
  Database& db = unit.db();
  const Database::RowBytes rb = db.rowBytes(1, 0);
  if (!rb.valid || rb.size() < 5 || rb.data()[0] != 0x00) return n;  // not an inline map
  const uint8_t* d = rb.data();
  const uint32_t first = static_cast<uint32_t>(d[1] | d[2] << 8 | d[3] << 16 | static_cast<uint32_t>(d[4]) << 24);
  if (n < first || n - first >= (rb.size() - 5) * 8) return n;
  const uint32_t bit = n - first;
  if (d[5 + bit / 8] & (1u << (bit % 8))) {
    const uint16_t start = rb.start;
    unit.modify(1)[start + 5 + bit / 8] &= static_cast<uint8_t>(~(1u << (bit % 8)));
  }
  return n;
}

}  // namespace bv::storage
