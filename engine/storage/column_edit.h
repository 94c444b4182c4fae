// ALTER TABLE ADD COLUMN and DROP COLUMN: the table definition gains or loses a column.
// Rows already stored keep their bytes: they hold fewer columns than the table now has, so
// the new column reads as Null in them, and a dropped column's bytes are never read again.
#pragma once

#include <string>

#include "engine/storage/table_design.h"

namespace bv::storage {

class WriteUnit;

// JetError 3380 (the table has a column of that name), 3190 (255 columns already), and the
// column errors of layoutTable.
void addColumn(WriteUnit& unit, const std::u16string& table, const ColumnDesign& column);

// JetError 3265 (no such column), 3280 (an index uses it), 3303 (a relationship uses it),
// 3264 (it is the table's last column).
void dropColumn(WriteUnit& unit, const std::u16string& table, const std::u16string& column);

}  // namespace bv::storage
