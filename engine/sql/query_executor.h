// The executor of one statement: what binding learns about each SELECT (its sources,
// outputs and aggregates), the frames rows are evaluated in, and the class whose parts
// live in the query_*.cpp files (binding, evaluation, row production and joins, grouping,
// ordering, subqueries) and action_plan.cpp (the changes of action statements).
// Internal to engine/sql.
#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <unordered_map>
#include <utility>
#include <vector>

#include "engine/sql/conv_value.h"
#include "engine/sql/exec.h"
#include "engine/sql/in_set.h"
#include "engine/sql/lexer.h"
#include "engine/sql/row_keys.h"
#include "engine/sql/value_ops.h"
#include "engine/storage/error.h"

namespace bv::sql::query {

enum class Agg { Count, Sum, Avg, Min, Max, First, Last, StDev, StDevP, Var, VarP };

inline std::optional<Agg> aggregateKind(std::u16string_view n) {
  static const std::pair<std::u16string_view, Agg> names[] = {
      {u"Count", Agg::Count}, {u"Sum", Agg::Sum},     {u"Avg", Agg::Avg},
      {u"Min", Agg::Min},     {u"Max", Agg::Max},     {u"First", Agg::First},
      {u"Last", Agg::Last},   {u"StDev", Agg::StDev}, {u"StDevP", Agg::StDevP},
      {u"Var", Agg::Var},     {u"VarP", Agg::VarP}};
  for (const auto& [name, kind] : names)
    if (equalsNoCase(n, name)) return kind;
  return std::nullopt;
}

inline BinaryOp toBinary(Op op) {
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

inline UnaryOp toUnary(Op op) {
  return op == Op::Neg ? UnaryOp::Neg : op == Op::Not ? UnaryOp::Not : UnaryOp::Plus;
}

inline std::string quoted(std::u16string_view s) { return "'" + toUtf8(s) + "'"; }

inline uint64_t rowKey(RowId id) { return (uint64_t(id.page) << 8) | id.row; }

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
  // Values held per row: up to the last needed column (rows in memory are addressed by
  // column position, and the columns past it are never read); at least one, so that a
  // row present is never a null pointer, even for a table without columns.
  size_t width() const {
    size_t w = 1;
    for (size_t c = 0; c < needed.size(); ++c)
      if (needed[c]) w = c + 1;
    return w;
  }
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
  bool ordered = false;  // its one table is read in ORDER BY order
};

// How the rows of one source are reached.
struct AccessPath {
  int index = -1;                // position in TableSource::indexes(); -1 reads the table
  std::vector<KeyRange> ranges;  // the entries to visit; all of them when empty
  bool none = false;             // the conditions leave no row (IN of Nulls only)
  bool ordered = false;          // rows come in the query's ORDER BY order
  std::string text;              // for a printed plan
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

inline Value widenForSum(const Value& v) {
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
  std::string explain();

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
  // The values of an uncorrelated IN subquery: hashed, and sorted for values of another
  // family than the set's; whether one of them was Null.
  struct InValues {
    std::optional<InSet> hashed;
    std::vector<Value> sorted;
    bool sawNull = false;
  };
  std::unordered_map<const Expr*, InValues> inCache_;
  std::unordered_map<const Expr*, ColType> outerTypes_;  // fields of enclosing queries

  std::string textOf(const Expr& e) const;

  // Parameters ------------------------------------------------------------------------
  int paramIndex(const std::u16string& name, std::optional<ColType> type = std::nullopt);

  void resolveParams();

  // Binding ---------------------------------------------------------------------------
  Plan& newPlan();

  std::shared_ptr<const TableSource> lookupTable(const std::u16string& name);

  void addSources(Plan& p, const TableRef& r);

  static int findColumn(const std::vector<SourceColumn>& cols, std::u16string_view name);

  // The source and column a (possibly qualified) name stands for in one query's FROM list.
  static bool lookupField(const Plan& p, const Expr& e, int& found, int& col);

  void resolveColumn(const Expr& e, const Scope* scope);

  enum AggContext { NoAggregates, AggregatesAllowed, InsideAggregate };

  void bindExpr(const Expr& e, const Scope& sc, AggContext agg, const char* clause);

  static bool containsAggregate(const Expr& e);

  static bool sameExpr(const Expr& a, const Expr& b);

  // In a grouped query every field outside an aggregate must be one of the groups.
  void checkGrouped(const Expr& e, const Plan& p);

  std::u16string outputName(const Expr& e, const Plan& p, int& exprCounter);

  void bindJoinConditions(const TableRef& r, const Scope& sc);

  Plan& bindSelect(const Select& s, const Scope* outer);

  // Evaluation ------------------------------------------------------------------------
  Value eval(const Expr& e, const Frame& f);

  // An IN list of constants (literals and parameters) becomes a set on first use.
  static bool isConstant(const Expr& e);
  const InSet* constantSet(const Expr& e, const Frame& f);
  std::unordered_map<const Expr*, std::unique_ptr<InSet>> inSets_;

  bool accepts(const Expr* cond, const Frame& f) { return !cond || isTrue(eval(*cond, f)); }

  // Rows of a subquery; uncorrelated ones run once. `limit` caps the rows needed.
  const std::vector<std::vector<Value>>& subqueryRows(const Select& s, const Frame& f,
                                                      size_t limit);
  std::vector<std::vector<std::vector<Value>>> scratch_;

  Value inSubquery(const Expr& e, const Frame& f);

  // Access paths ------------------------------------------------------------------------
  AccessPath accessPath(Plan& p, size_t source, const std::vector<const Expr*>& conjuncts,
                        bool wantOrder);
  std::unique_ptr<RowCursor> openPath(Source& s, const AccessPath& a);
  static void splitAnd(const Expr* e, std::vector<const Expr*>& out);
  static bool streamsOneTable(const Plan& p);
  static bool wantsOrder(const Plan& p);
  std::vector<std::vector<const Expr*>> sourceFilters(const Plan& p,
                                                      const std::vector<const Expr*>& conjuncts);
  static std::vector<uint8_t> keyPart(const SourceIndex& ix, const SourceColumn& col, const Value& v);

  // Row production --------------------------------------------------------------------
  std::shared_ptr<const TableSource> openSource(Source& s);

  // A source being read into memory, row by row as far as needed.
  struct SourceReader {
    size_t source = 0;
    std::vector<const Expr*> filters;
    std::unique_ptr<RowCursor> cursor;  // null at the end
    std::shared_ptr<Materialized> rows;
    Frame frame;
  };
  SourceReader startReading(Plan& p, size_t index, const std::vector<const Expr*>& filters,
                            const Frame* parent);
  bool readOne(Plan& p, SourceReader& r);

  // Reads source `index` into memory, keeping only the rows that pass `filters` (WHERE
  // conditions on this source alone).
  std::shared_ptr<const Materialized> materialize(Plan& p, size_t index,
                                                  const std::vector<const Expr*>& filters,
                                                  const Frame* parent);

  // A correlated subquery over one table, run once per row of the enclosing query. An
  // equality between a field of its table and a value of the enclosing row picks the
  // candidate rows from an index built on the first run; otherwise every row is tried.
  void probeCorrelated(Plan& p, const std::vector<const Expr*>& conjuncts, const Materialized& m,
                       Frame& fr, const Expr* where, const std::function<bool(Frame&)>& fn);

  // Sources whose rows an outer join may replace by Nulls.
  void markNullable(const TableRef& r, bool nullable, const Plan& p, std::vector<char>& out);

  using Tuples = std::vector<int32_t>;  // row-major, one entry per source (-1: no row)

  void setRows(Frame& fr, const int32_t* t, const Mats& mats,
               const std::vector<int>& which);

  void collectSources(const TableRef& r, const Plan& p, std::vector<int>& out);

  // What kind of value an expression yields, as far as it can be told without running it:
  // 0 unknown, 1 number or date, 2 text, 3 GUID.
  int family(const Expr& e, const Plan& p) const;

  // The sources of this query an expression reads; false when it holds something that
  // must not be evaluated ahead (a subquery, an aggregate, a select-list reference, a
  // field of an enclosing query when `allowOuter` is off).
  static bool sourcesOf(const Expr& e, std::vector<int>& out, bool allowOuter);

  static bool within(const std::vector<int>& some, const std::vector<int>& all);

  // An equality inside the condition's top-level Ands whose one side reads only left
  // sources and the other only right ones, both of one known kind of value: rows can then
  // be paired by hashing that value. Returns the left and the right expression.
  std::pair<const Expr*, const Expr*> findEquiKey(const Expr* on, const Plan& p, const std::vector<int>& left,
                                                  const std::vector<int>& right);

  Tuples joinTuples(const TableRef& r, Plan& p, Mats& mats, Frame& fr);
  bool streamJoin(const TableRef& r, Plan& p, Mats& mats, Frame& fr,
                  const std::function<bool(const int32_t*)>& emit);

  // Pairs the rows of two sides that satisfy `on` (all pairs when it is null); Left and
  // Right keep their side's unmatched rows with Nulls for the other side. An equality
  // of two fields, one per side, lets the pairs be found by sorting instead of by trying
  // every pair.
  Tuples combine(const Tuples& L, const std::vector<int>& ls, const Tuples& R,
                 const std::vector<int>& rs, const Expr* on, JoinKind kind, Plan& p,
                 Mats& mats, Frame& fr);

  // Calls `fn` for every combination of source rows that passes the WHERE clause.
  // `fn` returns false to stop early.
  void forEachRow(Plan& p, const Expr* where, const Frame* parent,
                  const std::function<bool(Frame&)>& fn);

  // SELECT ----------------------------------------------------------------------------
  struct OutRow {
    std::vector<Value> values;
    std::vector<Value> keys;
  };

  void outputValues(const Plan& p, const Frame& fr, OutRow& r);

  void sortKeys(const Select& s, Frame& fr, OutRow& r);

  void accumulate(Agg kind, Accumulator& a, const Expr& call, const Frame& fr);

  Value finish(Agg kind, const Accumulator& a);

  std::vector<OutRow> runGrouped(Plan& p, const Frame* parent);

  void distinctRows(std::vector<OutRow>& rows);

  void orderRows(const Select& s, std::vector<OutRow>& rows);

  // TOP n keeps the rows that tie with the last one on the sort keys.
  void applyTop(const Select& s, std::vector<OutRow>& rows);
  void cutTop(const Select& s, std::vector<OutRow>& rows, size_t n);

  std::vector<OutRow> runCore(Plan& p, const Frame* parent, size_t limit);

  std::vector<std::vector<Value>> run(Plan& p, const Frame* parent, size_t limit);

 public:
  // Result column types: a plain field keeps its own; an expression takes the kind of its
  // first non-Null value.
  static std::vector<SourceColumn> resultColumns(const Plan& p, const std::vector<std::vector<Value>>& rows);

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

}  // namespace bv::sql::query
