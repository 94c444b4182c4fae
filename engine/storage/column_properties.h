// Changing the Required and DefaultValue properties of one column of an existing table:
// they live in the property list of the table's catalog row, which is read, changed and
// written back with every other property kept as it was.
#pragma once

#include <cstdint>
#include <string>

#include "engine/storage/table_design.h"

namespace bv::storage {

class WriteUnit;

// Gives `column.name` the Required and DefaultValue properties `column` asks for (a false
// `required` or an empty `defaultValue` removes the property), keeping the others.
void setColumnProperties(WriteUnit& unit, uint32_t tdefPage, const ColumnDesign& column);

// Drops the property block of a column (its properties go with it).
void removeColumnProperties(WriteUnit& unit, uint32_t tdefPage, const std::u16string& column);

}  // namespace bv::storage
