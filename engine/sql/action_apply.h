// Writing an action statement's plan through a write unit, row by row, with Jet's rules:
// the table's own rules (rules_table.h), its indexes (the table writer), and referential
// integrity with cascades (rules_relations.h).
#pragma once

#include <cstdint>

#include "engine/sql/exec.h"
#include "engine/storage/write_unit.h"

namespace bv::sql {

// Applies `plan` inside `unit` and returns the records affected (cascaded changes to
// related tables are not counted, as DAO's RecordsAffected does not count them).
// With `failOnError`, the first row that breaks a rule throws its JetError. Without it,
// such a row is skipped and left unchanged; any other failure, or one met half-way through
// a row's cascade, throws (the caller then rolls the unit back). The values of the rows
// it inserts are moved out of `plan`.
int64_t applyPlan(storage::WriteUnit& unit, ActionPlan& plan, bool failOnError);

// Whether a JetError number means that a row broke one of Jet's rules (a row that is
// skipped without fail-on-error), rather than a failure of the statement itself.
bool isRowRuleError(int32_t number);

}  // namespace bv::sql
