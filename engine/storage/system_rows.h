// Adding and removing rows of the system tables (MSysObjects, MSysRelationships, ...) for
// data definition. These tables are small: a row goes onto a data page of the table with
// room (or a new page its inline map can list), and index entries into root pages that are
// leaves with room. Anything else is refused with an error; the caller's unit, which holds
// the statement's other changes too, is then rolled back.
#pragma once

#include <span>

#include "engine/storage/database.h"
#include "engine/storage/value.h"

namespace bv::storage {

class WriteUnit;

// Inserts `row` (TableDef::columns order) into the table at `tdefPage`; updates its row
// count, usage maps and every index. JetError 3022 for a duplicate in a unique index, 3058
// for Null in a required one, 3035-style 3047 when the table has outgrown what this path
// handles (an index deeper than one page).
RowId insertSystemRow(WriteUnit& unit, uint32_t tdefPage, std::span<const Value> row);

// Deletes the row at `id`: flags its slot deleted and removes its index entries.
void deleteSystemRow(WriteUnit& unit, uint32_t tdefPage, RowId id);

// Rewrites the row count recorded in a table's definition.
void setRecordedRowCount(WriteUnit& unit, uint32_t tdefPage, uint32_t count);

}  // namespace bv::storage
