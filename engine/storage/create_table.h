// Creating a table inside a write unit: its definition pages, a page of usage maps, an
// empty leaf page per index, and its row in MSysObjects.
#pragma once

#include <cstdint>

#include "engine/storage/table_design.h"

namespace bv::storage {

class WriteUnit;

// Returns the new table's TDEF page (also its object id). JetError 3010 when a table or
// query of that name exists, 3125 for an invalid name, and the layout errors of
// layoutTable. `created` is the creation date recorded in the catalog (0: now).
uint32_t createTable(WriteUnit& unit, const TableDesign& design, double created = 0);

// JetError 3125 unless `name` can name a table, column or index: 1 to 64 characters, no
// control characters, none of . ! ` [ ], not starting with a space.
void checkObjectName(const std::u16string& name);

}  // namespace bv::storage
