// Changing usage maps (section "usage maps" of the format): the global free-page map, a
// table's owned and free-space maps, an index's page map, a Memo/OLE column's LVAL maps.
#pragma once

#include <cstdint>

#include "engine/storage/database.h"

namespace bv::storage {

class WriteUnit;

// Sets (`present` true) or clears the bit of `page` in the map the row pointer names.
// An inline map whose range does not cover the page is moved or turned into a reference
// map; a reference map gets a new bitmap page when needed. A null pointer is an error.
void setPageInMap(WriteUnit& unit, RowPointer map, uint32_t page, bool present);

// Whether the map lists the page (as the unit sees it).
bool mapHasPage(const Database& db, RowPointer map, uint32_t page);

}  // namespace bv::storage
