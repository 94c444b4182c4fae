// Statement execution: SELECT results, and for action statements the set of changes they
// make (target rows and new values), which the write side applies and a dry run counts.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "engine/sql/ast.h"
#include "engine/sql/source.h"
#include "engine/storage/error.h"

namespace bv::sql {

// Values for parameters, by name (case-insensitive). Positional '?' markers are named
// "?1", "?2", ... in the order they appear.
using ParamValues = std::vector<std::pair<std::u16string, Value>>;

struct ResultSet {
  std::vector<SourceColumn> columns;  // output names and (where known) types
  std::vector<std::vector<Value>> rows;
};

// The changes one action statement makes to one table.
struct TableChange {
  std::u16string table;      // as the catalog spells it
  std::vector<int> columns;  // UPDATE: assigned columns; INSERT: given columns (positions)
  std::vector<RowId> deletes;
  struct Update {
    RowId row;
    std::vector<Value> values;  // new values of `columns`, already converted to their types
  };
  std::vector<Update> updates;
  std::vector<std::vector<Value>> inserts;  // values of `columns`, converted
  // Rows (by position in `updates` or `inserts`) with a new value their column cannot
  // hold (3163 too long, 3464 not convertible, 3349 out of range): the row's error, raised
  // when the row is applied, so that without fail-on-error only that row is skipped.
  std::map<size_t, JetError> faults;
};

struct ActionPlan {
  StatementKind kind = StatementKind::Update;
  int64_t recordsAffected = 0;
  std::vector<TableChange> changes;
  // SELECT ... INTO: the table to create; its rows are changes[0].inserts.
  std::optional<std::u16string> createTable;
  std::vector<SourceColumn> createColumns;
};

// The parameters a statement needs (declared ones first, then names that resolve to no
// column, then '?' markers), without executing it.
std::vector<std::u16string> statementParameters(const Statement& st, const Catalog& catalog);

// Runs a SELECT. JetError 3061 when parameters are missing, 3078 for an unknown table, ...
ResultSet executeSelect(const Statement& st, const Catalog& catalog, const ParamValues& params = {});

// Works out what an action statement changes without changing anything. JetError 3065 for a
// plain SELECT. Data-definition statements are checked against the catalog and give a plan
// with no changes.
ActionPlan planAction(const Statement& st, const Catalog& catalog, const ParamValues& params = {});

// How a statement would read its tables (an index and its conditions, or the whole
// table) and what bounds its memory, one line per table, without running it.
std::string explainStatement(const Statement& st, const Catalog& catalog, const ParamValues& params = {});

}  // namespace bv::sql
