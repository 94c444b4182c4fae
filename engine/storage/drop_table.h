// Removing a user table inside a write unit: its catalog and access-control rows, and
// every page it owned (definition, data, long values, indexes, usage maps) given back.
#pragma once

#include <string>

namespace bv::storage {

class WriteUnit;

// JetError 3376 when no user table has that name, 3303 when a relationship names the table.
void dropTable(WriteUnit& unit, const std::u16string& name);

}  // namespace bv::storage
