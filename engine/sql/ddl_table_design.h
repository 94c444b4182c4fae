// Turning the column and constraint clauses of CREATE TABLE into a storage TableDesign.
#pragma once

#include "engine/sql/ast.h"
#include "engine/storage/relationship.h"
#include "engine/storage/table_design.h"

namespace bv::sql {

// The column of a field definition; `sql` is the statement's text, where a DEFAULT
// expression is taken from as written. JetError 3259 for sizes the type cannot take, 3251
// for AutoNumber steps other than 1.
storage::ColumnDesign columnDesignOf(const FieldDef& f, bool jet4, std::u16string_view sql);

// The whole table: columns, then an index per PRIMARY KEY / UNIQUE constraint (column and
// table constraints alike, in the order written). Unnamed constraints get Jet-style names:
// "PrimaryKey" for the primary key, the column names for a unique index.
// FOREIGN KEY / REFERENCES constraints are left to foreignKeysOf.
storage::TableDesign tableDesignOf(const CreateTableStmt& st, bool jet4, std::u16string_view sql);

// The relationships the statement's FOREIGN KEY / REFERENCES constraints ask for.
std::vector<storage::RelationshipDesign> foreignKeysOf(const CreateTableStmt& st);

// One constraint of ALTER TABLE ... ADD CONSTRAINT as an index of `table` (not for foreign keys).
storage::IndexDesign indexDesignOf(const ConstraintDef& c);
// A FOREIGN KEY constraint of `table` as a relationship.
storage::RelationshipDesign relationshipOf(const ConstraintDef& c, const std::u16string& table,
                                         const std::vector<std::u16string>& columns);

}  // namespace bv::sql
