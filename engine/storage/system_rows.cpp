#include "engine/storage/system_rows.h"

#include <algorithm>

#include "engine/storage/data_page.h"
#include "engine/storage/error.h"
#include "engine/storage/index_page.h"
#include "engine/storage/key_encode.h"
#include "engine/storage/page_alloc.h"
#include "engine/storage/page_build.h"
#include "engine/storage/row_image.h"
#include "engine/storage/tabledef.h"
#include "engine/storage/write_unit.h"

namespace bv::storage {

namespace {

uint16_t get16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | (p[1] << 8)); }
void put16(uint8_t* p, uint32_t v) {
  p[0] = static_cast<uint8_t>(v);
  p[1] = static_cast<uint8_t>(v >> 8);
}

[[noreturn]] void tooBig(const TableDef& t) {
  throw JetError(3047, "The system table '" + toUtf8(t.name) +
                           "' has grown beyond what data definition can change here (an index of more "
                           "than one page).");
}

// The root leaf of a real index with the entry added or removed, as a new page image.
std::vector<uint8_t> editedLeaf(const Database& db, const TableDef& t, const RealIndexDef& ri,
                                const IndexEntry& entry, bool add) {
  const PageRef root = db.page(ri.rootPage);
  if (root[0] != kIndexLeafPage) tooBig(t);
  IndexPage leaf = decodeIndexPage(std::span<const uint8_t>(root.data(), root.size()), db.isJet4(), ri.rootPage);
  if (leaf.next != 0 || leaf.prev != 0) tooBig(t);
  if (add) {
    if (ri.flags & 0x01) {
      for (const IndexEntry& e : leaf.entries)
        if (e.key == entry.key)
          throw JetError(3022, "The change would create a duplicate key in the index of '" + toUtf8(t.name) + "'.");
    }
    auto at = std::lower_bound(leaf.entries.begin(), leaf.entries.end(), entry,
                               [](const IndexEntry& a, const IndexEntry& b) { return compareEntries(a, b) < 0; });
    leaf.entries.insert(at, entry);
  } else {
    auto it = std::find(leaf.entries.begin(), leaf.entries.end(), entry);
    if (it != leaf.entries.end()) leaf.entries.erase(it);
  }
  try {
    return encodeIndexPage(leaf, db.isJet4(), 0);
  } catch (const JetError&) {
    tooBig(t);
  }
}

// Sets a page's bit in an inline usage map row; false if the map cannot list it in place.
bool inlineMapCanList(const Database& db, RowPointer map, uint32_t page) {
  const Database::RowBytes rb = db.rowBytes(map.page, map.row);
  if (!rb.valid || rb.size() < 5 || rb.data()[0] != 0x00) return false;
  const uint8_t* d = rb.data();
  const uint32_t first = static_cast<uint32_t>(d[1] | d[2] << 8 | d[3] << 16 | static_cast<uint32_t>(d[4]) << 24);
  return page >= first && page - first < (rb.size() - 5) * 8;
}

void setInlineMapBit(WriteUnit& unit, RowPointer map, uint32_t page, bool on) {
  const Database::RowBytes rb = unit.db().rowBytes(map.page, map.row);
  uint8_t* pg = unit.modify(map.page);
  uint8_t* d = pg + rb.start;
  const uint32_t first = static_cast<uint32_t>(d[1] | d[2] << 8 | d[3] << 16 | static_cast<uint32_t>(d[4]) << 24);
  const uint32_t bit = page - first;
  if (on)
    d[5 + bit / 8] |= static_cast<uint8_t>(1u << (bit % 8));
  else
    d[5 + bit / 8] &= static_cast<uint8_t>(~(1u << (bit % 8)));
}

size_t countOffset(const Database& db) { return db.isJet4() ? 16 : 12; }

}  // namespace

void setRecordedRowCount(WriteUnit& unit, uint32_t tdefPage, uint32_t count) {
  uint8_t* p = unit.modify(tdefPage);
  const size_t at = countOffset(unit.db());
  for (int i = 0; i < 4; ++i) p[at + i] = static_cast<uint8_t>(count >> (8 * i));
}

RowId insertSystemRow(WriteUnit& unit, uint32_t tdefPage, std::span<const Value> row) {
  Database& db = unit.db();
  const bool jet4 = db.isJet4();
  const TableDef t = *db.tableAt(tdefPage);
  const std::vector<uint8_t> image = encodeRowImage(t, row, jet4);

  // Where the row goes: the first owned page with room for it and its offset slot.
  RowId id{};
  for (uint32_t p : db.usageMapPages(t.ownedMap)) {
    const PageRef pr = db.page(p);
    if (pr[0] != 0x01 || pr.u32(4) != tdefPage) continue;
    if (pr.u16(2) >= image.size() + 2 && dataPageRowCount(pr, jet4) < 255) {
      id = {p, static_cast<uint8_t>(dataPageRowCount(pr, jet4))};
      break;
    }
  }
  if (id.page == 0) {
    // A new data page, listed in the table's maps.
    const uint32_t got = allocateInUse(unit);
    if (!inlineMapCanList(db, t.ownedMap, got) || !inlineMapCanList(db, t.freeMap, got)) tooBig(t);
    const std::vector<uint8_t> pg = buildDataPage(tdefPage, {}, jet4);
    std::copy(pg.begin(), pg.end(), unit.modify(got));
    setInlineMapBit(unit, t.ownedMap, got, true);
    setInlineMapBit(unit, t.freeMap, got, true);
    id = {got, 0};
  }

  // Every index page as it will be, before anything is written.
  std::vector<std::pair<uint32_t, std::vector<uint8_t>>> leaves;
  for (const RealIndexDef& ri : t.realIndexes) {
    if ((ri.flags & 0x02) && allKeyColumnsNull(ri.columns, t, row)) continue;
    if (ri.flags & 0x08) {
      for (const IndexColumn& ic : ri.columns) {
        if (row[static_cast<size_t>(t.columnByNumber(ic.columnNumber))].isNull())
          throw JetError(3058, "An index of '" + toUtf8(t.name) + "' does not allow Null values.");
      }
    }
    IndexEntry e;
    e.key = encodeKey(ri, t, row, jet4);
    e.dataPage = id.page;
    e.dataRow = id.row;
    leaves.emplace_back(ri.rootPage, editedLeaf(db, t, ri, e, true));
  }

  {
    uint8_t* pg = unit.modify(id.page);
    const uint32_t countAt = rowCountOffset(jet4);
    const uint32_t n = get16(pg + countAt);
    const uint32_t lowest = n == 0 ? db.pageSize() : (get16(pg + countAt + 2 + 2 * (n - 1)) & kRowOffsetMask);
    const uint32_t start = lowest - static_cast<uint32_t>(image.size());
    std::copy(image.begin(), image.end(), pg + start);
    put16(pg + countAt + 2 + 2 * n, start);
    put16(pg + countAt, n + 1);
    put16(pg + 2, start - (countAt + 2 + 2 * (n + 1)));
  }
  for (auto& [page, bytes] : leaves) std::copy(bytes.begin(), bytes.end(), unit.modify(page));
  setRecordedRowCount(unit, tdefPage, t.rowCount + 1);
  // The AutoNumber counter never stays below a number in use.
  for (size_t i = 0; i < t.columns.size(); ++i) {
    const int32_t* n = row[i].get<int32_t>();
    if (!t.columns[i].autoNumber || !n || *n <= 0 || static_cast<uint32_t>(*n) <= t.autoNumber) continue;
    uint8_t* p = unit.modify(tdefPage);
    const size_t at = countOffset(db) + 4;
    for (int k = 0; k < 4; ++k) p[at + k] = static_cast<uint8_t>(static_cast<uint32_t>(*n) >> (8 * k));
  }
  return id;
}

void deleteSystemRow(WriteUnit& unit, uint32_t tdefPage, RowId id) {
  Database& db = unit.db();
  const bool jet4 = db.isJet4();
  const TableDef t = *db.tableAt(tdefPage);
  TableCursor cur = db.scan(t);
  if (!cur.seek(id)) throw JetError(3167, "The record is already deleted.");
  std::vector<Value> row;
  cur.readRow(row);
  std::vector<std::pair<uint32_t, std::vector<uint8_t>>> leaves;
  for (const RealIndexDef& ri : t.realIndexes) {
    if ((ri.flags & 0x02) && allKeyColumnsNull(ri.columns, t, row)) continue;
    IndexEntry e;
    e.key = encodeKey(ri, t, row, jet4);
    e.dataPage = id.page;
    e.dataRow = id.row;
    leaves.emplace_back(ri.rootPage, editedLeaf(db, t, ri, e, false));
  }
  uint8_t* pg = unit.modify(id.page);
  uint8_t* slot = pg + rowCountOffset(jet4) + 2 + 2 * id.row;
  // Access marks a deleted row 0xC000, and other readers skip only rows marked so.
  put16(slot, get16(slot) | kRowDeleted | kRowOverflow);
  for (auto& [page, bytes] : leaves) std::copy(bytes.begin(), bytes.end(), unit.modify(page));
  setRecordedRowCount(unit, tdefPage, t.rowCount == 0 ? 0 : t.rowCount - 1);
}

}  // namespace bv::storage
