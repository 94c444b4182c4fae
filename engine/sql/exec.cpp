#include "engine/sql/exec.h"

#include <algorithm>
#include <cmath>
#include <functional>
#include <map>
#include <set>
#include <unordered_map>

#include "engine/sql/conv_value.h"
#include "engine/sql/in_set.h"
#include "engine/sql/lexer.h"
#include "engine/sql/row_keys.h"
#include "engine/sql/value_ops.h"
#include "engine/storage/text_key.h"
#include "engine/storage/error.h"

namespace bv::sql {

namespace {

enum class Agg { Count, Sum, Avg, Min, Max, First, Last, StDev, StDevP, Var, VarP };

std::optional<Agg> aggregateKind(std::u16string_view n) {
  static const std::pair<std::u16string_view, Agg> names[] = {
      {u"Count", Agg::Count}, {u"Sum", Agg::Sum},     {u"Avg", Agg::Avg},
      {u"Min", Agg::Min},     {u"Max", Agg::Max},     {u"First", Agg::First},
      {u"Last", Agg::Last},   {u"StDev", Agg::StDev}, {u"StDevP", Agg::StDevP},
      {u"Var", Agg::Var},     {u"VarP", Agg::VarP}};
  for (const auto& [name, kind] : names)
    if (equalsNoCase(n, name)) return kind;
  return std::nullopt;
}

BinaryOp toBinary(Op op) {
  switch (op) {
    case Op::Add: return BinaryOp::Add;
    case Op::Sub: return BinaryOp::Sub;
    case Op::Mul: return BinaryOp::Mul;
    case Op::Div: return BinaryOp::Div;
    case Op::IntDiv: return BinaryOp::IntDiv;
    case Op::Mod: return BinaryOp::Mod;
    case Op::Pow: return BinaryOp::Pow;
    case Op::Concat: return BinaryOp::Concat;
    case Op::Eq: return BinaryOp::Eq;
    case Op::Ne: return BinaryOp::Ne;
    case Op::Lt: return BinaryOp::Lt;
    case Op::Le: return BinaryOp::Le;
    case Op::Gt: return BinaryOp::Gt;
    case Op::Ge: return BinaryOp::Ge;
    case Op::And: return BinaryOp::And;
    case Op::Or: return BinaryOp::Or;
    case Op::Xor: return BinaryOp::Xor;
    case Op::Eqv: return BinaryOp::Eqv;
    default: return BinaryOp::Imp;
  }
}

UnaryOp toUnary(Op op) {
  return op == Op::Neg ? UnaryOp::Neg : op == Op::Not ? UnaryOp::Not : UnaryOp::Plus;
}

std::string quoted(std::u16string_view s) { return "'" + toUtf8(s) + "'"; }

uint64_t rowKey(RowId id) { return (uint64_t(id.page) << 8) | id.row; }

// The rows of one source read into memory (only the fields the statement uses).
struct Materialized {
  size_t width = 0;
  std::vector<Value> values;  // row-major
  std::vector<RowId> ids;
  size_t count() const { return ids.size(); }
};

using Mats = std::vector<std::shared_ptr<const Materialized>>;

// One table of a FROM clause as a query sees it.
struct Source {
  std::u16string refName;
  std::shared_ptr<const TableSource> table;  // null for a derived table until it has run
  const Select* derived = nullptr;
  std::vector<SourceColumn> columns;
  std::vector<bool> needed;  // columns some expression reads
  // A correlated subquery reads its tables once per outer row: they are kept in memory.
  std::shared_ptr<const Materialized> kept;
  std::shared_ptr<struct ProbeIndex> probeIndex;
};

// Rows of a correlated subquery's table by the value of a field the subquery compares
// with the enclosing row.
struct ProbeIndex {
  const Expr* inner = nullptr;  // reads the subquery's table
  const Expr* outer = nullptr;  // reads only the enclosing query
  std::unordered_map<std::string, std::vector<size_t>> rows;
};

struct OutputCol {
  SourceColumn colDef;
  bool typed = false;  // colDef.type is known (a plain column)
  const Expr* expr = nullptr;
  int source = -1, column = -1;  // for * and t.* items
  bool explicitAlias = false;
};

// Everything binding learns about one SELECT (or the FROM part of UPDATE/DELETE).
struct Plan {
  const Select* select = nullptr;
  std::vector<const TableRef*> items;  // the FROM list (UPDATE: its target)
  std::vector<Source> sources;
  std::unordered_map<const TableRef*, int> leaf;  // table reference -> source index
  std::vector<const Expr*> aggregates;
  bool aggregateQuery = false;
  bool correlated = false;
  std::vector<OutputCol> outputs;
  std::vector<Plan*> unionParts;  // for the first SELECT of a UNION chain
};

struct Frame {
  const Frame* parent = nullptr;
  std::vector<const Value*> rows;  // per source; nullptr = no row (outer join's Null side)
  std::vector<RowId> ids;
  const Value* aggs = nullptr;
  const Value* outputs = nullptr;
};

struct Scope {
  Plan* plan;
  const Scope* parent;
  bool aliases = false;  // names may refer to select-list outputs
};

struct Accumulator {
  int64_t n = 0;
  bool has = false;
  Value v;
  double mean = 0, m2 = 0;
};

Value widenForSum(const Value& v) {
  switch (v.kind()) {
    case Kind::Bool: return Value(int32_t(v.as<bool>() ? -1 : 0));
    case Kind::Byte: return Value(int32_t(v.as<uint8_t>()));
    case Kind::Integer: return Value(int32_t(v.as<int16_t>()));
    default: return v;
  }
}

class Executor {
 public:
  Executor(const Statement& st, const Catalog& catalog, const ParamValues& given)
      : st_(st), catalog_(catalog), given_(given) {
    for (const auto& p : st.parameters) paramIndex(p.name, p.type);
  }

  std::vector<std::u16string> bindOnly();
  ResultSet select();
  ActionPlan action();

 private:
  const Statement& st_;
  const Catalog& catalog_;
  const ParamValues& given_;
  std::vector<std::unique_ptr<Plan>> plans_;
  std::unordered_map<const Select*, Plan*> planOf_;
  std::vector<std::u16string> paramNames_;
  std::vector<std::optional<ColType>> paramTypes_;
  std::vector<Value> paramValues_;
  int questionMarks_ = 0;
  std::unordered_map<const Select*, std::vector<std::vector<Value>>> subCache_;
  std::unordered_map<const Expr*, std::pair<std::vector<Value>, bool>> inCache_;
  std::unordered_map<const Expr*, ColType> outerTypes_;  // fields of enclosing queries

  std::string textOf(const Expr& e) const {
    const auto& t = st_.text;
    if (e.end > e.pos && e.end <= t.size()) return toUtf8(std::u16string_view(t).substr(e.pos, e.end - e.pos));
    return toUtf8(e.name);
  }

  // Parameters ------------------------------------------------------------------------
  int paramIndex(const std::u16string& name, std::optional<ColType> type = std::nullopt) {
    for (size_t i = 0; i < paramNames_.size(); ++i)
      if (namesEqual(paramNames_[i], name)) return int(i);
    paramNames_.push_back(name);
    paramTypes_.push_back(type);
    return int(paramNames_.size() - 1);
  }

  void resolveParams() {
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
  Plan& newPlan() {
    plans_.push_back(std::make_unique<Plan>());
    return *plans_.back();
  }

  std::shared_ptr<const TableSource> lookupTable(const std::u16string& name) {
    auto t = catalog_.findTable(name);
    if (t) return t;
    if (catalog_.hasOtherObject(name))
      throw JetError(3078, "'" + toUtf8(name) +
                               "' is a stored query or a link; only tables can be read here.");
    throw JetError(3078, "There is no table or query named " + quoted(name) + " in this database.");
  }

  void addSources(Plan& p, const TableRef& r) {
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

  static int findColumn(const std::vector<SourceColumn>& cols, std::u16string_view name) {
    for (size_t i = 0; i < cols.size(); ++i)
      if (namesEqual(cols[i].name, name)) return int(i);
    return -1;
  }

  // The source and column a (possibly qualified) name stands for in one query's FROM list.
  static bool lookupField(const Plan& p, const Expr& e, int& found, int& col) {
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

  void resolveColumn(const Expr& e, const Scope* scope) {
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

  enum AggContext { NoAggregates, AggregatesAllowed, InsideAggregate };

  void bindExpr(const Expr& e, const Scope& sc, AggContext agg, const char* clause) {
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

  static bool containsAggregate(const Expr& e) {
    if (e.kind == ExprKind::Call && aggregateKind(e.name)) return true;
    if (e.sub) return false;
    for (const auto& a : e.args)
      if (containsAggregate(*a)) return true;
    return false;
  }

  static bool sameExpr(const Expr& a, const Expr& b) {
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
  void checkGrouped(const Expr& e, const Plan& p) {
    for (const auto& g : p.select->groupBy)
      if (sameExpr(e, *g)) return;
    if (e.kind == ExprKind::Column && e.param < 0 && e.depth == 0 && e.output < 0)
      throw JetError(3122, "The query groups its rows, but " + quoted(fromUtf8(textOf(e))) +
                               " is neither grouped nor inside an aggregate function.");
    if (e.aggregate >= 0 || e.sub) return;
    for (const auto& a : e.args) checkGrouped(*a, p);
  }

  std::u16string outputName(const Expr& e, const Plan& p, int& exprCounter) {
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

  void bindJoinConditions(const TableRef& r, const Scope& sc) {
    if (r.kind != TableRef::Kind::Join) return;
    bindJoinConditions(*r.left, sc);
    bindJoinConditions(*r.right, sc);
    if (r.on) bindExpr(*r.on, sc, NoAggregates, "a JOIN condition");
  }

  Plan& bindSelect(const Select& s, const Scope* outer) {
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

  // Evaluation ------------------------------------------------------------------------
  Value eval(const Expr& e, const Frame& f) {
    switch (e.kind) {
      case ExprKind::Literal:
        if (e.output >= 0 && f.outputs) return f.outputs[e.output];
        return e.value;
      case ExprKind::Column: {
        if (e.param >= 0) return paramValues_[e.param];
        const Frame* fr = &f;
        for (int d = 0; d < e.depth; ++d) fr = fr->parent;
        if (e.output >= 0) return fr->outputs ? fr->outputs[e.output] : Value();
        const Value* row = fr->rows[e.source];
        return row ? row[e.column] : Value();
      }
      case ExprKind::Param:
        return paramValues_[e.param];
      case ExprKind::Unary:
        return applyUnary(toUnary(e.op), eval(*e.args[0], f));
      case ExprKind::Binary: {
        Value a = eval(*e.args[0], f);
        if (e.op == Op::And && a.kind() == Kind::Bool && !a.as<bool>()) return Value(false);
        if (e.op == Op::Or && a.kind() == Kind::Bool && a.as<bool>()) return Value(true);
        return applyBinary(toBinary(e.op), a, eval(*e.args[1], f));
      }
      case ExprKind::Like: {
        Value r = likeMatch(eval(*e.args[0], f), eval(*e.args[1], f));
        return e.negated ? applyUnary(UnaryOp::Not, r) : r;
      }
      case ExprKind::Between: {
        Value r = between(eval(*e.args[0], f), eval(*e.args[1], f), eval(*e.args[2], f));
        return e.negated ? applyUnary(UnaryOp::Not, r) : r;
      }
      case ExprKind::InList: {
        Value v = eval(*e.args[0], f);
        if (const InSet* set = constantSet(e, f)) {
          Value r = set->contains(v);
          return e.negated ? applyUnary(UnaryOp::Not, r) : r;
        }
        std::vector<Value> list;
        list.reserve(e.args.size() - 1);
        for (size_t i = 1; i < e.args.size(); ++i) list.push_back(eval(*e.args[i], f));
        Value r = inList(v, list);
        return e.negated ? applyUnary(UnaryOp::Not, r) : r;
      }
      case ExprKind::InSelect: {
        Value r = inSubquery(e, f);
        return e.negated ? applyUnary(UnaryOp::Not, r) : r;
      }
      case ExprKind::IsNull: {
        bool null = eval(*e.args[0], f).isNull();
        return Value(e.negated ? !null : null);
      }
      case ExprKind::Exists: {
        bool any = !subqueryRows(*e.sub, f, 1).empty();
        return Value(e.negated ? !any : any);
      }
      case ExprKind::Subquery: {
        const auto& rows = subqueryRows(*e.sub, f, 2);
        if (rows.empty()) return Value();
        if (rows.size() > 1)
          throw JetError(3354, "The subquery " + quoted(fromUtf8(textOf(e))) +
                                   " returns more than one record where one value is needed.");
        return rows[0][0];
      }
      case ExprKind::Call: {
        if (e.aggregate >= 0) return f.aggs ? f.aggs[e.aggregate] : Value();
        if (equalsNoCase(e.name, u"IIf") && e.args.size() == 3)
          return eval(*e.args[isTrue(eval(*e.args[0], f)) ? 1 : 2], f);
        std::vector<Value> args;
        args.reserve(e.args.size());
        for (const auto& a : e.args) args.push_back(eval(*a, f));
        return callFunction(e.name, args);
      }
    }
    return Value();
  }

  // An IN list of constants (literals and parameters) becomes a set on first use.
  static bool isConstant(const Expr& e) {
    switch (e.kind) {
      case ExprKind::Literal: return e.output < 0;
      case ExprKind::Param: return true;
      case ExprKind::Column: return e.param >= 0;
      case ExprKind::Unary: return e.op != Op::Not && isConstant(*e.args[0]);
      default: return false;
    }
  }
  const InSet* constantSet(const Expr& e, const Frame& f) {
    auto it = inSets_.find(&e);
    if (it != inSets_.end()) return it->second.get();
    std::unique_ptr<InSet> set;
    bool constant = true;
    for (size_t i = 1; i < e.args.size() && constant; ++i) constant = isConstant(*e.args[i]);
    if (constant) {
      std::vector<Value> items;
      items.reserve(e.args.size() - 1);
      for (size_t i = 1; i < e.args.size(); ++i) items.push_back(eval(*e.args[i], f));
      set = std::make_unique<InSet>(std::move(items));
    }
    return inSets_.emplace(&e, std::move(set)).first->second.get();
  }
  std::unordered_map<const Expr*, std::unique_ptr<InSet>> inSets_;

  bool accepts(const Expr* cond, const Frame& f) { return !cond || isTrue(eval(*cond, f)); }

  // Rows of a subquery; uncorrelated ones run once. `limit` caps the rows needed.
  const std::vector<std::vector<Value>>& subqueryRows(const Select& s, const Frame& f,
                                                      size_t limit) {
    Plan& p = *planOf_.at(&s);
    auto it = subCache_.find(&s);
    if (it != subCache_.end()) return it->second;
    if (!p.correlated) {
      auto& slot = subCache_[&s];
      slot = run(p, &f, 0);
      return slot;
    }
    scratch_.push_back(run(p, &f, limit));
    if (scratch_.size() > 64) scratch_.erase(scratch_.begin(), scratch_.end() - 1);
    return scratch_.back();
  }
  std::vector<std::vector<std::vector<Value>>> scratch_;

  Value inSubquery(const Expr& e, const Frame& f) {
    Value v = eval(*e.args[0], f);
    Plan& p = *planOf_.at(e.sub.get());
    if (p.correlated) {
      const auto& rows = subqueryRows(*e.sub, f, 0);
      std::vector<Value> list;
      list.reserve(rows.size());
      for (const auto& r : rows) list.push_back(r[0]);
      return inList(v, list);
    }
    auto it = inCache_.find(&e);
    if (it == inCache_.end()) {
      const auto& rows = subqueryRows(*e.sub, f, 0);
      std::pair<std::vector<Value>, bool> set;
      for (const auto& r : rows) {
        if (r[0].isNull()) set.second = true;
        else set.first.push_back(r[0]);
      }
      std::sort(set.first.begin(), set.first.end(),
                [](const Value& a, const Value& b) { return compareForSort(a, b) < 0; });
      it = inCache_.emplace(&e, std::move(set)).first;
    }
    if (v.isNull()) return Value();
    const auto& sorted = it->second.first;
    auto lo = std::lower_bound(sorted.begin(), sorted.end(), v,
                               [](const Value& a, const Value& b) { return compareForSort(a, b) < 0; });
    // The sort order brings equal values together; In itself decides what is equal.
    for (auto k = lo; k != sorted.end() && k - lo < 4; ++k)
      if (isTrue(applyBinary(BinaryOp::Eq, v, *k))) return Value(true);
    if (lo != sorted.begin() && isTrue(applyBinary(BinaryOp::Eq, v, *(lo - 1)))) return Value(true);
    return it->second.second ? Value() : Value(false);
  }

  // Row production --------------------------------------------------------------------
  std::shared_ptr<const TableSource> openSource(Source& s) {
    if (!s.table) {
      Plan& sub = *planOf_.at(s.derived);
      auto rows = run(sub, nullptr, 0);
      auto t = std::make_shared<MemoryTable>(s.refName, s.columns);
      for (auto& r : rows) t->addRow(std::move(r));
      s.table = t;
    }
    return s.table;
  }

  // Reads source `index` into memory, keeping only the rows that pass `filters` (WHERE
  // conditions on this source alone).
  std::shared_ptr<const Materialized> materialize(Plan& p, size_t index,
                                                  const std::vector<const Expr*>& filters,
                                                  const Frame* parent) {
    Source& s = p.sources[index];
    if (s.kept) return s.kept;
    auto made = std::make_shared<Materialized>();
    Materialized& m = *made;
    m.width = s.columns.size();
    Frame fr;
    fr.parent = parent;
    fr.rows.assign(p.sources.size(), nullptr);
    fr.ids.assign(p.sources.size(), RowId{});
    auto cur = openSource(s)->scan();
    while (cur->next()) {
      size_t base = m.values.size();
      m.values.resize(base + m.width);
      for (size_t c = 0; c < m.width; ++c)
        if (s.needed[c]) m.values[base + c] = cur->value(c);
      fr.rows[index] = m.values.data() + base;
      fr.ids[index] = cur->rowId();
      bool keep = true;
      for (const Expr* f : filters)
        if (!(keep = accepts(f, fr))) break;
      if (!keep) {
        m.values.resize(base);
        continue;
      }
      m.ids.push_back(cur->rowId());
    }
    return made;
  }

  // A correlated subquery over one table, run once per row of the enclosing query. An
  // equality between a field of its table and a value of the enclosing row picks the
  // candidate rows from an index built on the first run; otherwise every row is tried.
  void probeCorrelated(Plan& p, const std::vector<const Expr*>& conjuncts, const Materialized& m,
                       Frame& fr, const Expr* where, const std::function<bool(Frame&)>& fn) {
    Source& s = p.sources[0];
    auto visit = [&](size_t r) {
      fr.rows[0] = m.values.data() + r * m.width;
      fr.ids[0] = m.ids[r];
      return !accepts(where, fr) || fn(fr);
    };
    if (!s.probeIndex) {
      s.probeIndex = std::make_shared<ProbeIndex>();
      for (const Expr* c : conjuncts) {
        if (c->kind != ExprKind::Binary || c->op != Op::Eq) continue;
        for (int side = 0; side < 2 && !s.probeIndex->inner; ++side) {
          const Expr& in = *c->args[side];
          const Expr& out = *c->args[1 - side];
          std::vector<int> si, so;
          int f = family(in, p);
          if (f == 0 || f != family(out, p) || !sourcesOf(in, si, false) || si.empty() ||
              !sourcesOf(out, so, true) || !so.empty())
            continue;
          s.probeIndex->inner = &in;
          s.probeIndex->outer = &out;
        }
        if (s.probeIndex->inner) break;
      }
      if (s.probeIndex->inner) {
        std::string bucket;
        for (size_t r = 0; r < m.count(); ++r) {
          fr.rows[0] = m.values.data() + r * m.width;
          Value v = eval(*s.probeIndex->inner, fr);
          if (v.isNull()) continue;
          bucket.clear();
          appendBucket(v, bucket);
          s.probeIndex->rows[bucket].push_back(r);
        }
      }
    }
    if (!s.probeIndex->inner) {
      for (size_t r = 0; r < m.count(); ++r)
        if (!visit(r)) return;
      return;
    }
    fr.rows[0] = nullptr;
    Value v = eval(*s.probeIndex->outer, fr);
    if (v.isNull()) return;
    std::string bucket;
    appendBucket(v, bucket);
    auto it = s.probeIndex->rows.find(bucket);
    if (it == s.probeIndex->rows.end()) return;
    for (size_t r : it->second)
      if (!visit(r)) return;
  }

  // Sources whose rows an outer join may replace by Nulls.
  void markNullable(const TableRef& r, bool nullable, const Plan& p, std::vector<char>& out) {
    if (r.kind != TableRef::Kind::Join) {
      out[p.leaf.at(&r)] = nullable;
      return;
    }
    markNullable(*r.left, nullable || r.join == JoinKind::Right, p, out);
    markNullable(*r.right, nullable || r.join == JoinKind::Left, p, out);
  }

  using Tuples = std::vector<int32_t>;  // row-major, one entry per source (-1: no row)

  void setRows(Frame& fr, const int32_t* t, const Mats& mats,
               const std::vector<int>& which) {
    for (int s : which) {
      if (t[s] < 0) {
        fr.rows[s] = nullptr;
      } else {
        fr.rows[s] = mats[s]->values.data() + size_t(t[s]) * mats[s]->width;
        fr.ids[s] = mats[s]->ids[t[s]];
      }
    }
  }

  void collectSources(const TableRef& r, const Plan& p, std::vector<int>& out) {
    if (r.kind == TableRef::Kind::Join) {
      collectSources(*r.left, p, out);
      collectSources(*r.right, p, out);
    } else {
      out.push_back(p.leaf.at(&r));
    }
  }

  // What kind of value an expression yields, as far as it can be told without running it:
  // 0 unknown, 1 number or date, 2 text, 3 GUID.
  int family(const Expr& e, const Plan& p) const {
    switch (e.kind) {
      case ExprKind::Column: {
        if (e.param >= 0 || e.output >= 0) return 0;
        ColType type;
        if (e.depth == 0) {
          type = p.sources[e.source].columns[e.column].type;
        } else {
          auto it = outerTypes_.find(&e);
          if (it == outerTypes_.end()) return 0;
          type = it->second;
        }
        switch (type) {
          case ColType::Text: case ColType::Memo: return 2;
          case ColType::Guid: return 3;
          case ColType::Binary: case ColType::OLE: case ColType::Complex: return 0;
          default: return 1;
        }
      }
      case ExprKind::Literal:
        switch (e.value.kind()) {
          case Kind::Null: case Kind::Binary: case Kind::Guid: return 0;
          case Kind::Text: return 2;
          default: return 1;
        }
      case ExprKind::Unary:
        return e.op == Op::Not ? 0 : family(*e.args[0], p) == 1 ? 1 : 0;
      case ExprKind::Binary:
        if (e.op == Op::Concat) return 2;
        if (e.op >= Op::Eq) return 0;
        return family(*e.args[0], p) == 1 && family(*e.args[1], p) == 1 ? 1 : 0;
      default:
        return 0;
    }
  }

  // The sources of this query an expression reads; false when it holds something that
  // must not be evaluated ahead (a subquery, an aggregate, a select-list reference, a
  // field of an enclosing query when `allowOuter` is off).
  static bool sourcesOf(const Expr& e, std::vector<int>& out, bool allowOuter) {
    if (e.sub || e.aggregate >= 0 || e.output >= 0) return false;
    if (e.kind == ExprKind::Column && e.param < 0) {
      if (e.depth > 0) return allowOuter;
      if (std::find(out.begin(), out.end(), e.source) == out.end()) out.push_back(e.source);
    }
    for (const auto& a : e.args)
      if (!sourcesOf(*a, out, allowOuter)) return false;
    return true;
  }

  static bool within(const std::vector<int>& some, const std::vector<int>& all) {
    for (int s : some)
      if (std::find(all.begin(), all.end(), s) == all.end()) return false;
    return true;
  }

  // An equality inside the condition's top-level Ands whose one side reads only left
  // sources and the other only right ones, both of one known kind of value: rows can then
  // be paired by hashing that value. Returns the left and the right expression.
  std::pair<const Expr*, const Expr*> findEquiKey(const Expr* on, const Plan& p, const std::vector<int>& left,
                                                  const std::vector<int>& right) {
    if (!on) return {nullptr, nullptr};
    if (on->kind == ExprKind::Binary && on->op == Op::And) {
      auto k = findEquiKey(on->args[0].get(), p, left, right);
      return k.first ? k : findEquiKey(on->args[1].get(), p, left, right);
    }
    if (on->kind != ExprKind::Binary || on->op != Op::Eq) return {nullptr, nullptr};
    const Expr& a = *on->args[0];
    const Expr& b = *on->args[1];
    int fa = family(a, p);
    if (fa == 0 || fa != family(b, p)) return {nullptr, nullptr};
    std::vector<int> sa, sb;
    if (!sourcesOf(a, sa, true) || !sourcesOf(b, sb, true) || sa.empty() || sb.empty())
      return {nullptr, nullptr};
    if (within(sa, left) && within(sb, right)) return {&a, &b};
    if (within(sa, right) && within(sb, left)) return {&b, &a};
    return {nullptr, nullptr};
  }

  Tuples joinTuples(const TableRef& r, Plan& p, Mats& mats, Frame& fr) {
    const size_t n = p.sources.size();
    if (r.kind != TableRef::Kind::Join) {
      int s = p.leaf.at(&r);
      Tuples out(mats[s]->count() * n, -1);
      for (size_t i = 0; i < mats[s]->count(); ++i) out[i * n + s] = int32_t(i);
      return out;
    }
    std::vector<int> ls, rs;
    collectSources(*r.left, p, ls);
    collectSources(*r.right, p, rs);
    Tuples L = joinTuples(*r.left, p, mats, fr);
    Tuples R = joinTuples(*r.right, p, mats, fr);
    return combine(L, ls, R, rs, r.on.get(), r.join, p, mats, fr);
  }

  // Pairs the rows of two sides that satisfy `on` (all pairs when it is null); Left and
  // Right keep their side's unmatched rows with Nulls for the other side. An equality
  // of two fields, one per side, lets the pairs be found by sorting instead of by trying
  // every pair.
  Tuples combine(const Tuples& L, const std::vector<int>& ls, const Tuples& R,
                 const std::vector<int>& rs, const Expr* on, JoinKind kind, Plan& p,
                 Mats& mats, Frame& fr) {
    const size_t n = p.sources.size();
    size_t nl = L.size() / n, nr = R.size() / n;
    Tuples out;
    std::vector<char> rightMatched(nr, 0);
    auto [lk, rk] = findEquiKey(on, p, ls, rs);
    std::fill(fr.rows.begin(), fr.rows.end(), nullptr);

    auto emit = [&](size_t li, size_t ri) {
      size_t base = out.size();
      out.insert(out.end(), L.begin() + li * n, L.begin() + (li + 1) * n);
      for (int s : rs) out[base + s] = R[ri * n + s];
    };
    auto tryPair = [&](size_t li, size_t ri) {
      setRows(fr, &L[li * n], mats, ls);
      setRows(fr, &R[ri * n], mats, rs);
      if (accepts(on, fr)) {
        emit(li, ri);
        rightMatched[ri] = 1;
        return true;
      }
      return false;
    };

    std::unordered_map<std::string, std::vector<size_t>> buckets;
    std::string bucket;
    // The bucket of one side's key for a row of that side; false when the key is Null.
    auto bucketOf = [&](const Tuples& t, size_t i, const std::vector<int>& side, const Expr* k) {
      std::fill(fr.rows.begin(), fr.rows.end(), nullptr);
      setRows(fr, &t[i * n], mats, side);
      Value v = eval(*k, fr);
      if (v.isNull()) return false;
      bucket.clear();
      appendBucket(v, bucket);
      return true;
    };
    if (lk) {
      for (size_t ri = 0; ri < nr; ++ri)
        if (bucketOf(R, ri, rs, rk)) buckets[bucket].push_back(ri);
    }
    for (size_t li = 0; li < nl; ++li) {
      bool matched = false;
      if (lk) {
        if (bucketOf(L, li, ls, lk)) {
          auto it = buckets.find(bucket);
          if (it != buckets.end())
            for (size_t ri : it->second) matched |= tryPair(li, ri);
        }
      } else {
        for (size_t ri = 0; ri < nr; ++ri) matched |= tryPair(li, ri);
      }
      if (!matched && kind == JoinKind::Left) {
        size_t base = out.size();
        out.insert(out.end(), L.begin() + li * n, L.begin() + (li + 1) * n);
        for (int s : rs) out[base + s] = -1;
      }
    }
    if (kind == JoinKind::Right) {
      for (size_t ri = 0; ri < nr; ++ri) {
        if (rightMatched[ri]) continue;
        size_t base = out.size();
        out.insert(out.end(), R.begin() + ri * n, R.begin() + (ri + 1) * n);
        for (int s : ls) out[base + s] = -1;
      }
    }
    return out;
  }

  // Calls `fn` for every combination of source rows that passes the WHERE clause.
  // `fn` returns false to stop early.
  void forEachRow(Plan& p, const Expr* where, const Frame* parent,
                  const std::function<bool(Frame&)>& fn) {
    Frame fr;
    fr.parent = parent;
    const size_t n = p.sources.size();
    fr.rows.assign(n, nullptr);
    fr.ids.assign(n, RowId{});
    if (n == 0) {
      if (accepts(where, fr)) fn(fr);
      return;
    }
    const auto& from = p.items;
    if (from.size() == 1 && from[0]->kind != TableRef::Kind::Join && !p.correlated) {
      // One table: stream it, reading only the fields the statement uses.
      Source& s = p.sources[0];
      auto cur = openSource(s)->scan();
      std::vector<Value> buf(s.columns.size());
      std::vector<size_t> cols;
      for (size_t c = 0; c < s.columns.size(); ++c)
        if (s.needed[c]) cols.push_back(c);
      fr.rows[0] = buf.data();
      while (cur->next()) {
        for (size_t c : cols) buf[c] = cur->value(c);
        fr.ids[0] = cur->rowId();
        if (!accepts(where, fr)) continue;
        if (!fn(fr)) return;
      }
      return;
    }
    std::vector<const Expr*> conjuncts;
    std::function<void(const Expr*)> split = [&](const Expr* e) {
      if (!e) return;
      if (e->kind == ExprKind::Binary && e->op == Op::And) {
        split(e->args[0].get());
        split(e->args[1].get());
      } else {
        conjuncts.push_back(e);
      }
    };
    split(where);
    // A WHERE condition on one table alone is applied as that table is read (the whole
    // clause is still checked on every combination), unless an outer join may put Nulls
    // in that table's place.
    std::vector<char> nullable(n, 0);
    for (const TableRef* item : from) markNullable(*item, false, p, nullable);
    std::vector<std::vector<const Expr*>> filters(n);
    for (const Expr* c : conjuncts) {
      std::vector<int> ss;
      if (sourcesOf(*c, ss, false) && ss.size() == 1 && !nullable[ss[0]]) filters[ss[0]].push_back(c);
    }
    Mats mats(n);
    for (size_t i = 0; i < n; ++i) {
      mats[i] = materialize(p, i, filters[i], parent);
      if (p.correlated) p.sources[i].kept = mats[i];
    }
    if (p.correlated && from.size() == 1 && from[0]->kind != TableRef::Kind::Join) {
      probeCorrelated(p, conjuncts, *mats[0], fr, where, fn);
      return;
    }
    std::vector<Tuples> items;
    std::vector<std::vector<int>> itemSources(from.size());
    for (size_t k = 0; k < from.size(); ++k) {
      items.push_back(joinTuples(*from[k], p, mats, fr));
      collectSources(*from[k], p, itemSources[k]);
    }
    // Comma-separated tables linked by an equality in the WHERE clause are joined on it
    // (the WHERE clause is still checked in full on every combination).
    for (bool merged = true; merged && items.size() > 1;) {
      merged = false;
      for (size_t a = 0; a < items.size() && !merged; ++a) {
        for (size_t b = a + 1; b < items.size() && !merged; ++b) {
          for (const Expr* c : conjuncts) {
            if (!findEquiKey(c, p, itemSources[a], itemSources[b]).first) continue;
            items[a] = combine(items[a], itemSources[a], items[b], itemSources[b], c, JoinKind::Inner, p, mats, fr);
            itemSources[a].insert(itemSources[a].end(), itemSources[b].begin(), itemSources[b].end());
            items.erase(items.begin() + b);
            itemSources.erase(itemSources.begin() + b);
            merged = true;
            break;
          }
        }
      }
    }
    // Cross product of the comma-separated items, odometer style.
    std::vector<size_t> idx(items.size(), 0);
    for (const auto& t : items)
      if (t.empty()) return;
    while (true) {
      for (size_t k = 0; k < items.size(); ++k) setRows(fr, &items[k][idx[k] * n], mats, itemSources[k]);
      if (accepts(where, fr) && !fn(fr)) return;
      size_t k = items.size();
      while (k > 0) {
        --k;
        if (++idx[k] < items[k].size() / n) break;
        idx[k] = 0;
        if (k == 0) return;
      }
    }
  }

  // SELECT ----------------------------------------------------------------------------
  struct OutRow {
    std::vector<Value> values;
    std::vector<Value> keys;
  };

  void outputValues(const Plan& p, const Frame& fr, OutRow& r) {
    r.values.resize(p.outputs.size());
    for (size_t k = 0; k < p.outputs.size(); ++k) {
      const OutputCol& o = p.outputs[k];
      if (o.expr) {
        r.values[k] = eval(*o.expr, fr);
      } else {
        const Value* row = fr.rows[o.source];
        r.values[k] = row ? row[o.column] : Value();
      }
    }
  }

  void sortKeys(const Select& s, Frame& fr, OutRow& r) {
    fr.outputs = r.values.data();
    r.keys.clear();
    for (const auto& o : s.orderBy) r.keys.push_back(eval(*o.expr, fr));
    fr.outputs = nullptr;
  }

  void accumulate(Agg kind, Accumulator& a, const Expr& call, const Frame& fr) {
    if (call.star) {
      ++a.n;
      return;
    }
    Value v = eval(*call.args[0], fr);
    switch (kind) {
      case Agg::First:
        if (a.n++ == 0) a.v = v;
        return;
      case Agg::Last:
        a.v = v;
        ++a.n;
        return;
      default:
        break;
    }
    if (v.isNull()) return;
    ++a.n;
    switch (kind) {
      case Agg::Count:
        return;
      case Agg::Sum:
      case Agg::Avg:
        a.v = a.has ? applyBinary(BinaryOp::Add, a.v, widenForSum(v)) : widenForSum(v);
        if (!a.has && a.v.kind() == Kind::Text) a.v = Value(toDouble(a.v));
        a.has = true;
        return;
      case Agg::Min:
      case Agg::Max: {
        if (!a.has) {
          a.v = v;
          a.has = true;
          return;
        }
        int c = compareForSort(v, a.v);
        if (kind == Agg::Min ? c < 0 : c > 0) a.v = v;
        return;
      }
      default: {  // variance family (Welford's running mean)
        double x = toDouble(v);
        double delta = x - a.mean;
        a.mean += delta / double(a.n);
        a.m2 += delta * (x - a.mean);
        return;
      }
    }
  }

  Value finish(Agg kind, const Accumulator& a) {
    switch (kind) {
      case Agg::Count: return Value(int32_t(a.n));
      case Agg::Sum: return a.has ? a.v : Value();
      case Agg::Avg: return a.has ? applyBinary(BinaryOp::Div, a.v, Value(int32_t(a.n))) : Value();
      case Agg::Min: case Agg::Max: case Agg::First: case Agg::Last: return a.v;
      case Agg::Var: return a.n < 2 ? Value() : Value(a.m2 / double(a.n - 1));
      case Agg::VarP: return a.n < 1 ? Value() : Value(a.m2 / double(a.n));
      case Agg::StDev: return a.n < 2 ? Value() : Value(std::sqrt(a.m2 / double(a.n - 1)));
      case Agg::StDevP: return a.n < 1 ? Value() : Value(std::sqrt(a.m2 / double(a.n)));
    }
    return Value();
  }

  std::vector<OutRow> runGrouped(Plan& p, const Frame* parent) {
    const Select& s = *p.select;
    struct Group {
      std::vector<Value> key;                // the grouped fields' values
      std::vector<std::vector<Value>> rows;  // copy of the first row of each source
      std::vector<char> present;
      std::vector<Accumulator> accs;
    };
    std::vector<Group> groups;
    RowIndex index;
    std::vector<Agg> kinds;
    for (const Expr* a : p.aggregates) kinds.push_back(*aggregateKind(a->name));
    std::vector<Value> key;
    forEachRow(p, s.where.get(), parent, [&](Frame& fr) {
      key.clear();
      for (const auto& g : s.groupBy) key.push_back(eval(*g, fr));
      auto [number, fresh] = index.find(key);
      if (fresh) {
        Group g;
        g.key = key;
        g.rows.resize(p.sources.size());
        g.present.resize(p.sources.size());
        for (size_t i = 0; i < p.sources.size(); ++i) {
          if (!fr.rows[i]) continue;
          g.present[i] = 1;
          g.rows[i].assign(fr.rows[i], fr.rows[i] + p.sources[i].columns.size());
        }
        g.accs.resize(p.aggregates.size());
        groups.push_back(std::move(g));
      }
      Group& g = groups[number];
      for (size_t k = 0; k < p.aggregates.size(); ++k) accumulate(kinds[k], g.accs[k], *p.aggregates[k], fr);
      return true;
    });
    // Aggregates over no groups at all still give one row (Count 0, Sum Null).
    if (groups.empty() && s.groupBy.empty()) {
      Group g;
      g.rows.resize(p.sources.size());
      g.present.assign(p.sources.size(), 0);
      g.accs.resize(p.aggregates.size());
      groups.push_back(std::move(g));
    }
    // Jet forms groups by sorting on the grouped fields, so without an ORDER BY the groups
    // come out in ascending order of those fields.
    std::stable_sort(groups.begin(), groups.end(), [](const Group& a, const Group& b) {
      for (size_t i = 0; i < a.key.size() && i < b.key.size(); ++i)
        if (int c = compareForSort(a.key[i], b.key[i])) return c < 0;
      return false;
    });
    std::vector<OutRow> out;
    Frame fr;
    fr.parent = parent;
    fr.rows.assign(p.sources.size(), nullptr);
    std::vector<Value> aggValues(p.aggregates.size());
    for (Group& g : groups) {
      for (size_t i = 0; i < p.sources.size(); ++i) fr.rows[i] = g.present[i] ? g.rows[i].data() : nullptr;
      for (size_t k = 0; k < p.aggregates.size(); ++k) aggValues[k] = finish(kinds[k], g.accs[k]);
      fr.aggs = aggValues.data();
      OutRow r;
      outputValues(p, fr, r);
      fr.outputs = r.values.data();
      bool keep = accepts(s.having.get(), fr);
      fr.outputs = nullptr;
      if (!keep) continue;
      sortKeys(s, fr, r);
      out.push_back(std::move(r));
    }
    return out;
  }

  void distinctRows(std::vector<OutRow>& rows) {
    RowIndex seen;
    std::vector<OutRow> kept;
    for (auto& r : rows)
      if (seen.find(r.values).second) kept.push_back(std::move(r));
    rows = std::move(kept);
  }

  void orderRows(const Select& s, std::vector<OutRow>& rows) {
    if (s.orderBy.empty()) return;
    std::stable_sort(rows.begin(), rows.end(), [&](const OutRow& a, const OutRow& b) {
      for (size_t k = 0; k < s.orderBy.size(); ++k) {
        int c = compareForSort(a.keys[k], b.keys[k]);
        if (c != 0) return s.orderBy[k].descending ? c > 0 : c < 0;
      }
      return false;
    });
  }

  // TOP n keeps the rows that tie with the last one on the sort keys.
  void applyTop(const Select& s, std::vector<OutRow>& rows) {
    if (!s.top) return;
    size_t n = s.topPercent ? size_t(std::ceil(double(rows.size()) * *s.top / 100.0))
                            : size_t(*s.top);
    if (n >= rows.size()) return;
    if (!s.orderBy.empty() && n > 0) {
      auto equalKeys = [](const OutRow& a, const OutRow& b) {
        for (size_t k = 0; k < a.keys.size(); ++k)
          if (compareForSort(a.keys[k], b.keys[k]) != 0) return false;
        return true;
      };
      while (n < rows.size() && equalKeys(rows[n], rows[n - 1])) ++n;
    }
    rows.resize(n);
  }

  std::vector<OutRow> runCore(Plan& p, const Frame* parent, size_t limit) {
    const Select& s = *p.select;
    if (p.aggregateQuery) return runGrouped(p, parent);
    std::vector<OutRow> out;
    bool canStop = limit > 0 && !s.distinct && s.orderBy.empty();
    forEachRow(p, s.where.get(), parent, [&](Frame& fr) {
      OutRow r;
      outputValues(p, fr, r);
      if (s.unions.empty()) sortKeys(s, fr, r);
      out.push_back(std::move(r));
      return !(canStop && out.size() >= limit);
    });
    return out;
  }

  std::vector<std::vector<Value>> run(Plan& p, const Frame* parent, size_t limit) {
    const Select& s = *p.select;
    std::vector<OutRow> rows = runCore(p, parent, s.unions.empty() ? limit : 0);
    if (!s.unions.empty()) {
      bool dedupe = false;
      for (size_t k = 0; k < p.unionParts.size(); ++k) {
        auto more = runCore(*p.unionParts[k], parent, 0);
        if (p.unionParts[k]->select->distinct) distinctRows(more);
        applyTop(*p.unionParts[k]->select, more);
        for (auto& r : more) rows.push_back(std::move(r));
        if (!s.unions[k].all) dedupe = true;
      }
      if (dedupe) distinctRows(rows);
      Frame fr;
      fr.parent = parent;
      for (auto& r : rows) sortKeys(s, fr, r);
      orderRows(s, rows);
    } else {
      if (s.distinct) distinctRows(rows);
      orderRows(s, rows);
      applyTop(s, rows);
    }
    std::vector<std::vector<Value>> out;
    out.reserve(rows.size());
    for (auto& r : rows) out.push_back(std::move(r.values));
    return out;
  }

 public:
  // Result column types: a plain field keeps its own; an expression takes the kind of its
  // first non-Null value.
  static std::vector<SourceColumn> resultColumns(const Plan& p, const std::vector<std::vector<Value>>& rows) {
    std::vector<SourceColumn> cols;
    for (size_t k = 0; k < p.outputs.size(); ++k) {
      SourceColumn c = p.outputs[k].colDef;
      c.autoNumber = false;
      if (!p.outputs[k].typed) {
        c.type = ColType::Text;
        c.maxLength = 255;
        for (const auto& r : rows) {
          if (r[k].isNull()) continue;
          switch (r[k].kind()) {
            case Kind::Bool: c.type = ColType::Bool; break;
            case Kind::Byte: c.type = ColType::Byte; break;
            case Kind::Integer: c.type = ColType::Integer; break;
            case Kind::Long: c.type = ColType::Long; break;
            case Kind::Currency: c.type = ColType::Currency; break;
            case Kind::Single: c.type = ColType::Single; break;
            case Kind::Double: c.type = ColType::Double; break;
            case Kind::DateTime: c.type = ColType::DateTime; break;
            case Kind::Text: c.type = r[k].as<std::u16string>().size() > 255 ? ColType::Memo : ColType::Text; break;
            case Kind::Binary: c.type = ColType::OLE; break;
            case Kind::Guid: c.type = ColType::Guid; break;
            case Kind::Decimal: c.type = ColType::Decimal; break;
            default: break;
          }
          break;
        }
      }
      cols.push_back(c);
    }
    return cols;
  }

 private:
  // Actions ---------------------------------------------------------------------------
  ActionPlan update(const UpdateStmt& u);
  ActionPlan remove(const DeleteStmt& d);
  ActionPlan insert(const InsertStmt& ins);
  ActionPlan selectInto(const Select& s);
  ActionPlan definition();
  void bindStatement();
  Plan* root_ = nullptr;

};

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

std::vector<std::u16string> Executor::bindOnly() {
  bindStatement();
  return paramNames_;
}

ResultSet Executor::select() {
  bindStatement();
  resolveParams();
  ResultSet rs;
  rs.rows = run(*root_, nullptr, 0);
  rs.columns = resultColumns(*root_, rs.rows);
  return rs;
}

ActionPlan Executor::update(const UpdateStmt& u) {
  Plan& p = *root_;
  ActionPlan plan;
  plan.kind = StatementKind::Update;
  // One change set per updated table, in the order the tables are first assigned.
  std::vector<int> tableOf(p.sources.size(), -1);
  for (const auto& a : u.sets) {
    int s = a.target->source;
    if (tableOf[s] < 0) {
      tableOf[s] = int(plan.changes.size());
      TableChange ch;
      ch.table = p.sources[s].table->name();
      plan.changes.push_back(std::move(ch));
    }
    auto& cols = plan.changes[tableOf[s]].columns;
    if (std::find(cols.begin(), cols.end(), a.target->column) == cols.end())
      cols.push_back(a.target->column);
  }
  std::vector<std::set<uint64_t>> seen(p.sources.size());
  bool single = p.sources.size() == 1;
  forEachRow(p, u.where.get(), nullptr, [&](Frame& fr) {
      bool counted = false;
      // Every value is computed from the row as it was before this statement.
      std::vector<std::pair<const Assignment*, Value>> computed;
      computed.reserve(u.sets.size());
      for (const auto& a : u.sets) computed.emplace_back(&a, eval(*a.value, fr));
      for (size_t s = 0; s < p.sources.size(); ++s) {
        if (tableOf[s] < 0 || !fr.rows[s]) continue;
        if (!single && !seen[s].insert(rowKey(fr.ids[s])).second) continue;
        TableChange& ch = plan.changes[tableOf[s]];
        TableChange::Update up;
        up.row = fr.ids[s];
        up.values.resize(ch.columns.size());
        for (size_t k = 0; k < ch.columns.size(); ++k) up.values[k] = fr.rows[s][ch.columns[k]];
        for (const auto& [a, v] : computed) {
          if (a->target->source != int(s)) continue;
          size_t k = std::find(ch.columns.begin(), ch.columns.end(), a->target->column) - ch.columns.begin();
          const SourceColumn& col = p.sources[s].columns[a->target->column];
          up.values[k] = coerceToColumn(v, col.type, col.maxLength, col.precision, col.scale);
        }
        ch.updates.push_back(std::move(up));
        counted = true;
      }
      if (counted) ++plan.recordsAffected;
      return true;
    });
  return plan;
}

ActionPlan Executor::remove(const DeleteStmt& d) {
  Plan& p = *root_;
  std::vector<int> targets;
  for (const auto& t : d.targets) {
    int found = -1;
    for (size_t i = 0; i < p.sources.size(); ++i)
      if (namesEqual(p.sources[i].refName, t)) found = int(i);
    if (found < 0)
      throw JetError(3078, "DELETE names " + quoted(t) + ".*, but the FROM clause has no table called " +
                               quoted(t) + ".");
    targets.push_back(found);
  }
  if (targets.empty()) {
    if (p.sources.size() != 1)
      throw JetError(3128, "The DELETE reads several tables: name the one to delete from (DELETE t.* FROM ...).");
    targets.push_back(0);
  }
  for (int t : targets)
    if (p.sources[t].derived)
      throw JetError(3086, "Records cannot be deleted from the subquery " + quoted(p.sources[t].refName) + ".");
  ActionPlan plan;
  plan.kind = StatementKind::Delete;
  for (int t : targets) {
    TableChange ch;
    ch.table = p.sources[t].table->name();
    plan.changes.push_back(std::move(ch));
  }
  std::vector<std::set<uint64_t>> seen(targets.size());
  bool single = p.sources.size() == 1;
  forEachRow(p, d.where.get(), nullptr, [&](Frame& fr) {
    for (size_t k = 0; k < targets.size(); ++k) {
      int s = targets[k];
      if (!fr.rows[s]) continue;
      if (!single && !seen[k].insert(rowKey(fr.ids[s])).second) continue;
      plan.changes[k].deletes.push_back(fr.ids[s]);
      ++plan.recordsAffected;
    }
    return true;
  });
  return plan;
}

ActionPlan Executor::insert(const InsertStmt& ins) {
  auto table = lookupTable(ins.table);
  const auto& cols = table->columns();
  ActionPlan plan;
  plan.kind = StatementKind::Insert;
  TableChange ch;
  ch.table = table->name();
  auto columnOf = [&](const std::u16string& name) {
    int c = findColumn(cols, name);
    if (c < 0)
      throw JetError(3127, "The INSERT INTO names the field " + quoted(name) + ", which table " +
                               quoted(table->name()) + " does not have.");
    if (std::find(ch.columns.begin(), ch.columns.end(), c) != ch.columns.end())
      throw JetError(3134, "The INSERT INTO names the field " + quoted(name) + " twice.");
    return c;
  };
  for (const auto& c : ins.columns) ch.columns.push_back(columnOf(c));

  std::vector<std::vector<Value>> rows;
  if (!ins.select) {
    if (ins.columns.empty()) {
      if (ins.values.size() > cols.size())
        throw JetError(3346, "The INSERT INTO gives " + std::to_string(ins.values.size()) +
                                 " values, but table " + quoted(table->name()) + " has only " +
                                 std::to_string(cols.size()) + " fields.");
      for (size_t k = 0; k < ins.values.size(); ++k) ch.columns.push_back(int(k));
    } else if (ins.values.size() != ch.columns.size()) {
      throw JetError(3346, "The INSERT INTO names " + std::to_string(ch.columns.size()) +
                               " fields but gives " + std::to_string(ins.values.size()) + " values.");
    }
    Frame fr;
    std::vector<Value> row;
    for (const auto& v : ins.values) row.push_back(eval(*v, fr));
    rows.push_back(std::move(row));
  } else {
    Plan& sp = *planOf_.at(ins.select.get());
    if (ins.columns.empty()) {
      // Without a field list the SELECT's fields go to the fields of the same names.
      for (const auto& o : sp.outputs) {
        std::u16string name = o.colDef.name;
        size_t dot = name.find(u'.');
        if (!o.explicitAlias && dot != std::u16string::npos) name = name.substr(dot + 1);
        ch.columns.push_back(columnOf(name));
      }
    } else if (sp.outputs.size() != ch.columns.size()) {
      throw JetError(3346, "The INSERT INTO names " + std::to_string(ch.columns.size()) +
                               " fields but its SELECT returns " + std::to_string(sp.outputs.size()) + ".");
    }
    rows = run(sp, nullptr, 0);
  }
  for (auto& row : rows) {
    for (size_t k = 0; k < row.size(); ++k) {
      const SourceColumn& col = cols[ch.columns[k]];
      row[k] = coerceToColumn(row[k], col.type, col.maxLength, col.precision, col.scale);
    }
    ch.inserts.push_back(std::move(row));
  }
  plan.recordsAffected = int64_t(ch.inserts.size());
  plan.changes.push_back(std::move(ch));
  return plan;
}

ActionPlan Executor::selectInto(const Select& s) {
  if (catalog_.findTable(s.into) || catalog_.hasOtherObject(s.into))
    throw JetError(3010, "A table or query named " + quoted(s.into) + " already exists.");
  ActionPlan plan;
  plan.kind = StatementKind::Select;
  auto rows = run(*root_, nullptr, 0);
  plan.createTable = s.into;
  plan.createColumns = resultColumns(*root_, rows);
  for (size_t i = 0; i < plan.createColumns.size(); ++i)
    for (size_t j = 0; j < i; ++j)
      if (namesEqual(plan.createColumns[i].name, plan.createColumns[j].name))
        throw JetError(3191, "The new table would have the field " +
                                 quoted(plan.createColumns[i].name) + " twice; rename one with AS.");
  TableChange ch;
  ch.table = s.into;
  for (size_t k = 0; k < plan.createColumns.size(); ++k) ch.columns.push_back(int(k));
  ch.inserts = std::move(rows);
  plan.recordsAffected = int64_t(ch.inserts.size());
  plan.changes.push_back(std::move(ch));
  return plan;
}

ActionPlan Executor::definition() {
  ActionPlan plan;
  plan.kind = st_.kind();
  auto mustExist = [&](const std::u16string& name) { lookupTable(name); };
  std::visit(
      [&](const auto& b) {
        using T = std::decay_t<decltype(b)>;
        if constexpr (std::is_same_v<T, CreateTableStmt>) {
          if (catalog_.findTable(b.table) || catalog_.hasOtherObject(b.table))
            throw JetError(3010, "A table or query named " + quoted(b.table) + " already exists.");
          for (size_t i = 0; i < b.fields.size(); ++i)
            for (size_t j = 0; j < i; ++j)
              if (namesEqual(b.fields[i].name, b.fields[j].name))
                throw JetError(3191, "CREATE TABLE defines the field " + quoted(b.fields[i].name) + " twice.");
        } else if constexpr (std::is_same_v<T, DropTableStmt>) {
          if (!catalog_.findTable(b.table))
            throw JetError(3376, "There is no table named " + quoted(b.table) + " to drop.");
        } else if constexpr (std::is_same_v<T, CreateIndexStmt> || std::is_same_v<T, DropIndexStmt> ||
                             std::is_same_v<T, AlterTableStmt>) {
          mustExist(b.table);
        }
      },
      st_.body);
  return plan;
}

ActionPlan Executor::action() {
  switch (st_.kind()) {
    case StatementKind::Select: {
      const Select& s = *std::get<SelectStmt>(st_.body).select;
      if (s.into.empty())
        throw JetError(3065, "A SELECT returns rows and changes nothing: it cannot be executed as "
                             "an action (use it as a query, or add INTO to make a table).");
      bindStatement();
      resolveParams();
      return selectInto(s);
    }
    case StatementKind::Update:
      bindStatement();
      resolveParams();
      return update(std::get<UpdateStmt>(st_.body));
    case StatementKind::Delete:
      bindStatement();
      resolveParams();
      return remove(std::get<DeleteStmt>(st_.body));
    case StatementKind::Insert:
      bindStatement();
      resolveParams();
      return insert(std::get<InsertStmt>(st_.body));
    default:
      return definition();
  }
}

}  // namespace

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

}  // namespace bv::sql
