// Subqueries: rows cached when uncorrelated, IN looked up in sorted values, correlated ones probed by the compared field.
#include "engine/sql/query_executor.h"

#include <algorithm>

namespace bv::sql::query {

// Rows of a subquery; uncorrelated ones run once. `limit` caps the rows needed.
const std::vector<std::vector<Value>>& Executor::subqueryRows(const Select& s, const Frame& f,
                                                    size_t limit) {
  Plan& p = *planOf_.at(&s);
  auto it = subCache_.find(&s);
  if (it != subCache_.end()) return it->second;
  if (!p.correlated) {
    // Kept only once it ran to the end: a subquery that failed fails again when asked again.
    auto rows = run(p, &f, 0);
    return subCache_.emplace(&s, std::move(rows)).first->second;
  }
  scratch_.push_back(run(p, &f, limit));
  if (scratch_.size() > 64) scratch_.erase(scratch_.begin(), scratch_.end() - 1);
  return scratch_.back();
}

Value Executor::inSubquery(const Expr& e, const Frame& f) {
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
    InValues set;
    for (const auto& r : rows) {
      if (r[0].isNull()) set.sawNull = true;
      else set.sorted.push_back(r[0]);
    }
    set.hashed.emplace(set.sorted);
    std::sort(set.sorted.begin(), set.sorted.end(),
              [](const Value& a, const Value& b) { return compareForSort(a, b) < 0; });
    it = inCache_.emplace(&e, std::move(set)).first;
  }
  if (v.isNull()) return Value();
  const InValues& set = it->second;
  // A value of the set's family is looked up in its hash, once per row.
  if (set.hashed->hashes(v)) {
    Value r = set.hashed->contains(v);
    return r.kind() == Kind::Bool && !r.as<bool>() && set.sawNull ? Value() : r;
  }
  const auto& sorted = set.sorted;
  auto lo = std::lower_bound(sorted.begin(), sorted.end(), v,
                             [](const Value& a, const Value& b) { return compareForSort(a, b) < 0; });
  // The sort order brings equal values together; In itself decides what is equal.
  for (auto k = lo; k != sorted.end() && k - lo < 4; ++k)
    if (isTrue(applyBinary(BinaryOp::Eq, v, *k))) return Value(true);
  if (lo != sorted.begin() && isTrue(applyBinary(BinaryOp::Eq, v, *(lo - 1)))) return Value(true);
  return set.sawNull ? Value() : Value(false);
}

// A correlated subquery over one table, run once per row of the enclosing query. An
// equality between a field of its table and a value of the enclosing row picks the
// candidate rows from an index built on the first run; otherwise every row is tried.
void Executor::probeCorrelated(Plan& p, const std::vector<const Expr*>& conjuncts, const Materialized& m,
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

}  // namespace bv::sql::query
