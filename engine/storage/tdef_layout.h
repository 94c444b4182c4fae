// Where fields of a table definition sit, for writers that change them in place: the
// logical TDEF buffer (first page whole, then bytes 8.. of each continuation page) is
// mapped back to a page of the chain and an offset in it.
#pragma once

#include <cstddef>
#include <cstdint>

#include "engine/storage/database.h"

namespace bv::storage {

class WriteUnit;

// Offset in the logical buffer of real index block `i` (the block's first byte), found by
// walking the layout the way the parser does: fixed header, counters, column descriptors,
// column names. JetError 3049 when the buffer is too short for it.
size_t realIndexBlockOffset(const TableDef& table, bool jet4, size_t i);
// Offset of real index `i`'s root-page field and of its distinct-key counter.
size_t realIndexRootOffset(const TableDef& table, bool jet4, size_t i);
size_t realIndexCounterOffset(bool jet4, size_t i);

// Reads a u32 (little-endian) at a logical offset of the table's definition as the database
// sees it now (a write unit's changes included), whatever `table` parsed earlier.
uint32_t readTdefU32(const Database& db, const TableDef& table, size_t offset);

// Writes a u32 (little-endian) at a logical offset of the table's definition, splitting it
// across two pages of the chain when it straddles a page boundary.
void writeTdefU32(WriteUnit& unit, const TableDef& table, size_t offset, uint32_t value);

}  // namespace bv::storage
