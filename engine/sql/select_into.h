// SELECT ... INTO: the new table is created from the result's columns and filled with its
// rows inside the same write unit, so the statement leaves either both or neither.
#pragma once

#include <cstdint>

#include "engine/sql/exec.h"
#include "engine/storage/table_design.h"
#include "engine/storage/write_unit.h"

namespace bv::sql {

// The design of the table a make-table plan creates: each result column with its type and
// size, AutoNumber columns as plain Long, no indexes. A column named "t.c" (a qualified
// field without an alias) is named "c". A Jet 3 file takes Decimal values as Double.
storage::TableDesign makeTableDesign(const ActionPlan& plan, bool jet4);

// Converts the plan's rows to the new columns, creates the table and inserts them; returns
// the rows inserted. JetError 3010 when the name is taken and the conversion errors of
// coerceToColumn (planning has already refused two result columns of one name, 3191).
int64_t applyMakeTable(storage::WriteUnit& unit, ActionPlan& plan, bool failOnError);

}  // namespace bv::sql
