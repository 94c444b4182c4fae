// Keeping a table's indexes in step with its rows: B-tree entry insertion and removal with
// page splits, new roots, sibling and tail pointers, prefix compression and the entry-end
// bitmask exactly as the format has them; uniqueness and required checks before writing.
#pragma once

#include <cstdint>
#include <memory>
#include <span>
#include <vector>

#include "engine/storage/database.h"
#include "engine/storage/value.h"

namespace bv::storage {

class WriteUnit;

class TableIndexes {
 public:
  // All real indexes of `table` (TDEF page `table.tdefPage`) as the unit sees them.
  TableIndexes(WriteUnit& unit, const TableDef& table);
  ~TableIndexes();

  // Throws, writing nothing, if `row` cannot be indexed: JetError kErrKeyNotEncodable
  // (naming the index and the reason), 3058 (Null where a primary key or required index
  // forbids it), 3022 (a unique index already holds the key for a row other than
  // `replacing`, naming the index). `row` in TableDef::columns order.
  void check(std::span<const Value> row, const RowId* replacing = nullptr) const;
  // Throws, writing nothing, if the entries a removeRow(oldRow, id) (or, with `newRow`, an
  // updateRow) must take out cannot be found: kErrKeyNotEncodable when a key cannot be
  // built, 3049 when an index lacks the row's entry. Call it before the row's own bytes
  // change, so a refused delete or update leaves the row and its entries together.
  void checkRemove(std::span<const Value> oldRow, RowId id, std::span<const Value> newRow = {}) const;
  // Adds the row's entries to every index (after check()).
  void insertRow(std::span<const Value> row, RowId id);
  // Removes the row's entries (`row` = its values as stored).
  void removeRow(std::span<const Value> row, RowId id);
  // Moves the row's entries from its old key to its new one, only where a key changed.
  void updateRow(std::span<const Value> oldRow, std::span<const Value> newRow, RowId id);

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace bv::storage
