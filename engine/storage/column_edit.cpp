#include "engine/storage/column_edit.h"

#include <algorithm>

#include "engine/storage/error.h"
#include "engine/storage/index_edit.h"
#include "engine/storage/page_build.h"
#include "engine/storage/write_unit.h"

namespace bv::storage {

void addColumn(WriteUnit& unit, const std::u16string& table, const ColumnDesign& column) {
  Database& db = unit.db();
  const bool jet4 = db.isJet4();
  TableDef t = *db.table(table);
  if (t.findColumn(column.name) >= 0)
    throw JetError(3380, "The table '" + toUtf8(t.name) + "' already has a column named '" + toUtf8(column.name) + "'.");
  if (t.columns.size() >= 255 || t.maxColumns >= 255)
    throw JetError(3190, "The table '" + toUtf8(t.name) + "' cannot take more columns.");
  // Lay the column out alone to get its descriptor, then place it after everything in use.
  TableDesign one;
  one.name = t.name;
  one.columns = {column};
  ColumnDef c = layoutTable(one, jet4).columns.front();
  c.number = t.maxColumns;
  if (c.fixed) {
    uint16_t end = 0;
    for (const ColumnDef& o : t.columns)
      if (o.fixed && o.type != ColType::Bool) end = std::max<uint16_t>(end, static_cast<uint16_t>(o.fixedOffset + o.length));
    if (c.type != ColType::Bool) c.fixedOffset = end;
    c.varSlot = t.varSlots;
  } else {
    c.varSlot = t.varSlots;
    t.varSlots = static_cast<uint16_t>(t.varSlots + 1);
  }
  t.maxColumns = static_cast<uint16_t>(t.maxColumns + 1);
  if (c.isLongValue()) {
    // The column's long-value maps, on a page of their own.
    const uint32_t page = unit.allocate();
    const uint32_t base = page - page % 8;
    const std::vector<uint8_t> img =
        buildDataPage(0, {inlineUsageMap(base, {}, jet4), inlineUsageMap(base, {}, jet4)}, jet4);
    std::copy(img.begin(), img.end(), unit.modify(page));
    c.lvOwnedMap = RowPointer{page, 0};
    c.lvFreeMap = RowPointer{page, 1};
  }
  t.columns.push_back(c);
  rewriteTableDef(unit, t);
}

void dropColumn(WriteUnit& unit, const std::u16string& table, const std::u16string& column) {
  Database& db = unit.db();
  TableDef t = *db.table(table);
  const int pos = t.findColumn(column);
  if (pos < 0)
    throw JetError(3265, "The table '" + toUtf8(t.name) + "' has no column named '" + toUtf8(column) + "'.");
  const ColumnDef c = t.columns[static_cast<size_t>(pos)];
  for (const IndexDef& d : t.indexes) {
    for (const IndexColumn& ic : d.columns) {
      if (ic.columnNumber != c.number) continue;
      if (d.foreignKey)
        throw JetError(3303, "The column '" + toUtf8(c.name) + "' is part of one or more relationships.");
      throw JetError(3280, "The column '" + toUtf8(c.name) + "' is part of the index '" + toUtf8(d.name) +
                               "'; delete the index first.");
    }
  }
  if (t.columns.size() == 1) throw JetError(3264, "A table keeps at least one column.");
  if (c.isLongValue()) {
    for (uint32_t p : db.usageMapPages(c.lvOwnedMap)) unit.release(p);
  }
  t.columns.erase(t.columns.begin() + pos);
  rewriteTableDef(unit, t);
}

}  // namespace bv::storage
