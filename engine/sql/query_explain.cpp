// A printed plan: for each SELECT of a statement (and the tables an UPDATE or DELETE
// reads), how each table is read and what bounds the rows held.
#include "engine/sql/query_executor.h"

namespace bv::sql::query {

namespace {

const Expr* whereOf(const Plan& p, const Statement& st) {
  if (p.select) return p.select->where.get();
  if (auto* u = std::get_if<UpdateStmt>(&st.body)) return u->where.get();
  if (auto* d = std::get_if<DeleteStmt>(&st.body)) return d->where.get();
  return nullptr;
}

}  // namespace

std::string Executor::explain() {
  bindStatement();
  try {
    resolveParams();
  } catch (const JetError&) {
    // Missing parameters are taken as Null: the plan does not depend on their values much.
    paramValues_.resize(paramNames_.size());
  }
  std::string out;
  int number = 0;
  for (const auto& owned : plans_) {
    Plan& p = *owned;
    if (p.sources.empty() && !p.select) continue;
    ++number;
    out += p.select ? "SELECT " + std::to_string(number) : std::string("statement");
    const Select* s = p.select;
    if (s && p.aggregateQuery) out += ": grouped, memory per group";
    else if (s && s->distinct) out += ": distinct, memory per distinct row";
    if (s && s->top && !s->topPercent)
      out += s->orderBy.empty() ? "; stops after TOP " + std::to_string(size_t(*s->top))
                                : "; keeps the best TOP " + std::to_string(size_t(*s->top));
    out += "\n";
    std::vector<const Expr*> conjuncts;
    splitAnd(whereOf(p, st_), conjuncts);
    std::vector<AccessPath> paths;
    if (streamsOneTable(p)) {
      paths.push_back(accessPath(p, 0, conjuncts, wantsOrder(p)));
    } else {
      auto filters = sourceFilters(p, conjuncts);
      for (size_t i = 0; i < p.sources.size(); ++i) paths.push_back(accessPath(p, i, filters[i], false));
    }
    for (size_t i = 0; i < paths.size(); ++i) {
      const Source& src = p.sources[i];
      out += "  " + toUtf8(src.refName) + ": ";
      if (!src.table) out += "derived table";
      else if (paths[i].none) out += "no rows (nothing can match)";
      else if (paths[i].index < 0) out += "reads the table";
      else out += paths[i].text;
      out += "\n";
    }
  }
  return out;
}

}  // namespace bv::sql::query
