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

  // The entries one row change takes out of the indexes and puts in, worked out and
  // checked before anything is written, then applied: every key is built once.
  class Change {
   public:
    Change();
    ~Change();
    Change(Change&&) noexcept;
    Change& operator=(Change&&) noexcept;

   private:
    friend class TableIndexes;
    struct Step;
    std::vector<Step> steps_;
  };

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

  // What check(row) checks; the entries are added by apply() with the row's place.
  Change prepareInsert(std::span<const Value> row) const;
  // What check(newRow, &id) and checkRemove(oldRow, id, newRow) check. An index whose key
  // columns hold the same values in both rows keeps its entry: no key is built for it, and
  // only the rules that need no key (an index this engine cannot maintain, Null where the
  // index forbids it) are applied to it.
  Change prepareUpdate(std::span<const Value> oldRow, std::span<const Value> newRow, RowId id) const;
  // What checkRemove(oldRow, id) checks.
  Change prepareRemove(std::span<const Value> oldRow, RowId id) const;
  // Makes a prepared change for the row at `id` (for an insert: where the row was put).
  void apply(Change& change, RowId id);

  // Adds the row's entries to every index.
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
