// Parsing of table-definition (TDEF) pages into a TableDef.
#pragma once

#include <cstdint>
#include <string>

#include "engine/storage/database.h"

namespace bv::storage {

// Reads the TDEF chain starting at `page` and parses it. JetError 3049 when a page is not
// a TDEF page, the chain loops, or an offset points outside the definition.
TableDef readTableDef(const Database& db, uint32_t page, std::u16string name);

// Throws the damaged-file error for a structure at a page.
[[noreturn]] void throwDamaged(const std::string& what, uint32_t page);

}  // namespace bv::storage
