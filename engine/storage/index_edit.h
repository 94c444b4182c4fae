// Adding an index to a table that may already hold rows, and removing one: the B-tree is
// built from the sorted keys of the rows, the table definition rewritten in place (taking
// or giving back definition pages as its length changes).
#pragma once

#include <string>

#include "engine/storage/table_design.h"

namespace bv::storage {

class WriteUnit;

// JetError 3375 (an index of that name exists), 3283 (a second primary key), 3265 (an
// unknown column), 3022 (a unique index over duplicate keys), 3058 (a required index over
// Null), kErrKeyNotEncodable (a value without a key). A foreign key on the referenced side
// (fkSide 1) uses the B-tree of the unique index over the same columns (3609 without one).
// Returns the new logical index's number.
int addIndex(WriteUnit& unit, const std::u16string& table, const IndexDesign& design);

// JetError 3371 (no index of that name), 3303 (it is one end of a relationship).
void removeIndex(WriteUnit& unit, const std::u16string& table, const std::u16string& index);

// Rewrites the definition of `t` (its pages taken from t.tdefPages), growing or shrinking
// the chain of definition pages as the encoded length needs.
void rewriteTableDef(WriteUnit& unit, TableDef& t);

}  // namespace bv::storage
