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
// type (Memo as Text, OLE as Binary; Null allowed everywhere). Long values are stored
// inline, so they must be short. JetError 3163 (text or binary longer than its column),
// 3047 (the row does not fit a page), 3251 (Jet 3 text with a character outside the code
// page), 3421 (a value of the wrong kind).
std::vector<uint8_t> encodeRowImage(const TableDef& table, std::span<const Value> row, bool jet4);

// Jet 4 text as stored: compressed (FF FE + one byte per character) when `compress` is set,
// every character is in U+0001..U+00FF and that is shorter; UTF-16LE otherwise.
std::vector<uint8_t> encodeJet4Text(std::u16string_view text, bool compress);

}  // namespace bv::storage
