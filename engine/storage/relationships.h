// Relationships between tables as MSysRelationships records them: which columns of a
// referencing table must match a row of the referenced table, and what happens to the
// referencing rows when the referenced row changes.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "engine/storage/database.h"

namespace bv::storage {

// Bits of MSysRelationships.grbit (the values DAO's Relation.Attributes reports).
enum RelationFlag : uint32_t {
  kRelUnique = 0x1,
  kRelNotEnforced = 0x2,
  kRelInherited = 0x4,
  kRelCascadeUpdates = 0x100,
  kRelCascadeDeletes = 0x1000,
};

struct Relationship {
  std::u16string name;
  uint32_t flags = 0;
  std::u16string table;            // the referencing (foreign) table: szObject
  std::u16string referencedTable;  // szReferencedObject
  // Column pairs in key order: columns[i] of `table` refers to referencedColumns[i].
  std::vector<std::u16string> columns;
  std::vector<std::u16string> referencedColumns;
  bool enforced() const { return (flags & kRelNotEnforced) == 0; }
  bool cascadeUpdates() const { return (flags & kRelCascadeUpdates) != 0; }
  bool cascadeDeletes() const { return (flags & kRelCascadeDeletes) != 0; }
};

// Every relationship of the database (none when MSysRelationships is absent). Rows of one
// relationship are gathered by name and ordered by their column position (icolumn).
std::vector<Relationship> readRelationships(const Database& db);

}  // namespace bv::storage
