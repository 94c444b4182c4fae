// Row-level changes to one table inside a write unit: data pages, the TDEF's counters, the
// table's usage maps, long values (Memo/OLE) and every index of the table.
//
// Each call either makes its whole change or, when it throws, leaves the unit's pages as
// they were before the call: values, sizes, constraints, key encodability and the stored
// row are all checked before anything is written, so a caller may skip a failing row and
// go on with the unit. (Only a failure while writing — a damaged page met half-way, a file
// at its largest size — can leave the unit part-changed; the caller then rolls the unit
// back, as for any I/O error.)
//
// Rows are put on pages of the table's free-space map, else on new pages added to its
// maps. An update is made in place when the row still fits its page, else the row moves
// and its slot keeps a forwarding pointer, so row ids (and index entries) never change.
// Deleted rows and freed long values give their room back; a page left empty goes back to
// the file. Use one TableWriter per table within a unit.
#pragma once

#include <cstdint>
#include <memory>
#include <span>
#include <vector>

#include "engine/storage/database.h"
#include "engine/storage/value.h"

namespace bv::storage {

class WriteUnit;

class TableWriter {
 public:
  TableWriter(WriteUnit& unit, std::u16string_view tableName);
  TableWriter(WriteUnit& unit, uint32_t tdefPage);
  ~TableWriter();

  // The table as it is now (row count and AutoNumber counter as written so far).
  const TableDef& table() const;

  // `row` holds a value for every column, in TableDef::columns order, already of the
  // column's type (Memo as Text, OLE as Binary). AutoNumber columns given as Null get the
  // next number. Returns where the row was put.
  // JetError 3022 (duplicate in a unique index, naming it), 3058 (Null in a primary key or
  // required index), kErrKeyNotEncodable (a key that cannot be encoded with confidence,
  // naming the index and the reason); from the values: 3163 (text or bytes longer than the
  // column), 3421 (a value of another kind, a character the Jet 3 code page lacks), 3349
  // (a Decimal beyond the column's precision), 3047 (the row does not fit on a page).
  RowId insert(std::span<const Value> row);
  // The same, taking the values over (AutoNumbers are filled in them).
  RowId insert(std::vector<Value>&& row);
  // Replaces the whole row (same conventions). Index entries keep naming `id`.
  void update(RowId id, std::span<const Value> row);
  // Changes only `columns` (positions in TableDef::columns) of the row to `values` (same
  // conventions), when every one of them is a fixed-size column that no index covers and is
  // no AutoNumber, and the row lies whole in its own slot: their bytes and null-mask bits
  // are rewritten where they are, the rest of the row untouched. Returns false, writing
  // nothing, when the row has to be rewritten whole with update().
  bool updateFixed(RowId id, std::span<const int> columns, std::span<const Value> values);
  // Deletes the row, its index entries and its long values.
  void remove(RowId id);
  // The row's current values (TableDef::columns order).
  // update, remove and read throw JetError 3167 when no live row has that id.
  std::vector<Value> read(RowId id) const;

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace bv::storage
