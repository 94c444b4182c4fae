#include "engine/storage/column_edit.h"

#include <algorithm>

#include "engine/storage/error.h"
#include "engine/storage/index_edit.h"
#include "engine/storage/page_build.h"
#include "engine/storage/table_writer.h"
#include "engine/storage/write_unit.h"

namespace bv::storage {

namespace {

// A column's descriptor as a table of its own would lay it out (type, length, flags).
ColumnDef laidOut(const TableDef& t, const ColumnDesign& column, bool jet4) {
  TableDesign one;
  one.name = t.name;
  one.columns = {column};
  return layoutTable(one, jet4).columns.front();
}

// Where the next fixed column's bytes go: after every fixed column the table has.
uint16_t fixedAreaEnd(const TableDef& t) {
  uint16_t end = 0;
  for (const ColumnDef& o : t.columns)
    if (o.fixed && o.type != ColType::Bool) end = std::max<uint16_t>(end, static_cast<uint16_t>(o.fixedOffset + o.length));
  return end;
}

// A Memo / OLE column's long-value maps, on a page of their own.
void giveLongValueMaps(WriteUnit& unit, ColumnDef& c) {
  if (!c.isLongValue()) return;
  const bool jet4 = unit.db().isJet4();
  const uint32_t page = unit.allocate();
  const uint32_t base = page - page % 8;
  const std::vector<uint8_t> img = buildDataPage(0, {inlineUsageMap(base, {}, jet4), inlineUsageMap(base, {}, jet4)}, jet4);
  std::copy(img.begin(), img.end(), unit.modify(page));
  c.lvOwnedMap = RowPointer{page, 0};
  c.lvFreeMap = RowPointer{page, 1};
}

// The descriptor of a new column of `t`: numbered after every column the table ever had,
// placed after everything in use (a fixed column at the end of the fixed area, a variable
// one in a new slot), with its own long-value maps. Updates `t`'s counts.
ColumnDef placeColumn(WriteUnit& unit, TableDef& t, const ColumnDesign& column) {
  if (t.maxColumns >= 255) throw JetError(3190, "The table '" + toUtf8(t.name) + "' cannot take more columns.");
  ColumnDef c = laidOut(t, column, unit.db().isJet4());
  c.number = t.maxColumns;
  if (c.fixed) {
    if (c.type != ColType::Bool) c.fixedOffset = fixedAreaEnd(t);
    c.varSlot = t.varSlots;
  } else {
    c.varSlot = t.varSlots;
    t.varSlots = static_cast<uint16_t>(t.varSlots + 1);
  }
  t.maxColumns = static_cast<uint16_t>(t.maxColumns + 1);
  giveLongValueMaps(unit, c);
  return c;
}

// Every row of a table with its id, read as the table's definition describes it.
struct StoredRows {
  std::vector<RowId> ids;
  std::vector<std::vector<Value>> rows;
};

StoredRows readRows(const Database& db, std::shared_ptr<const TableDef> t) {
  StoredRows out;
  TableCursor cur = db.scan(std::move(t));
  std::vector<Value> row;
  while (cur.next()) {
    cur.readRow(row);
    out.ids.push_back(cur.rowId());
    out.rows.push_back(row);
  }
  return out;
}

void removeRows(WriteUnit& unit, const std::u16string& table, const std::vector<RowId>& ids) {
  TableWriter w(unit, table);
  for (const RowId& id : ids) w.remove(id);
}

// JetError 3280 / 3303 when an index or a relationship uses the column.
void requireUnindexed(const TableDef& t, const ColumnDef& c) {
  for (const IndexDef& d : t.indexes) {
    for (const IndexColumn& ic : d.columns) {
      if (ic.columnNumber != c.number) continue;
      if (d.foreignKey)
        throw JetError(3303, "The column '" + toUtf8(c.name) + "' is part of one or more relationships.");
      throw JetError(3280, "The column '" + toUtf8(c.name) + "' is part of the index '" + toUtf8(d.name) +
                               "'; delete the index first.");
    }
  }
}

int requireColumn(const TableDef& t, const std::u16string& column) {
  const int pos = t.findColumn(column);
  if (pos < 0)
    throw JetError(3265, "The table '" + toUtf8(t.name) + "' has no column named '" + toUtf8(column) + "'.");
  return pos;
}

}  // namespace

void addColumn(WriteUnit& unit, const std::u16string& table, const ColumnDesign& column) {
  TableDef t = *unit.db().table(table);
  if (t.findColumn(column.name) >= 0)
    throw JetError(3380, "The table '" + toUtf8(t.name) + "' already has a column named '" + toUtf8(column.name) + "'.");
  if (t.columns.size() >= 255)
    throw JetError(3190, "The table '" + toUtf8(t.name) + "' cannot take more columns.");
  const ColumnDef c = placeColumn(unit, t, column);
  t.columns.push_back(c);
  rewriteTableDef(unit, t);
  // A new AutoNumber column numbers the rows already there, in their stored order: they are
  // written again with the column Null, which the writer fills with the next number.
  if ((c.autoNumber || c.guidAutoNumber) && t.rowCount > 0) {
    const StoredRows stored = readRows(unit.db(), unit.db().table(table));
    removeRows(unit, table, stored.ids);
    TableWriter w(unit, table);
    for (const std::vector<Value>& row : stored.rows) w.insert(row);
  }
}

void replaceColumn(WriteUnit& unit, const std::u16string& table, const std::u16string& column,
                   const ColumnDesign& design, const std::function<Value(const Value&)>& convert) {
  Database& db = unit.db();
  auto before = db.table(table);
  const int pos = requireColumn(*before, column);
  requireUnindexed(*before, before->columns[static_cast<size_t>(pos)]);
  // Every row is read and converted before anything is written: a value that does not
  // convert fails the statement with the file untouched.
  StoredRows stored = readRows(db, before);
  for (std::vector<Value>& row : stored.rows) row[static_cast<size_t>(pos)] = convert(row[static_cast<size_t>(pos)]);
  removeRows(unit, table, stored.ids);
  TableDef t = *db.table(table);
  // The old column's long values went with the rows removed above.
  const ColumnDef old = t.columns[static_cast<size_t>(pos)];
  // No stored row holds the column any more. A column that stays variable (or stays fixed)
  // keeps its number, so its place among the columns, and its slot (a fixed one its bytes,
  // or new ones at the end of the fixed area when it grows). A change between fixed and
  // variable takes a new number, as an added column would: readers count a row's fixed
  // columns as its column count minus its variable slots.
  ColumnDef c = laidOut(t, design, unit.db().isJet4());
  const bool bitBefore = old.type == ColType::Bool, bitAfter = c.type == ColType::Bool;
  if (c.fixed == old.fixed) {
    c.number = old.number;
    c.varSlot = old.varSlot;
    if (c.fixed && !bitAfter) c.fixedOffset = !bitBefore && c.length <= old.length ? old.fixedOffset : fixedAreaEnd(t);
    giveLongValueMaps(unit, c);
  } else {
    c = placeColumn(unit, t, design);
  }
  c.name = old.name;
  t.columns[static_cast<size_t>(pos)] = c;
  rewriteTableDef(unit, t);
  // Each value goes to the column of its number, wherever the definition now lists it.
  std::vector<uint16_t> numbers;
  for (const ColumnDef& col : before->columns) numbers.push_back(col.number == old.number ? c.number : col.number);
  TableWriter w(unit, table);
  const TableDef& after = w.table();
  std::vector<size_t> from(after.columns.size());
  for (size_t i = 0; i < after.columns.size(); ++i)
    from[i] = static_cast<size_t>(std::find(numbers.begin(), numbers.end(), after.columns[i].number) - numbers.begin());
  std::vector<Value> out(after.columns.size());
  for (const std::vector<Value>& row : stored.rows) {
    for (size_t i = 0; i < out.size(); ++i) out[i] = row[from[i]];
    w.insert(out);
  }
}

void dropColumn(WriteUnit& unit, const std::u16string& table, const std::u16string& column) {
  Database& db = unit.db();
  TableDef t = *db.table(table);
  const int pos = requireColumn(t, column);
  const ColumnDef c = t.columns[static_cast<size_t>(pos)];
  requireUnindexed(t, c);
  if (t.columns.size() == 1) throw JetError(3264, "A table keeps at least one column.");
  if (c.isLongValue()) {
    for (uint32_t p : db.usageMapPages(c.lvOwnedMap)) unit.release(p);
  }
  t.columns.erase(t.columns.begin() + pos);
  rewriteTableDef(unit, t);
}

}  // namespace bv::storage
