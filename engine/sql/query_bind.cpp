// Binding: names resolved to sources, columns, outputs and parameters; the rules of grouped and DISTINCT queries checked.
#include "engine/sql/query_executor.h"

#include <algorithm>

namespace bv::sql::query {

std::string Executor::textOf(const Expr& e) const {
  const auto& t = st_.text;
  if (e.end > e.pos && e.end <= t.size()) return toUtf8(std::u16string_view(t).substr(e.pos, e.end - e.pos));
  return toUtf8(e.name);
}

// Parameters ------------------------------------------------------------------------
int Executor::paramIndex(const std::u16string& name, std::optional<ColType> type) {
  for (size_t i = 0; i < paramNames_.size(); ++i)
    if (namesEqual(paramNames_[i], name)) return int(i);
  paramNames_.push_back(name);
  paramTypes_.push_back(type);
  return int(paramNames_.size() - 1);
}

void Executor::resolveParams() {
  paramValues_.assign(paramNames_.size(), Value());
  std::vector<std::u16string> missing;
  for (size_t i = 0; i < paramNames_.size(); ++i) {
    const Value* found = nullptr;
    for (const auto& [n, v] : given_)
      if (namesEqual(n, paramNames_[i])) found = &v;
    if (!found) {
      missing.push_back(paramNames_[i]);
      continue;
    }
    paramValues_[i] = paramTypes_[i] ? coerceToColumn(*found, *paramTypes_[i]) : *found;
  }
  if (!missing.empty()) {
    std::string names;
    for (const auto& m : missing) names += (names.empty() ? "" : ", ") + quoted(m);
    throw JetError(3061, "Too few parameters: " + std::to_string(missing.size()) +
                             " expected but not given (" + names +
                             ": no field of the statement's tables has that name).");
  }
}

// Binding ---------------------------------------------------------------------------
Plan& Executor::newPlan() {
  plans_.push_back(std::make_unique<Plan>());
  return *plans_.back();
}

std::shared_ptr<const TableSource> Executor::lookupTable(const std::u16string& name) {
  auto t = catalog_.findTable(name);
  if (t) return t;
  if (catalog_.hasOtherObject(name))
    throw JetError(3078, "'" + toUtf8(name) +
                             "' is a stored query or a link; only tables can be read here.");
  throw JetError(3078, "There is no table or query named " + quoted(name) + " in this database.");
}

void Executor::addSources(Plan& p, const TableRef& r) {
  if (r.kind == TableRef::Kind::Join) {
    addSources(p, *r.left);
    addSources(p, *r.right);
    return;
  }
  Source s;
  s.refName = r.refName();
  if (r.kind == TableRef::Kind::Table) {
    s.table = lookupTable(r.name);
    s.columns = s.table->columns();
  } else {
    Plan& sub = bindSelect(*r.sub, nullptr);
    s.derived = r.sub.get();
    for (const auto& o : sub.outputs) s.columns.push_back(o.colDef);
  }
  for (const auto& other : p.sources)
    if (namesEqual(other.refName, s.refName))
      throw JetError(3131, "The FROM clause names " + quoted(s.refName) +
                               " twice; give one of them another name with AS.");
  s.needed.assign(s.columns.size(), false);
  p.leaf[&r] = int(p.sources.size());
  p.sources.push_back(std::move(s));
}

int Executor::findColumn(const std::vector<SourceColumn>& cols, std::u16string_view name) {
  for (size_t i = 0; i < cols.size(); ++i)
    if (namesEqual(cols[i].name, name)) return int(i);
  return -1;
}

// The source and column a (possibly qualified) name stands for in one query's FROM list.
bool Executor::lookupField(const Plan& p, const Expr& e, int& found, int& col) {
  found = -1;
  for (size_t i = 0; i < p.sources.size(); ++i) {
    if (!e.qualifier.empty() && !namesEqual(e.qualifier, p.sources[i].refName)) continue;
    int c = findColumn(p.sources[i].columns, e.name);
    if (c < 0) continue;
    if (found >= 0)
      throw JetError(3079, "The field " + quoted(e.name) +
                               " could belong to more than one table of the FROM clause; "
                               "name the table in front of it.");
    found = int(i);
    col = c;
  }
  return found >= 0;
}

void Executor::resolveColumn(const Expr& e, const Scope* scope) {
  int depth = 0;
  for (const Scope* s = scope; s; s = s->parent, ++depth) {
    Plan& p = *s->plan;
    int found = -1, col = -1;
    if (lookupField(p, e, found, col)) {
      e.depth = depth;
      e.source = found;
      e.column = col;
      p.sources[found].needed[col] = true;
      if (depth > 0) outerTypes_[&e] = p.sources[found].columns[col].type;
      int d = 0;
      for (const Scope* c = scope; d < depth; c = c->parent, ++d) c->plan->correlated = true;
      return;
    }
    if (depth == 0 && s->aliases && e.qualifier.empty()) {
      for (size_t k = 0; k < p.outputs.size(); ++k) {
        if (namesEqual(p.outputs[k].colDef.name, e.name)) {
          e.depth = 0;
          e.output = int(k);
          return;
        }
      }
    }
  }
  // A name that is no field anywhere is a parameter.
  e.param = paramIndex(e.qualifier.empty() ? e.name : e.qualifier + u"." + e.name);
}

void Executor::bindExpr(const Expr& e, const Scope& sc, AggContext agg, const char* clause) {
  switch (e.kind) {
    case ExprKind::Literal:
      return;
    case ExprKind::Column:
      resolveColumn(e, &sc);
      return;
    case ExprKind::Param:
      e.param = paramIndex(u"?" + fromUtf8(std::to_string(++questionMarks_)));
      return;
    case ExprKind::Call: {
      auto kind = aggregateKind(e.name);
      if (kind) {
        if (agg == NoAggregates)
          throw JetError(3096, "An aggregate function (" + textOf(e) + ") cannot stand in " +
                                   clause + ".");
        if (agg == InsideAggregate)
          throw JetError(3096, "An aggregate function cannot stand inside another: " +
                                   textOf(e) + ".");
        if (e.star ? *kind != Agg::Count : e.args.size() != 1)
          throw JetError(3075, "Wrong arguments for " + toUtf8(e.name) + " in " + quoted(fromUtf8(textOf(e))) + ".");
        e.aggregate = int(sc.plan->aggregates.size());
        sc.plan->aggregates.push_back(&e);
        for (const auto& a : e.args) bindExpr(*a, sc, InsideAggregate, clause);
        return;
      }
      if (!isKnownFunction(e.name))
        throw JetError(3085, "Unknown function " + quoted(e.name) + " in the expression " +
                                 quoted(fromUtf8(textOf(e))) + ".");
      for (const auto& a : e.args) bindExpr(*a, sc, agg, clause);
      return;
    }
    case ExprKind::InSelect:
    case ExprKind::Subquery:
    case ExprKind::Exists: {
      for (const auto& a : e.args) bindExpr(*a, sc, agg, clause);
      Plan& sub = bindSelect(*e.sub, &sc);
      if (e.kind != ExprKind::Exists && sub.outputs.size() != 1)
        throw JetError(3306, "A subquery used as a value must return exactly one field: " +
                                 quoted(fromUtf8(textOf(e))) + " returns " +
                                 std::to_string(sub.outputs.size()) + ".");
      return;
    }
    default:
      for (const auto& a : e.args) bindExpr(*a, sc, agg, clause);
  }
}

bool Executor::containsAggregate(const Expr& e) {
  if (e.kind == ExprKind::Call && aggregateKind(e.name)) return true;
  if (e.sub) return false;
  for (const auto& a : e.args)
    if (containsAggregate(*a)) return true;
  return false;
}

bool Executor::sameExpr(const Expr& a, const Expr& b) {
  if (a.kind != b.kind || a.op != b.op || a.negated != b.negated || a.star != b.star ||
      a.args.size() != b.args.size() || a.sub || b.sub)
    return false;
  if (a.kind == ExprKind::Column)
    return a.param < 0 ? (a.depth == b.depth && a.source == b.source && a.column == b.column &&
                          a.output == b.output)
                       : a.param == b.param;
  if (a.kind == ExprKind::Literal) return a.value == b.value;
  if (a.kind == ExprKind::Call && !equalsNoCase(a.name, b.name)) return false;
  for (size_t i = 0; i < a.args.size(); ++i)
    if (!sameExpr(*a.args[i], *b.args[i])) return false;
  return true;
}

// In a grouped query every field outside an aggregate must be one of the groups.
void Executor::checkGrouped(const Expr& e, const Plan& p) {
  for (const auto& g : p.select->groupBy)
    if (sameExpr(e, *g)) return;
  if (e.kind == ExprKind::Column && e.param < 0 && e.depth == 0 && e.output < 0)
    throw JetError(3122, "The query groups its rows, but " + quoted(fromUtf8(textOf(e))) +
                             " is neither grouped nor inside an aggregate function.");
  if (e.aggregate >= 0 || e.sub) return;
  for (const auto& a : e.args) checkGrouped(*a, p);
}

std::u16string Executor::outputName(const Expr& e, const Plan& p, int& exprCounter) {
  if (e.kind == ExprKind::Column && e.param < 0 && e.depth == 0)
    return p.sources[e.source].columns[e.column].name;
  if (e.aggregate >= 0 && e.args.size() == 1 && e.args[0]->kind == ExprKind::Column &&
      e.args[0]->param < 0 && e.args[0]->depth == 0) {
    auto k = aggregateKind(e.name);
    static const char16_t* names[] = {u"Count", u"Sum", u"Avg", u"Min", u"Max", u"First",
                                      u"Last", u"StDev", u"StDevP", u"Var", u"VarP"};
    return std::u16string(names[int(*k)]) + u"Of" +
           p.sources[e.args[0]->source].columns[e.args[0]->column].name;
  }
  return u"Expr" + fromUtf8(std::to_string(1000 + exprCounter++));
}

void Executor::bindJoinConditions(const TableRef& r, const Scope& sc) {
  if (r.kind != TableRef::Kind::Join) return;
  bindJoinConditions(*r.left, sc);
  bindJoinConditions(*r.right, sc);
  if (r.on) bindExpr(*r.on, sc, NoAggregates, "a JOIN condition");
}

Plan& Executor::bindSelect(const Select& s, const Scope* outer) {
  Plan& p = newPlan();
  planOf_[&s] = &p;
  p.select = &s;
  for (const auto& item : s.from) p.items.push_back(item.get());
  for (const auto& item : s.from) addSources(p, *item);
  Scope sc{&p, outer, false};
  for (const auto& item : s.from) bindJoinConditions(*item, sc);
  if (s.where) bindExpr(*s.where, sc, NoAggregates, "a WHERE clause");

  p.aggregateQuery = !s.groupBy.empty() || (s.having && containsAggregate(*s.having));
  for (const auto& item : s.items)
    if (item.expr && containsAggregate(*item.expr)) p.aggregateQuery = true;
  for (const auto& o : s.orderBy)
    if (containsAggregate(*o.expr)) p.aggregateQuery = true;
  AggContext agg = p.aggregateQuery ? AggregatesAllowed : NoAggregates;

  int exprCounter = 0;
  for (const auto& item : s.items) {
    if (item.star) {
      bool any = false;
      for (size_t i = 0; i < p.sources.size(); ++i) {
        Source& src = p.sources[i];
        if (!item.starQualifier.empty() && !namesEqual(item.starQualifier, src.refName)) continue;
        any = true;
        for (size_t c = 0; c < src.columns.size(); ++c) {
          OutputCol o;
          o.colDef = src.columns[c];
          o.typed = true;
          o.source = int(i);
          o.column = int(c);
          src.needed[c] = true;
          p.outputs.push_back(o);
        }
      }
      if (!any && !item.starQualifier.empty())
        throw JetError(3078, "The select list asks for " + toUtf8(item.starQualifier) +
                                 ".*, but no table of the FROM clause is called " +
                                 quoted(item.starQualifier) + ".");
      if (p.sources.empty())
        throw JetError(3067, "A query that selects * needs at least one table in its FROM clause.");
      continue;
    }
    bindExpr(*item.expr, sc, agg, "this place");
    OutputCol o;
    o.expr = item.expr.get();
    o.explicitAlias = !item.alias.empty();
    o.colDef.name = o.explicitAlias ? item.alias : outputName(*item.expr, p, exprCounter);
    const Expr& e = *item.expr;
    if (e.kind == ExprKind::Column && e.param < 0 && e.depth == 0) {
      std::u16string name = o.colDef.name;
      o.colDef = p.sources[e.source].columns[e.column];
      o.colDef.name = name;
      o.colDef.autoNumber = false;
      o.typed = true;
    }
    p.outputs.push_back(o);
  }
  // Two unaliased fields of the same name from different tables are told apart by table.
  for (size_t a = 0; a < p.outputs.size(); ++a) {
    for (size_t b = a + 1; b < p.outputs.size(); ++b) {
      if (!namesEqual(p.outputs[a].colDef.name, p.outputs[b].colDef.name)) continue;
      for (size_t k : {a, b}) {
        OutputCol& o = p.outputs[k];
        int src = o.source >= 0 ? o.source
                  : (o.expr && o.expr->kind == ExprKind::Column && o.expr->param < 0 &&
                     o.expr->depth == 0) ? o.expr->source : -1;
        if (!o.explicitAlias && src >= 0 && o.colDef.name.find(u'.') == std::u16string::npos)
          o.colDef.name = p.sources[src].refName + u"." + o.colDef.name;
      }
    }
  }
  for (const auto& g : s.groupBy) bindExpr(*g, sc, NoAggregates, "a GROUP BY clause");
  // ORDER BY 2 sorts by the second field of the select list.
  for (const auto& o : s.orderBy) {
    const Expr& e = *o.expr;
    if (e.kind == ExprKind::Literal && e.value.kind() == Kind::Long) {
      int32_t k = e.value.as<int32_t>();
      if (k < 1 || size_t(k) > p.outputs.size())
        throw JetError(3138, "ORDER BY " + std::to_string(k) + " names no field of the select list.");
      e.output = k - 1;
    }
  }
  Scope withAliases{&p, outer, true};
  if (s.having) bindExpr(*s.having, withAliases, AggregatesAllowed, "HAVING");

  for (const auto& part : s.unions) {
    Plan& other = bindSelect(*part.select, outer);
    if (other.outputs.size() != p.outputs.size())
      throw JetError(3307, "The SELECTs of a UNION return different numbers of fields (" +
                               std::to_string(p.outputs.size()) + " and " +
                               std::to_string(other.outputs.size()) + ").");
    p.unionParts.push_back(&other);
  }
  if (!s.unions.empty()) {
    // The ORDER BY of a UNION sorts the combined rows: it can name only their fields.
    Plan& names = newPlan();
    names.outputs = p.outputs;
    Scope outScope{&names, outer, true};
    for (const auto& o : s.orderBy) bindExpr(*o.expr, outScope, NoAggregates, "ORDER BY");
  } else {
    for (const auto& o : s.orderBy) bindExpr(*o.expr, withAliases, agg, "ORDER BY");
  }

  if (p.aggregateQuery) {
    for (const auto& item : s.items)
      if (item.star)
        throw JetError(3122, "A grouped query cannot select *: name the grouped fields.");
      else
        checkGrouped(*item.expr, p);
    if (s.having) checkGrouped(*s.having, p);
    if (s.unions.empty())
      for (const auto& o : s.orderBy) checkGrouped(*o.expr, p);
  }
  if (s.distinct && s.unions.empty()) {
    // Sorting a DISTINCT result by something it does not return is ambiguous.
    for (const auto& o : s.orderBy) {
      bool listed = o.expr->output >= 0;
      for (const auto& out : p.outputs)
        if (!listed && out.expr && sameExpr(*out.expr, *o.expr)) listed = true;
      for (const auto& out : p.outputs)
        if (!listed && out.source >= 0 && o.expr->kind == ExprKind::Column &&
            o.expr->depth == 0 && o.expr->source == out.source && o.expr->column == out.column)
          listed = true;
      if (!listed && !(o.expr->kind == ExprKind::Literal))
        throw JetError(3093, "The ORDER BY clause sorts by " + quoted(fromUtf8(textOf(*o.expr))) +
                                 ", which the DISTINCT select list does not include.");
    }
  }
  return p;
}

void Executor::bindStatement() {
  std::visit(
      [&](const auto& b) {
        using T = std::decay_t<decltype(b)>;
        if constexpr (std::is_same_v<T, SelectStmt>) {
          root_ = &bindSelect(*b.select, nullptr);
        } else if constexpr (std::is_same_v<T, UpdateStmt>) {
          Plan& p = newPlan();
          // The tables of "UPDATE a, b" are separate items, joined as the WHERE links them.
          std::function<void(const TableRef&)> items = [&](const TableRef& r) {
            if (r.kind == TableRef::Kind::Join && r.join == JoinKind::Cross) {
              items(*r.left);
              items(*r.right);
            } else {
              p.items.push_back(&r);
            }
          };
          items(*b.target);
          root_ = &p;
          for (const TableRef* item : p.items) addSources(p, *item);
          Scope sc{&p, nullptr, false};
          bindJoinConditions(*b.target, sc);
          for (const auto& a : b.sets) {
            bindExpr(*a.value, sc, NoAggregates, "an UPDATE");
            const Expr& t = *a.target;
            int src = -1, col = -1;
            if (!lookupField(p, t, src, col))
              throw JetError(3265, "The UPDATE sets " + quoted(fromUtf8(textOf(t))) +
                                       ", which is no field of the tables being updated.");
            t.depth = 0;
            t.source = src;
            t.column = col;
            p.sources[src].needed[col] = true;
            const SourceColumn& colDef = p.sources[src].columns[col];
            if (colDef.autoNumber)
              throw JetError(3113, "The field " + quoted(colDef.name) +
                                       " is an AutoNumber and cannot be updated.");
          }
          if (b.where) bindExpr(*b.where, sc, NoAggregates, "a WHERE clause");
        } else if constexpr (std::is_same_v<T, DeleteStmt>) {
          Plan& p = newPlan();
          for (const auto& item : b.from) p.items.push_back(item.get());
          root_ = &p;
          for (const auto& item : b.from) addSources(p, *item);
          Scope sc{&p, nullptr, false};
          for (const auto& item : b.from) bindJoinConditions(*item, sc);
          if (b.where) bindExpr(*b.where, sc, NoAggregates, "a WHERE clause");
        } else if constexpr (std::is_same_v<T, InsertStmt>) {
          Plan& p = newPlan();
          root_ = &p;
          Scope sc{&p, nullptr, false};
          for (const auto& v : b.values) bindExpr(*v, sc, NoAggregates, "VALUES");
          if (b.select) bindSelect(*b.select, nullptr);
        }
      },
      st_.body);
}

}  // namespace bv::sql::query
