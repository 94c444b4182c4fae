#include "engine/storage/usage_map_edit.h"

#include <algorithm>
#include <cstring>
#include <vector>

#include "engine/storage/error.h"
#include "engine/storage/write_unit.h"

namespace bv::storage {

namespace {

constexpr uint8_t kInlineMap = 0x00;
constexpr uint8_t kReferenceMap = 0x01;
constexpr uint8_t kBitmapPage = 0x05;

uint32_t rd32(const uint8_t* p) {
  return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) |
         (static_cast<uint32_t>(p[2]) << 16) | (static_cast<uint32_t>(p[3]) << 24);
}
void wr32(uint8_t* p, uint32_t v) {
  for (int i = 0; i < 4; ++i) p[i] = static_cast<uint8_t>(v >> (8 * i));
}

bool isGlobal(RowPointer map) { return map.page == 1 && map.row == 0; }

[[noreturn]] void damaged(const std::string& what, uint32_t page) {
  throw JetError(3049, "The database is damaged: " + what + " (page " + std::to_string(page) + ").");
}

// The map row's bytes as the database (and so the unit) sees them.
Database::RowBytes mapRow(const Database& db, RowPointer map) {
  if (map.isNull()) throw JetError(3049, "A usage map to change is missing (null row pointer).");
  Database::RowBytes rb = db.rowBytes(map.page, map.row);
  if (!rb.valid || rb.size() < 5) damaged("a usage map points at a missing row", map.page);
  if (rb.data()[0] != kInlineMap && rb.data()[0] != kReferenceMap)
    damaged("unknown usage map type " + std::to_string(rb.data()[0]), map.page);
  return rb;
}

uint64_t pagesPerBitmap(uint32_t pageSize) { return static_cast<uint64_t>(pageSize - 4) * 8; }

void setBit(uint8_t* bits, uint64_t k, bool on) {
  if (on)
    bits[k / 8] |= static_cast<uint8_t>(1u << (k % 8));
  else
    bits[k / 8] &= static_cast<uint8_t>(~(1u << (k % 8)));
}
bool getBit(const uint8_t* bits, uint64_t k) { return bits[k / 8] & (1u << (k % 8)); }

// The global map marks every page past the end of the file free; a new or moved window of
// it keeps that convention.
void markPastEndFree(uint8_t* bits, uint64_t nbits, uint64_t first, uint32_t pageCount) {
  for (uint64_t k = 0; k < nbits; ++k)
    if (first + k >= pageCount) setBit(bits, k, true);
}

// Writable bytes of the map row (in place: the row keeps its length).
uint8_t* writableRow(WriteUnit& unit, RowPointer map, const Database::RowBytes& rb) {
  return unit.modify(map.page) + rb.start;
}

// A new bitmap page for slot k of a reference map.
uint32_t newBitmapPage(WriteUnit& unit, RowPointer map, uint64_t k) {
  const uint32_t bp = unit.allocate();
  uint8_t* b = unit.modify(bp);
  b[0] = kBitmapPage;
  b[1] = 0x01;
  if (isGlobal(map)) {
    const uint64_t per = pagesPerBitmap(unit.pageSize());
    markPastEndFree(b + 4, per, per * k, unit.pageCount());
  }
  return bp;
}

void setInReference(WriteUnit& unit, RowPointer map, uint32_t page, bool present) {
  const uint64_t per = pagesPerBitmap(unit.pageSize());
  const uint64_t k = page / per;
  Database::RowBytes rb = mapRow(unit.db(), map);
  const size_t slots = (rb.size() - 1) / 4;
  if (k >= slots) {
    if (!present) return;
    throw JetError(3049, "The usage map on page " + std::to_string(map.page) + " cannot list page " +
                             std::to_string(page) + ": it lies beyond the pages such a map can cover.");
  }
  uint32_t bp = rd32(rb.data() + 1 + 4 * k);
  if (bp == 0) {
    if (!present) return;
    bp = newBitmapPage(unit, map, k);
    // Allocation may have changed other maps on the same page, never this row's place.
    wr32(writableRow(unit, map, mapRow(unit.db(), map)) + 1 + 4 * k, bp);
  } else if (unit.page(bp)[0] != kBitmapPage) {
    damaged("a usage map refers to a page that is not a bitmap page", bp);
  }
  setBit(unit.modify(bp) + 4, page - k * per, present);
}

// Turns an inline map into a reference map listing the same pages plus `page`.
void convertToReference(WriteUnit& unit, RowPointer map, uint32_t page) {
  const uint64_t per = pagesPerBitmap(unit.pageSize());
  Database::RowBytes rb = mapRow(unit.db(), map);
  const size_t slots = (rb.size() - 1) / 4;
  // Bitmap pages first: allocating may take pages from (and so change) this very map
  // when it is the global one, so its pages are read only afterwards.
  std::vector<uint64_t> needed;
  {
    std::vector<uint32_t> pages = unit.db().usageMapPages(map);
    pages.push_back(page);
    for (uint32_t p : pages) needed.push_back(p / per);
    std::sort(needed.begin(), needed.end());
    needed.erase(std::unique(needed.begin(), needed.end()), needed.end());
    if (!needed.empty() && needed.back() >= slots)
      throw JetError(3049, "The usage map on page " + std::to_string(map.page) + " cannot list page " +
                               std::to_string(page) + ": it lies beyond the pages such a map can cover.");
  }
  std::vector<std::pair<uint64_t, uint32_t>> bitmaps;
  for (uint64_t k : needed) {
    const uint32_t bp = unit.allocate();
    bitmaps.emplace_back(k, bp);
  }
  std::vector<uint32_t> pages = unit.db().usageMapPages(map);
  pages.push_back(page);
  for (auto [k, bp] : bitmaps) {
    uint8_t* b = unit.modify(bp);
    std::memset(b, 0, unit.pageSize());
    b[0] = kBitmapPage;
    b[1] = 0x01;
    if (isGlobal(map)) markPastEndFree(b + 4, per, per * k, unit.pageCount());
  }
  for (uint32_t p : pages) {
    const uint64_t k = p / per;
    auto it = std::find_if(bitmaps.begin(), bitmaps.end(), [&](const auto& e) { return e.first == k; });
    if (it == bitmaps.end()) continue;  // a page freed by the allocations above
    setBit(unit.modify(it->second) + 4, p - k * per, true);
  }
  rb = mapRow(unit.db(), map);
  uint8_t* row = writableRow(unit, map, rb);
  std::memset(row, 0, rb.size());
  row[0] = kReferenceMap;
  for (auto [k, bp] : bitmaps) wr32(row + 1 + 4 * k, bp);
}

void setInInline(WriteUnit& unit, RowPointer map, uint32_t page, bool present) {
  Database::RowBytes rb = mapRow(unit.db(), map);
  const uint64_t nbits = static_cast<uint64_t>(rb.size() - 5) * 8;
  const uint32_t first = rd32(rb.data() + 1);
  if (page >= first && page - first < nbits) {
    setBit(writableRow(unit, map, rb) + 5, page - first, present);
    return;
  }
  if (!present) return;  // outside the window: not listed already
  // Move the window when every listed page (pages past the end of the file do not count)
  // still fits beside the new one; otherwise the map becomes a reference map.
  std::vector<uint32_t> pages = unit.db().usageMapPages(map);
  uint32_t lo = page, hi = page;
  for (uint32_t p : pages) {
    lo = std::min(lo, p);
    hi = std::max(hi, p);
  }
  const uint32_t start = lo & ~7u;
  if (hi - start >= nbits) {
    convertToReference(unit, map, page);
    return;
  }
  uint8_t* row = writableRow(unit, map, rb);
  wr32(row + 1, start);
  uint8_t* bits = row + 5;
  std::memset(bits, 0, rb.size() - 5);
  for (uint32_t p : pages) setBit(bits, p - start, true);
  setBit(bits, page - start, true);
  if (isGlobal(map)) markPastEndFree(bits, nbits, start, unit.pageCount());
}

}  // namespace

void setPageInMap(WriteUnit& unit, RowPointer map, uint32_t page, bool present) {
  const Database::RowBytes rb = mapRow(unit.db(), map);
  if (rb.data()[0] == kInlineMap)
    setInInline(unit, map, page, present);
  else
    setInReference(unit, map, page, present);
}

bool mapHasPage(const Database& db, RowPointer map, uint32_t page) {
  const Database::RowBytes rb = mapRow(db, map);
  const uint8_t* m = rb.data();
  if (m[0] == kInlineMap) {
    const uint32_t first = rd32(m + 1);
    const uint64_t nbits = static_cast<uint64_t>(rb.size() - 5) * 8;
    return page >= first && page - first < nbits && getBit(m + 5, page - first);
  }
  const uint64_t per = pagesPerBitmap(db.pageSize());
  const uint64_t k = page / per;
  if (k >= (rb.size() - 1) / 4) return false;
  const uint32_t bp = rd32(m + 1 + 4 * k);
  if (bp == 0) return false;
  PageRef b = db.page(bp);
  if (b[0] != kBitmapPage) damaged("a usage map refers to a page that is not a bitmap page", bp);
  return getBit(b.data() + 4, page - k * per);
}

}  // namespace bv::storage
