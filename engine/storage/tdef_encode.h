// Writing table definitions (TDEF): the logical buffer of a TableDef and the chain of
// type-0x02 pages that holds it. The reverse of readTableDef.
#pragma once

#include <cstdint>
#include <vector>

#include "engine/storage/database.h"

namespace bv::storage {

// The logical TDEF buffer of `table`: header, real-index counters, column descriptors and
// names, real and logical index blocks, index names and the long-value column maps.
// Everything is taken from `table` (counters, map pointers, root pages, flags). Logical
// indexes are written in name order, as Jet does. JetError 3125 for a name that cannot be
// stored (Jet 3: a character outside code page 1252; longer than 64 characters).
std::vector<uint8_t> encodeTableDef(const TableDef& table, bool jet4);

// Number of pages a logical buffer of `length` bytes needs.
uint32_t tdefPagesNeeded(size_t length, uint32_t pageSize);

// Splits the buffer over `pages` (tdefPagesNeeded of them, first page first) and returns
// the page images, linked through their next-page fields.
std::vector<std::vector<uint8_t>> tdefPageImages(const std::vector<uint8_t>& buffer,
                                                 const std::vector<uint32_t>& pages, bool jet4);

}  // namespace bv::storage
