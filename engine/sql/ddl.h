// Data definition: CREATE TABLE, CREATE INDEX, DROP TABLE, DROP INDEX (and the forms this
// engine refuses) applied to a database as one write unit. Every statement affects 0
// records, as Jet reports for data definition.
#pragma once

#include <cstdint>

#include "engine/sql/action.h"
#include "engine/sql/ast.h"
#include "engine/storage/database.h"

namespace bv::sql {

// True for statements executeDdl handles.
bool isDataDefinition(const Statement& st);

// Applies the statement atomically (or, with options.dryRun, checks it the same way and
// changes nothing). Throws JetError with Jet's numbers; the file is then unchanged.
int64_t executeDdl(storage::Database& db, const Statement& st, const ActionOptions& options);

}  // namespace bv::sql
