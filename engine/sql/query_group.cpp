// Grouping and aggregate functions.
#include "engine/sql/query_executor.h"

#include <algorithm>
#include <cmath>

namespace bv::sql::query {

void Executor::accumulate(Agg kind, Accumulator& a, const Expr& call, const Frame& fr) {
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

Value Executor::finish(Agg kind, const Accumulator& a) {
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

std::vector<Executor::OutRow> Executor::runGrouped(Plan& p, const Frame* parent) {
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
        g.rows[i].assign(fr.rows[i], fr.rows[i] + p.sources[i].width());
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

}  // namespace bv::sql::query
