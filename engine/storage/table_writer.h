// Row-level changes to one table inside a write unit: data pages, the TDEF's counters, the
// table's usage maps, long values (Memo/OLE) and every index of the table.
//
// Each call either makes its whole change or, when it throws, leaves the unit's pages as
// they were before the call (constraints and key encodability are checked before anything
// is written), so a caller may skip a failing row and go on with the unit.
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
  // naming the index and the reason).
  RowId insert(std::span<const Value> row);
  // Replaces the whole row (same conventions). Index entries keep naming `id`.
  void update(RowId id, std::span<const Value> row);
  // Deletes the row, its index entries and its long values.
  void remove(RowId id);
  // The row's current values (TableDef::columns order).
  std::vector<Value> read(RowId id) const;

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace bv::storage
