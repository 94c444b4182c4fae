// Taking a new page for a structure: WriteUnit::allocate() plus making sure the global
// usage map no longer lists the page as free (a page appended past the end of the file
// is marked free in an inline global map that covers it).
#pragma once

#include <cstdint>

namespace bv::storage {

class WriteUnit;

uint32_t allocateInUse(WriteUnit& unit);

}  // namespace bv::storage
