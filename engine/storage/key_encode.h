// Index keys: the bytes an index entry stores for a row's values.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

#include "engine/storage/database.h"
#include "engine/storage/value.h"

namespace bv::storage {

// How one index column is keyed.
struct KeyColumn {
  ColType type = ColType::Long;
  bool ascending = true;
};

// Appends one column's key part: the flag byte (0x7F / 0x00 for Null ascending, 0x80 / 0xFF
// descending) and the encoded value. `jet4` selects the Jet 4 text sort data and layout.
// The value must already have the column's type (Memo as Text; Decimal at the column's
// scale). Throws JetError(kErrKeyNotEncodable) when no key exists for the value (a text
// character without sort data, a value of the wrong kind, an unindexable column type).
void appendKeyPart(std::vector<uint8_t>& out, const KeyColumn& col, const Value& v, bool jet4);

// The whole key: the parts of `cols` for `values` (values[i] belongs to cols[i]).
std::vector<uint8_t> encodeKey(std::span<const KeyColumn> cols, std::span<const Value> values,
                               bool jet4);

// ---- Keys of table rows -------------------------------------------------------------

// The key columns of an index, resolved against the table. Throws JetError 3049 when the
// index names a column the table does not have.
std::vector<KeyColumn> keyColumns(std::span<const IndexColumn> cols, const TableDef& table);

// The key of one row for an index: `row` holds the row's values in TableDef::columns order
// (as TableCursor::readRow gives them). This is what an index entry of that row stores.
std::vector<uint8_t> encodeKey(const IndexDef& index, const TableDef& table,
                               std::span<const Value> row, bool jet4);
std::vector<uint8_t> encodeKey(const RealIndexDef& index, const TableDef& table,
                               std::span<const Value> row, bool jet4);

// True when every key column of the row is Null (such rows are left out of an index with
// the ignore-nulls flag). Yes/No columns are never Null.
bool allKeyColumnsNull(std::span<const IndexColumn> cols, const TableDef& table,
                       std::span<const Value> row);

}  // namespace bv::storage
