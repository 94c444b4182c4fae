// Turning the column and constraint clauses of CREATE TABLE into a storage TableSpec.
#pragma once

#include "engine/sql/ast.h"
#include "engine/storage/relationship.h"
#include "engine/storage/table_spec.h"

namespace bv::sql {

// The column of a field definition. JetError 3259 for sizes the type cannot take, 3251
// for features this engine cannot store yet (DEFAULT, NOT NULL outside a primary key,
// AutoNumber steps other than 1).
storage::ColumnSpec columnSpecOf(const FieldDef& f, bool jet4);

// The whole table: columns, then an index per PRIMARY KEY / UNIQUE constraint (column and
// table constraints alike, in the order written). Unnamed constraints get Jet-style names:
// "PrimaryKey" for the primary key, the column names for a unique index.
// FOREIGN KEY / REFERENCES constraints are left to foreignKeysOf.
storage::TableSpec tableSpecOf(const CreateTableStmt& st, bool jet4);

// The relationships the statement's FOREIGN KEY / REFERENCES constraints ask for.
std::vector<storage::RelationshipSpec> foreignKeysOf(const CreateTableStmt& st);

// One constraint of ALTER TABLE ... ADD CONSTRAINT as an index of `table` (not for foreign keys).
storage::IndexSpec indexSpecOf(const ConstraintDef& c);
// A FOREIGN KEY constraint of `table` as a relationship.
storage::RelationshipSpec relationshipOf(const ConstraintDef& c, const std::u16string& table,
                                         const std::vector<std::u16string>& columns);

}  // namespace bv::sql
