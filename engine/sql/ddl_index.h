// CREATE INDEX and DROP INDEX on an existing table: the table definition is rewritten with
// the index added or removed, and a new index is built over the rows already there.
#pragma once

#include "engine/sql/ast.h"

namespace bv::storage {
class WriteUnit;
}

namespace bv::sql {

// JetError 3376 (no such table), 3375 (the table has an index of that name), 3283 (a second
// primary key), 3265 (an unknown column), 3022 (UNIQUE or PRIMARY over duplicate values),
// 3058 (PRIMARY or DISALLOW NULL over Null values).
void createIndex(storage::WriteUnit& unit, const CreateIndexStmt& st);
// JetError 3376 (no such table), 3371 (no index of that name on it), 3280-style 3303 when
// a relationship uses it.
void dropIndex(storage::WriteUnit& unit, const DropIndexStmt& st);
// ALTER TABLE ... ADD CONSTRAINT (an index, or a relationship for FOREIGN KEY) and
// ... DROP CONSTRAINT (an index that is not a relationship's end).
void alterConstraint(storage::WriteUnit& unit, const AlterTableStmt& st);

}  // namespace bv::sql
