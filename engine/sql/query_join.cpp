// Row production: sources read, joins paired by hashing an equality, WHERE applied.
#include "engine/sql/query_executor.h"

#include <algorithm>

namespace bv::sql::query {

// The top-level And operands of a condition.
void Executor::splitAnd(const Expr* e, std::vector<const Expr*>& out) {
  if (!e) return;
  if (e->kind == ExprKind::Binary && e->op == Op::And) {
    splitAnd(e->args[0].get(), out);
    splitAnd(e->args[1].get(), out);
  } else {
    out.push_back(e);
  }
}

std::shared_ptr<const TableSource> Executor::openSource(Source& s) {
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
std::shared_ptr<const Materialized> Executor::materialize(Plan& p, size_t index,
                                                const std::vector<const Expr*>& filters,
                                                const Frame* parent) {
  Source& s = p.sources[index];
  if (s.kept) return s.kept;
  SourceReader reader = startReading(p, index, filters, parent);
  while (readOne(p, reader)) {
  }
  return reader.rows;
}

Executor::SourceReader Executor::startReading(Plan& p, size_t index,
                                              const std::vector<const Expr*>& filters,
                                              const Frame* parent) {
  SourceReader r;
  r.source = index;
  r.filters = filters;
  r.rows = std::make_shared<Materialized>();
  r.rows->width = p.sources[index].width();
  r.frame.parent = parent;
  r.frame.rows.assign(p.sources.size(), nullptr);
  r.frame.ids.assign(p.sources.size(), RowId{});
  AccessPath path = accessPath(p, index, filters, false);
  if (!path.none) r.cursor = openPath(p.sources[index], path);
  return r;
}

// Adds the next row that passes the filters; false at the end.
bool Executor::readOne(Plan& p, SourceReader& r) {
  if (!r.cursor) return false;
  Source& s = p.sources[r.source];
  Materialized& m = *r.rows;
  while (r.cursor->next()) {
    size_t base = m.values.size();
    m.values.resize(base + m.width);
    for (size_t c = 0; c < m.width; ++c)
      if (s.needed[c]) m.values[base + c] = r.cursor->value(c);
    r.frame.rows[r.source] = m.values.data() + base;
    r.frame.ids[r.source] = r.cursor->rowId();
    bool keep = true;
    for (const Expr* f : r.filters)
      if (!(keep = accepts(f, r.frame))) break;
    if (!keep) {
      m.values.resize(base);
      continue;
    }
    m.ids.push_back(r.cursor->rowId());
    return true;
  }
  r.cursor.reset();
  return false;
}

// Sources whose rows an outer join may replace by Nulls.
void Executor::markNullable(const TableRef& r, bool nullable, const Plan& p, std::vector<char>& out) {
  if (r.kind != TableRef::Kind::Join) {
    out[p.leaf.at(&r)] = nullable;
    return;
  }
  markNullable(*r.left, nullable || r.join == JoinKind::Right, p, out);
  markNullable(*r.right, nullable || r.join == JoinKind::Left, p, out);
}

void Executor::setRows(Frame& fr, const int32_t* t, const Mats& mats,
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

void Executor::collectSources(const TableRef& r, const Plan& p, std::vector<int>& out) {
  if (r.kind == TableRef::Kind::Join) {
    collectSources(*r.left, p, out);
    collectSources(*r.right, p, out);
  } else {
    out.push_back(p.leaf.at(&r));
  }
}

// What kind of value an expression yields, as far as it can be told without running it:
// 0 unknown, 1 number or date, 2 text, 3 GUID.
int Executor::family(const Expr& e, const Plan& p) const {
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
bool Executor::sourcesOf(const Expr& e, std::vector<int>& out, bool allowOuter) {
  if (e.sub || e.aggregate >= 0 || e.output >= 0) return false;
  if (e.kind == ExprKind::Column && e.param < 0) {
    if (e.depth > 0) return allowOuter;
    if (std::find(out.begin(), out.end(), e.source) == out.end()) out.push_back(e.source);
  }
  for (const auto& a : e.args)
    if (!sourcesOf(*a, out, allowOuter)) return false;
  return true;
}

bool Executor::within(const std::vector<int>& some, const std::vector<int>& all) {
  for (int s : some)
    if (std::find(all.begin(), all.end(), s) == all.end()) return false;
  return true;
}

// An equality inside the condition's top-level Ands whose one side reads only left
// sources and the other only right ones, both of one known kind of value: rows can then
// be paired by hashing that value. Returns the left and the right expression.
std::pair<const Expr*, const Expr*> Executor::findEquiKey(const Expr* on, const Plan& p, const std::vector<int>& left,
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

Executor::Tuples Executor::joinTuples(const TableRef& r, Plan& p, Mats& mats, Frame& fr) {
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

// Streams the combinations of a FROM item: the left side of a join streams, its right
// side is held (hashed on an equality of the condition where there is one) and probed
// for each left combination. A right join is worked out whole (its unmatched right rows
// are only known at the end). Returns false when `emit` asked to stop.
bool Executor::streamJoin(const TableRef& r, Plan& p, Mats& mats, Frame& fr,
                          const std::function<bool(const int32_t*)>& emit) {
  const size_t n = p.sources.size();
  if (r.kind != TableRef::Kind::Join) {
    int s = p.leaf.at(&r);
    std::vector<int32_t> t(n, -1);
    for (size_t i = 0; i < mats[s]->count(); ++i) {
      t[s] = int32_t(i);
      if (!emit(t.data())) return false;
    }
    return true;
  }
  if (r.join == JoinKind::Right) {
    Tuples whole = joinTuples(r, p, mats, fr);
    for (size_t i = 0; i < whole.size() / n; ++i)
      if (!emit(&whole[i * n])) return false;
    return true;
  }
  std::vector<int> ls, rs;
  collectSources(*r.left, p, ls);
  collectSources(*r.right, p, rs);
  const Expr* on = r.on.get();
  Tuples R = joinTuples(*r.right, p, mats, fr);
  const size_t nr = R.size() / n;
  auto [lk, rk] = findEquiKey(on, p, ls, rs);
  std::unordered_map<std::string, std::vector<size_t>> buckets;
  std::string bucket;
  if (lk) {
    for (size_t ri = 0; ri < nr; ++ri) {
      std::fill(fr.rows.begin(), fr.rows.end(), nullptr);
      setRows(fr, &R[ri * n], mats, rs);
      Value v = eval(*rk, fr);
      if (v.isNull()) continue;
      bucket.clear();
      appendBucket(v, bucket);
      buckets[bucket].push_back(ri);
    }
  }
  std::vector<int32_t> out(n, -1);
  return streamJoin(*r.left, p, mats, fr, [&](const int32_t* lt) {
    bool matched = false;
    // -1: the consumer stopped; otherwise whether the pair matched.
    auto tryPair = [&](size_t ri) {
      setRows(fr, lt, mats, ls);
      setRows(fr, &R[ri * n], mats, rs);
      if (!accepts(on, fr)) return 0;
      matched = true;
      std::copy(lt, lt + n, out.begin());
      for (int s : rs) out[s] = R[ri * n + s];
      return emit(out.data()) ? 1 : -1;
    };
    if (lk) {
      std::fill(fr.rows.begin(), fr.rows.end(), nullptr);
      setRows(fr, lt, mats, ls);
      Value v = eval(*lk, fr);
      if (!v.isNull()) {
        bucket.clear();
        appendBucket(v, bucket);
        auto it = buckets.find(bucket);
        if (it != buckets.end()) {
          const std::vector<size_t>& candidates = it->second;
          for (size_t ri : candidates)
            if (tryPair(ri) < 0) return false;
        }
      }
    } else {
      for (size_t ri = 0; ri < nr; ++ri)
        if (tryPair(ri) < 0) return false;
    }
    if (!matched && r.join == JoinKind::Left) {
      std::copy(lt, lt + n, out.begin());
      for (int s : rs) out[s] = -1;
      return emit(out.data());
    }
    return true;
  });
}

// Pairs the rows of two sides that satisfy `on` (all pairs when it is null); Left and
// Right keep their side's unmatched rows with Nulls for the other side. An equality
// of two fields, one per side, lets the pairs be found by sorting instead of by trying
// every pair.
Executor::Tuples Executor::combine(const Tuples& L, const std::vector<int>& ls, const Tuples& R,
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

bool Executor::streamsOneTable(const Plan& p) {
  return p.items.size() == 1 && p.items[0]->kind != TableRef::Kind::Join && !p.correlated;
}

bool Executor::wantsOrder(const Plan& p) {
  const Select* s = p.select;
  return s && !p.aggregateQuery && s->unions.empty() && !s->orderBy.empty();
}

// A WHERE condition on one table alone is applied as that table is read (the whole clause
// is still checked on every combination), unless an outer join may put Nulls in that
// table's place.
std::vector<std::vector<const Expr*>> Executor::sourceFilters(
    const Plan& p, const std::vector<const Expr*>& conjuncts) {
  const size_t n = p.sources.size();
  std::vector<char> nullable(n, 0);
  for (const TableRef* item : p.items) markNullable(*item, false, p, nullable);
  std::vector<std::vector<const Expr*>> filters(n);
  for (const Expr* c : conjuncts) {
    std::vector<int> ss;
    if (sourcesOf(*c, ss, false) && ss.size() == 1 && !nullable[ss[0]]) filters[ss[0]].push_back(c);
  }
  return filters;
}

// Calls `fn` for every combination of source rows that passes the WHERE clause.
// `fn` returns false to stop early.
void Executor::forEachRow(Plan& p, const Expr* where, const Frame* parent,
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
  if (streamsOneTable(p)) {
    // One table: stream it, reading only the fields the statement uses, through an index
    // where the conditions or the order allow.
    Source& s = p.sources[0];
    std::vector<const Expr*> conjuncts;
    splitAnd(where, conjuncts);
    AccessPath path = accessPath(p, 0, conjuncts, wantsOrder(p));
    if (path.none) return;
    p.ordered = path.ordered;
    auto cur = openPath(s, path);
    std::vector<Value> buf(s.width());
    std::vector<size_t> cols;
    for (size_t c = 0; c < buf.size(); ++c)
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
  splitAnd(where, conjuncts);
  auto filters = sourceFilters(p, conjuncts);
  // Tables listed alone in a FROM list of several (a cross product, unless an equality
  // of the WHERE clause links them to another) are read only as far as the combinations
  // asked for need, so that TOP over a cross product reads a few rows.
  std::vector<std::vector<int>> itemSources(from.size());
  for (size_t k = 0; k < from.size(); ++k) collectSources(*from[k], p, itemSources[k]);
  std::vector<char> lazy(from.size(), 0);
  if (from.size() > 1 && !p.correlated) {
    for (size_t k = 0; k < from.size(); ++k) {
      if (from[k]->kind == TableRef::Kind::Join) continue;
      // Not when a condition reads it together with another table: it may join them.
      int own = itemSources[k][0];
      bool linked = false;
      for (const Expr* c : conjuncts) {
        std::vector<int> ss;
        if (sourcesOf(*c, ss, true) && ss.size() > 1 && std::find(ss.begin(), ss.end(), own) != ss.end())
          linked = true;
      }
      lazy[k] = !linked;
    }
  }
  Mats mats(n);
  std::vector<SourceReader> readers(from.size());
  for (size_t k = 0; k < from.size(); ++k) {
    if (!lazy[k]) continue;
    int s = itemSources[k][0];
    readers[k] = startReading(p, size_t(s), filters[s], parent);
    mats[s] = readers[k].rows;
  }
  for (size_t i = 0; i < n; ++i) {
    if (mats[i]) continue;
    mats[i] = materialize(p, i, filters[i], parent);
    if (p.correlated) p.sources[i].kept = mats[i];
  }
  if (p.correlated && from.size() == 1 && from[0]->kind != TableRef::Kind::Join) {
    probeCorrelated(p, conjuncts, *mats[0], fr, where, fn);
    return;
  }
  if (from.size() == 1) {
    // One FROM item (a join): its combinations go to `fn` as they are found, so that TOP
    // or an early stop never waits for (or holds) the whole join.
    std::vector<int> all;
    collectSources(*from[0], p, all);
    streamJoin(*from[0], p, mats, fr, [&](const int32_t* t) {
      setRows(fr, t, mats, all);
      return !accepts(where, fr) || fn(fr);
    });
    return;
  }
  std::vector<Tuples> items;
  for (size_t k = 0; k < from.size(); ++k)
    items.push_back(lazy[k] ? Tuples() : joinTuples(*from[k], p, mats, fr));
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
          lazy.erase(lazy.begin() + b);
          readers.erase(readers.begin() + b);
          merged = true;
          break;
        }
      }
    }
  }
  // Cross product of the comma-separated items, odometer style. A lazily read table gets
  // its rows as the odometer first reaches them.
  auto has = [&](size_t k, size_t i) {
    if (!lazy[k]) return i < items[k].size() / n;
    while (readers[k].rows->count() <= i)
      if (!readOne(p, readers[k])) return false;
    return true;
  };
  std::vector<size_t> idx(items.size(), 0);
  for (size_t k = 0; k < items.size(); ++k)
    if (!has(k, 0)) return;
  std::vector<int32_t> one(n, -1);
  while (true) {
    for (size_t k = 0; k < items.size(); ++k) {
      if (lazy[k]) {
        int s = itemSources[k][0];
        one[s] = int32_t(idx[k]);
        setRows(fr, one.data(), mats, itemSources[k]);
      } else {
        setRows(fr, &items[k][idx[k] * n], mats, itemSources[k]);
      }
    }
    if (accepts(where, fr) && !fn(fr)) return;
    size_t k = items.size();
    while (k > 0) {
      --k;
      if (has(k, ++idx[k])) break;
      idx[k] = 0;
      if (k == 0) return;
    }
  }
}

}  // namespace bv::sql::query
