#include "engine/sql/exec.h"

#include "engine/sql/query_executor.h"

namespace bv::sql {

using query::Executor;

std::vector<std::u16string> statementParameters(const Statement& st, const Catalog& catalog) {
  ParamValues none;
  TextOrderScope order(catalog.textOrder());
  Executor ex(st, catalog, none);
  return ex.bindOnly();
}

ResultSet executeSelect(const Statement& st, const Catalog& catalog, const ParamValues& params) {
  if (st.kind() != StatementKind::Select)
    throw JetError(3065, "Only a SELECT returns rows; this statement is an action.");
  TextOrderScope order(catalog.textOrder());
  Executor ex(st, catalog, params);
  return ex.select();
}

ActionPlan planAction(const Statement& st, const Catalog& catalog, const ParamValues& params) {
  TextOrderScope order(catalog.textOrder());
  Executor ex(st, catalog, params);
  return ex.action();
}

std::string explainStatement(const Statement& st, const Catalog& catalog, const ParamValues& params) {
  TextOrderScope order(catalog.textOrder());
  Executor ex(st, catalog, params);
  return ex.explain();
}

}  // namespace bv::sql
