// SELECT: output rows produced, combined with UNION, and result column types.
#include "engine/sql/query_executor.h"

#include <algorithm>
#include <cmath>

namespace bv::sql::query {

void Executor::outputValues(const Plan& p, const Frame& fr, OutRow& r) {
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

void Executor::sortKeys(const Select& s, Frame& fr, OutRow& r) {
  fr.outputs = r.values.data();
  r.keys.clear();
  for (const auto& o : s.orderBy) r.keys.push_back(eval(*o.expr, fr));
  fr.outputs = nullptr;
}

namespace {

// Whether an expression reads the select list's values (an ORDER BY naming an output, or
// a subquery, which might).
bool readsOutputs(const Expr& e) {
  if (e.output >= 0 || e.sub) return true;
  for (const auto& a : e.args)
    if (a && readsOutputs(*a)) return true;
  return false;
}

}  // namespace

// Memory stays in proportion to what the statement returns: DISTINCT drops repeats as
// rows come, TOP n without ORDER BY stops after n rows, and TOP n with ORDER BY keeps the
// best n (and their ties) seen so far, so a join feeding them is never held whole.
std::vector<Executor::OutRow> Executor::runCore(Plan& p, const Frame* parent, size_t limit) {
  const Select& s = *p.select;
  if (p.aggregateQuery) return runGrouped(p, parent);
  std::vector<OutRow> out;
  const bool own = s.unions.empty();  // a UNION's parts are combined before its clauses
  size_t top = own && s.top && !s.topPercent ? size_t(*s.top) : 0;
  size_t stopAt = 0;  // rows after which nothing more is needed
  if (own && s.orderBy.empty()) stopAt = top && limit ? std::min(top, limit) : std::max(top, limit);
  size_t keepBest = own && !s.orderBy.empty() ? top : 0;
  size_t pruneAt = keepBest ? std::max<size_t>(2 * keepBest, keepBest + 1024) : 0;
  RowIndex seen;
  OutRow r;
  // Once rows were cut to the best n, the sort keys of the n-th: a row that sorts after it
  // can never be among the best and is dropped at once.
  std::vector<Value> threshold;
  // The order of two values of sort key k.
  auto keyOrder = [&](size_t k, const Value& a, const Value& b) {
    const int c = compareForSort(a, b);
    return s.orderBy[k].descending ? -c : c;
  };
  auto compareKeys = [&](const std::vector<Value>& a, const std::vector<Value>& b) {
    for (size_t k = 0; k < a.size(); ++k)
      if (int c = keyOrder(k, a[k], b[k])) return c;
    return 0;
  };
  // Keeping the best n: the sort keys come first, so that a row past the threshold costs
  // no output values.
  bool keysFirst = keepBest && !s.distinct;
  for (const auto& o : s.orderBy) keysFirst = keysFirst && !readsOutputs(*o.expr);
  forEachRow(p, s.where.get(), parent, [&](Frame& fr) {
    if (keysFirst) {
      // Key by key against the threshold: a row already worse on its first key is dropped
      // without working out the others.
      r.keys.clear();
      bool decided = threshold.empty();
      for (size_t k = 0; k < s.orderBy.size(); ++k) {
        r.keys.push_back(eval(*s.orderBy[k].expr, fr));
        if (decided) continue;
        const int c = keyOrder(k, r.keys.back(), threshold[k]);
        if (c > 0) return true;
        decided = c < 0;
      }
      outputValues(p, fr, r);  // better than the n-th, or tied with it (ties are kept)
    } else {
      outputValues(p, fr, r);
      if (own && s.distinct && !seen.find(r.values).second) return true;
      if (own) sortKeys(s, fr, r);
      if (!threshold.empty() && compareKeys(r.keys, threshold) > 0) return true;
    }
    out.push_back(std::move(r));
    r = OutRow();
    if (keepBest && p.ordered && out.size() > keepBest) {
      // Rows come sorted: once one no longer ties with the last kept, the rest cannot.
      const auto& a = out[keepBest - 1].keys;
      const auto& b = out.back().keys;
      for (size_t k = 0; k < a.size(); ++k) {
        if (compareForSort(a[k], b[k]) != 0) {
          out.pop_back();
          return false;
        }
      }
    }
    if (keepBest && out.size() >= pruneAt) {
      orderRows(s, out);
      cutTop(s, out, keepBest);
      if (out.size() >= keepBest) threshold = out[keepBest - 1].keys;
      pruneAt = std::max(pruneAt, 2 * out.size());
    }
    return !(stopAt && out.size() >= stopAt);
  });
  return out;
}

std::vector<std::vector<Value>> Executor::run(Plan& p, const Frame* parent, size_t limit) {
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
    orderRows(s, rows);
    applyTop(s, rows);
  }
  std::vector<std::vector<Value>> out;
  out.reserve(rows.size());
  for (auto& r : rows) out.push_back(std::move(r.values));
  return out;
}

namespace {

size_t longestText(const std::vector<std::vector<Value>>& rows, size_t k) {
  size_t n = 0;
  for (const auto& r : rows)
    if (r[k].kind() == Kind::Text) n = std::max(n, r[k].as<std::u16string>().size());
  return n;
}

}  // namespace

// Result column types: a plain field keeps its own; an expression takes the kind of its
// first non-Null value (text becomes Memo when any value is longer than 255 characters).
std::vector<SourceColumn> Executor::resultColumns(const Plan& p, const std::vector<std::vector<Value>>& rows) {
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
          case Kind::Text: c.type = longestText(rows, k) > 255 ? ColType::Memo : ColType::Text; break;
          case Kind::Binary: c.type = ColType::OLE; break;
          case Kind::Guid: c.type = ColType::Guid; break;
          case Kind::Decimal:
            // Room for every value: the widest precision, the largest scale met.
            c.type = ColType::Decimal;
            c.precision = 28;
            c.scale = 0;
            for (const auto& other : rows)
              if (const Decimal* d = other[k].get<Decimal>()) c.scale = std::max(c.scale, d->scale);
            break;
          default: break;
        }
        break;
      }
    }
    cols.push_back(c);
  }
  return cols;
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

}  // namespace bv::sql::query
