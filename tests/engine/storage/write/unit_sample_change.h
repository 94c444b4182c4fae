// A unit of change that keeps a database consistent, for the crash and fault tests: new
// data pages join a table's owned map, and (when `farPage`) a page far beyond the map's
// window turns it into a reference map while the pages allocated on the way are given back,
// which grows the file and rewrites the global map. Deterministic: the same file gives the
// same result.
#pragma once

#include <memory>

#include "engine/storage/data_page.h"
#include "engine/storage/usage_map_edit.h"
#include "engine/storage/write_unit.h"

namespace bv::storage::sample {

// Turns page n into an empty data page of the table (what a row writer does first).
inline void makeEmptyDataPage(WriteUnit& unit, uint32_t n, uint32_t tdefPage) {
  uint8_t* p = unit.modify(n);
  const uint32_t rc = rowCountOffset(unit.jet4());
  p[0] = 0x01;
  p[1] = 0x01;
  const uint32_t freeBytes = unit.pageSize() - (rc + 2);
  p[2] = static_cast<uint8_t>(freeBytes);
  p[3] = static_cast<uint8_t>(freeBytes >> 8);
  for (int i = 0; i < 4; ++i) p[4 + i] = static_cast<uint8_t>(tdefPage >> (8 * i));
}

// The first user table that owns data pages; nullptr if none.
inline std::shared_ptr<const TableDef> tableWithPages(const Database& db) {
  for (const auto& name : db.userTableNames()) {
    auto def = db.table(name);
    if (!def->ownedMap.isNull() && !db.usageMapPages(def->ownedMap).empty()) return def;
  }
  return nullptr;
}

// Makes the changes in `unit` (not committed). False if the database has no suitable table.
inline bool applySampleChange(WriteUnit& unit, bool farPage) {
  auto def = tableWithPages(unit.db());
  if (!def) return false;
  const RowPointer owned = def->ownedMap;
  for (int i = 0; i < 2; ++i) {
    const uint32_t p = unit.allocate();
    makeEmptyDataPage(unit, p, def->tdefPage);
    setPageInMap(unit, owned, p, true);
  }
  if (!farPage) return true;
  const auto pages = unit.db().usageMapPages(owned);
  const auto row = unit.db().rowBytes(owned.page, owned.row);
  const uint32_t window = static_cast<uint32_t>(row.size() - 5) * 8;
  std::vector<uint32_t> spare;
  uint32_t far = 0;
  while ((far = unit.allocate()) < (pages.front() & ~7u) + window) spare.push_back(far);
  makeEmptyDataPage(unit, far, def->tdefPage);
  setPageInMap(unit, owned, far, true);
  for (uint32_t p : spare) unit.release(p);
  return true;
}

}  // namespace bv::storage::sample
