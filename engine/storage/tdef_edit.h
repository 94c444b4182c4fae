// The counters a table definition keeps on its first page: the row count and the last
// AutoNumber handed out. (They sit in the fixed header, so a definition spanning several
// pages only ever changes its first page here.)
#pragma once

#include <cstdint>

namespace bv::storage {

class WriteUnit;

// JetError 3049 if `tdefPage` is not a table-definition page.
void writeRowCount(WriteUnit& unit, uint32_t tdefPage, uint32_t rowCount);
void writeLastAutoNumber(WriteUnit& unit, uint32_t tdefPage, uint32_t value);

}  // namespace bv::storage
