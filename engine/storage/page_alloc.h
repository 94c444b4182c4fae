// Taking a new page for a structure: WriteUnit::allocate() plus making sure the global
// usage map no longer lists the page as free (a page appended past the end of the file
// is marked free in an inline global map that covers it).
#pragma once

#include <cstdint>

namespace bv::storage {

class WriteUnit;

uint32_t allocateInUse(WriteUnit& unit);

// Gives a page back: zeroed and marked free in the global usage map.
void releaseToFree(WriteUnit& unit, uint32_t page);

}  // namespace bv::storage
