// The bytes of one row as a data page stores it, built from values: fixed area, variable
// data, offset table (Jet 3 with its jump table), variable count and null mask.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

#include "engine/storage/database.h"
#include "engine/storage/value.h"

namespace bv::storage {

// `row` holds one value per column in TableDef::columns order, already of the column's
// type (Memo as Text, OLE as Binary; Null allowed everywhere), for a database that is still
// being built (code page 1252). Long values are stored inline, so they must be short. The
// row encoder's errors: 3163 (longer than the column), 3421 (a value of the wrong kind or a
// character outside the code page), 3047 (the row does not fit a page).
std::vector<uint8_t> encodeRowImage(const TableDef& table, std::span<const Value> row, bool jet4);

}  // namespace bv::storage
