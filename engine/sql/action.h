// Applying an action statement (UPDATE, DELETE, INSERT, ...) to an open database: works out
// its plan, checks the rules Jet enforces and writes the changes as one unit.
#pragma once

#include <cstdint>

#include "engine/sql/ast.h"
#include "engine/sql/exec.h"
#include "engine/storage/database.h"

namespace bv::sql {

struct ActionOptions {
  // Jet's fail-on-error option (128): any failure changes nothing and is reported. Without
  // it, rows that break a rule are skipped and the others applied.
  bool failOnError = false;
  // Work out and check everything, write nothing.
  bool dryRun = false;
};

// Runs the statement and returns the number of records it affected (what DAO's
// RecordsAffected reports). Throws JetError on failure.
int64_t executeAction(storage::Database& db, const Statement& st, const ParamValues& params,
                      const ActionOptions& options);

}  // namespace bv::sql
