// ALTER TABLE ADD COLUMN, DROP COLUMN and ALTER COLUMN. Adding or dropping a column changes
// only the table definition: rows already stored keep their bytes, hold fewer columns than
// the table now has (the new column reads as Null in them), and a dropped column's bytes
// are never read again. Changing a column's type rewrites every row.
#pragma once

#include <functional>
#include <string>

#include "engine/storage/table_design.h"

namespace bv::storage {

class WriteUnit;

// An AutoNumber column added to a table that holds rows numbers them (the rows are written
// again). JetError 3380 (the table has a column of that name), 3190 (255 columns already),
// and the column errors of layoutTable.
void addColumn(WriteUnit& unit, const std::u16string& table, const ColumnDesign& column);

// JetError 3265 (no such column), 3280 (an index uses it), 3303 (a relationship uses it),
// 3264 (it is the table's last column).
void dropColumn(WriteUnit& unit, const std::u16string& table, const std::u16string& column);

// Gives `column` the type and size of `design` (its name and place in the table stay): the
// column gets a new descriptor, as a new column would, and every row is rewritten with its
// value passed through `convert` (which throws for a value the new type cannot hold; all
// rows are converted before anything is written). JetError 3265 (no such column), 3280 /
// 3303 (an index / a relationship uses it), and the write errors of the rows (3047).
void replaceColumn(WriteUnit& unit, const std::u16string& table, const std::u16string& column,
                   const ColumnDesign& design, const std::function<Value(const Value&)>& convert);

}  // namespace bv::storage
