// Relationships between tables with referential integrity: the rows of MSysRelationships,
// the relationship's object in MSysObjects, and the foreign-key indexes at both ends.
#pragma once

#include <string>
#include <vector>

namespace bv::storage {

class WriteUnit;

struct RelationshipDesign {
  std::u16string name;  // empty: the two table names joined, as Access names them
  std::u16string table;  // the referencing (foreign) table
  std::vector<std::u16string> columns;
  std::u16string referencedTable;
  std::vector<std::u16string> referencedColumns;  // empty: the primary key's columns
  bool cascadeUpdate = false, cascadeDelete = false;
  double created = 0;  // the relationship object's creation date (0: now)
};

// JetError 3371 (a table is missing), 3265 (a column is missing), 3368 (the column counts
// differ), 3373 (no referenced columns named and no primary key to take them from), 3012
// (a relationship of that name exists), 3609 (the referenced columns have no unique
// index), 3201 (a row of the referencing table has no related row).
void addRelationship(WriteUnit& unit, const RelationshipDesign& design);

}  // namespace bv::storage
