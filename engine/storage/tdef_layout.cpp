#include "engine/storage/tdef_layout.h"

#include <utility>

#include "engine/storage/tabledef.h"
#include "engine/storage/write_unit.h"

namespace bv::storage {
namespace {

size_t headerEnd(bool jet4) { return jet4 ? 63 : 43; }
size_t counterSize(bool jet4) { return jet4 ? 12 : 8; }

}  // namespace

size_t realIndexBlockOffset(const TableDef& table, bool jet4, size_t i) {
  const std::vector<uint8_t>& b = table.raw;
  const size_t numReal = table.realIndexes.size();
  size_t off = headerEnd(jet4) + counterSize(jet4) * numReal + (jet4 ? 25 : 18) * table.columns.size();
  // Column names: J3 u8 length + bytes, J4 u16 byte length + UCS-2.
  for (size_t c = 0; c < table.columns.size(); ++c) {
    if (off + (jet4 ? 2 : 1) > b.size()) throwDamaged("a table definition is cut short", table.tdefPage);
    off += jet4 ? 2u + (b[off] | b[off + 1] << 8) : 1u + b[off];
  }
  off += (jet4 ? 52 : 39) * i;
  if (off + (jet4 ? 52 : 39) > b.size()) throwDamaged("a table definition is cut short", table.tdefPage);
  return off;
}

size_t realIndexRootOffset(const TableDef& table, bool jet4, size_t i) {
  return realIndexBlockOffset(table, jet4, i) + (jet4 ? 38 : 34);
}

size_t realIndexCounterOffset(bool jet4, size_t i) {
  return headerEnd(jet4) + counterSize(jet4) * i + 4;
}

namespace {

// The page of the chain and the offset in it that hold a byte of the logical buffer.
std::pair<uint32_t, size_t> locate(const TableDef& table, size_t pageSize, size_t offset) {
  size_t chainIndex = 0;
  if (offset >= pageSize) {
    chainIndex = 1 + (offset - pageSize) / (pageSize - 8);
    offset = 8 + (offset - pageSize) % (pageSize - 8);
  }
  if (chainIndex >= table.tdefPages.size()) throwDamaged("a table definition is cut short", table.tdefPage);
  return {table.tdefPages[chainIndex], offset};
}

}  // namespace

uint32_t readTdefU32(const Database& db, const TableDef& table, size_t offset) {
  uint32_t v = 0;
  for (int k = 0; k < 4; ++k) {
    const auto [page, at] = locate(table, db.pageSize(), offset + k);
    v |= static_cast<uint32_t>(db.page(page)[at]) << (8 * k);
  }
  return v;
}

void writeTdefU32(WriteUnit& unit, const TableDef& table, size_t offset, uint32_t value) {
  uint32_t lastPage = 0;
  uint8_t* bytes = nullptr;  // asked for once per page: each ask drops parsed definitions
  for (int k = 0; k < 4; ++k) {
    const auto [page, at] = locate(table, unit.pageSize(), offset + k);
    if (!bytes || page != lastPage) bytes = unit.modify(lastPage = page);
    bytes[at] = static_cast<uint8_t>(value >> (8 * k));
  }
}

}  // namespace bv::storage
