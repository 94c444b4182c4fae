// Access paths: which rows of a table a query reads. A WHERE condition on the leading
// column of an index (equality, IN lists and uncorrelated IN subqueries, ranges, BETWEEN,
// LIKE with a fixed start) narrows the rows to the index entries whose keys can match;
// ORDER BY on an index's columns may walk that index. The index only picks candidates:
// the whole condition is still checked on every row read, so a key range may safely take
// in more rows than match, never fewer.
#include "engine/sql/query_executor.h"

#include <algorithm>

#include "engine/storage/key_encode.h"
#include "engine/storage/text_key.h"

namespace bv::sql::query {

namespace {

// The field `e` reads when it is a plain field of source `src` of this query, else -1.
int fieldOf(const Expr& e, size_t src) {
  if (e.kind != ExprKind::Column || e.param >= 0 || e.output >= 0 || e.depth != 0 ||
      e.source != int(src))
    return -1;
  return e.column;
}

// Column types whose keys order exactly as statements compare their values.
bool keyedLikeComparison(ColType t) {
  switch (t) {
    case ColType::Byte: case ColType::Integer: case ColType::Long: case ColType::Currency:
    case ColType::Single: case ColType::Double: case ColType::DateTime: case ColType::Text:
    case ColType::Guid:
      return true;
    default:
      return false;
  }
}

// Whether a constant compares with a field of that type as the field's own values do
// (no text read as a number or a date, no number read as text).
bool sameFamily(ColType t, const Value& v) {
  switch (t) {
    case ColType::Text: return v.kind() == Kind::Text;
    case ColType::Guid: return v.kind() == Kind::Guid;
    default:
      return v.kind() != Kind::Text && v.kind() != Kind::Guid && v.kind() != Kind::Binary &&
             v.kind() != Kind::Null && v.kind() != Kind::Bool;
  }
}

// Beyond this many values an IN subquery is checked on every row rather than looked up.
constexpr size_t kMostSubqueryPoints = 10000;

bool lessBytes(const std::vector<uint8_t>& a, const std::vector<uint8_t>& b) {
  return std::lexicographical_compare(a.begin(), a.end(), b.begin(), b.end());
}

// What the conditions say about one field.
struct FieldBounds {
  std::optional<Value> low, high;  // inclusive (strict ones widened: the rows are checked)
  std::vector<Value> points;       // IN / = values (any of them)
  bool hasPoints = false;
  std::u16string likePrefix;       // LIKE 'abc*'
  std::vector<std::string> said;   // the conditions, for the printed plan
};

// The fixed start of a LIKE pattern up to its first wildcard, kept only while it is made
// of letters and digits, whose keys are one weight byte each in both key formats.
std::u16string likePrefix(const std::u16string& pattern) {
  std::u16string out;
  for (char16_t c : pattern) {
    bool alnum = (c >= u'a' && c <= u'z') || (c >= u'A' && c <= u'Z') || (c >= u'0' && c <= u'9');
    if (!alnum) break;
    out.push_back(c);
  }
  return out;
}

}  // namespace

std::vector<uint8_t> Executor::keyPart(const SourceIndex& ix, const SourceColumn& col,
                                       const Value& v) {
  Value typed = coerceToColumn(v, col.type, 0, col.precision, col.scale);
  std::vector<uint8_t> out;
  storage::appendKeyPart(out, storage::KeyColumn{col.type, bool(ix.ascending[0])}, typed, ix.jet4);
  return out;
}

AccessPath Executor::accessPath(Plan& p, size_t src, const std::vector<const Expr*>& conjuncts,
                                bool wantOrder) {
  AccessPath best;
  Source& s = p.sources[src];
  if (!s.table) return best;
  const auto& indexes = s.table->indexes();
  if (indexes.empty()) return best;

  std::unordered_map<int, FieldBounds> bounds;
  Frame none;
  auto constant = [&](const Expr& e, Value& out) {
    if (!isConstant(e)) return false;
    out = eval(e, none);
    return !out.isNull();
  };
  for (const Expr* c : conjuncts) {
    try {
      if (c->kind == ExprKind::Binary && c->op >= Op::Eq && c->op <= Op::Ge && c->op != Op::Ne) {
        Op op = c->op;
        int f = fieldOf(*c->args[0], src);
        const Expr* other = c->args[1].get();
        if (f < 0) {
          f = fieldOf(*c->args[1], src);
          other = c->args[0].get();
          // 5 < x is x > 5.
          op = op == Op::Lt ? Op::Gt : op == Op::Gt ? Op::Lt : op == Op::Le ? Op::Ge : op == Op::Ge ? Op::Le : op;
        }
        Value v;
        if (f < 0 || !constant(*other, v) || !sameFamily(s.columns[f].type, v)) continue;
        FieldBounds& b = bounds[f];
        if (op == Op::Eq) {
          b.points = b.hasPoints ? b.points : std::vector<Value>{v};
          b.hasPoints = true;
        }
        if (op == Op::Gt || op == Op::Ge)
          if (!b.low || compareForSort(v, *b.low) > 0) b.low = v;
        if (op == Op::Lt || op == Op::Le)
          if (!b.high || compareForSort(v, *b.high) < 0) b.high = v;
        b.said.push_back(textOf(*c));
      } else if (c->kind == ExprKind::Between && !c->negated) {
        int f = fieldOf(*c->args[0], src);
        Value a, z;
        if (f < 0 || !constant(*c->args[1], a) || !constant(*c->args[2], z) ||
            !sameFamily(s.columns[f].type, a) || !sameFamily(s.columns[f].type, z))
          continue;
        if (compareForSort(a, z) > 0) std::swap(a, z);
        FieldBounds& b = bounds[f];
        if (!b.low || compareForSort(a, *b.low) > 0) b.low = a;
        if (!b.high || compareForSort(z, *b.high) < 0) b.high = z;
        b.said.push_back(textOf(*c));
      } else if (c->kind == ExprKind::InList && !c->negated) {
        int f = fieldOf(*c->args[0], src);
        if (f < 0) continue;
        std::vector<Value> items;
        bool ok = true;
        for (size_t i = 1; i < c->args.size() && ok; ++i) {
          Value v;
          if (!isConstant(*c->args[i])) ok = false;
          else if (constant(*c->args[i], v)) ok = sameFamily(s.columns[f].type, v), items.push_back(v);
        }
        if (!ok) continue;
        FieldBounds& b = bounds[f];
        if (!b.hasPoints || items.size() < b.points.size()) b.points = std::move(items);
        b.hasPoints = true;
        b.said.push_back(textOf(*c));
      } else if (c->kind == ExprKind::InSelect && !c->negated && !planOf_.at(c->sub.get())->correlated) {
        // An uncorrelated subquery runs once (its rows are kept for the row check too);
        // a moderate number of values is looked up in the index like an IN list.
        int f = fieldOf(*c->args[0], src);
        if (f < 0) continue;
        const auto& rows = subqueryRows(*c->sub, none, 0);
        if (rows.size() > kMostSubqueryPoints) continue;
        std::vector<Value> items;
        bool ok = true;
        for (size_t i = 0; i < rows.size() && ok; ++i) {
          if (rows[i].empty() || rows[i][0].isNull()) continue;
          ok = sameFamily(s.columns[f].type, rows[i][0]);
          items.push_back(rows[i][0]);
        }
        if (!ok) continue;
        FieldBounds& b = bounds[f];
        if (!b.hasPoints || items.size() < b.points.size()) b.points = std::move(items);
        b.hasPoints = true;
        b.said.push_back(textOf(*c));
      } else if (c->kind == ExprKind::Like && !c->negated) {
        int f = fieldOf(*c->args[0], src);
        Value pat;
        if (f < 0 || s.columns[f].type != ColType::Text || !constant(*c->args[1], pat) ||
            pat.kind() != Kind::Text)
          continue;
        std::u16string prefix = likePrefix(pat.as<std::u16string>());
        if (prefix.empty()) continue;
        FieldBounds& b = bounds[f];
        if (prefix.size() > b.likePrefix.size()) b.likePrefix = prefix;
        b.said.push_back(textOf(*c));
      }
    } catch (const JetError&) {
      // A constant that cannot be worked out here is left to the row-by-row check.
    }
  }

  // The best index: equality beats IN beats a prefix beats a closed range beats an open one.
  int bestScore = 0;
  for (size_t k = 0; k < indexes.size(); ++k) {
    const SourceIndex& ix = indexes[k];
    int lead = ix.columns[0];
    const SourceColumn& col = s.columns[lead];
    if (!keyedLikeComparison(col.type)) continue;
    if (col.type == ColType::Text && !ix.textKeysUsable) continue;
    auto it = bounds.find(lead);
    if (it == bounds.end()) continue;
    const FieldBounds& b = it->second;
    AccessPath path;
    path.index = int(k);
    int score = 0;
    try {
      if (b.hasPoints) {
        score = b.points.size() == 1 ? 50 : 40;
        for (const Value& v : b.points) {
          KeyRange r;
          r.low = keyPart(ix, col, v);
          r.high = r.low;
          path.ranges.push_back(std::move(r));
        }
        std::sort(path.ranges.begin(), path.ranges.end(),
                  [](const KeyRange& x, const KeyRange& y) { return lessBytes(x.low, y.low); });
        path.ranges.erase(std::unique(path.ranges.begin(), path.ranges.end(),
                                      [](const KeyRange& x, const KeyRange& y) { return x.low == y.low; }),
                          path.ranges.end());
        if (path.ranges.empty()) path.none = true;
      } else if (!b.likePrefix.empty() && ix.ascending[0]) {
        // The weight bytes of the prefix: its key without what ends a key.
        std::vector<uint8_t> key = keyPart(ix, col, Value(b.likePrefix));
        size_t tail = ix.jet4 ? 2 : 1;
        if (key.size() != 1 + b.likePrefix.size() + tail) continue;
        key.resize(1 + b.likePrefix.size());
        std::vector<uint8_t> longer = keyPart(ix, col, Value(b.likePrefix + u"0"));
        if (!std::equal(key.begin(), key.end(), longer.begin())) continue;
        path.ranges.push_back(KeyRange{key, key});
        score = 30;
      } else if (b.low || b.high) {
        // A multi-column index's text part need not end where a longer text's does, so
        // an upper bound on text is only safe when nothing follows it in the key.
        if (col.type == ColType::Text && b.high && ix.columns.size() > 1) continue;
        uint8_t flag = ix.ascending[0] ? 0x7F : 0x80;
        std::vector<uint8_t> lo{flag}, hi{flag};
        if (b.low) (ix.ascending[0] ? lo : hi) = keyPart(ix, col, *b.low);
        if (b.high) (ix.ascending[0] ? hi : lo) = keyPart(ix, col, *b.high);
        path.ranges.push_back(KeyRange{lo, hi});
        score = b.low && b.high ? 20 : 10;
      }
    } catch (const JetError&) {
      continue;  // no key for that value (a character without sort data, out of range)
    }
    if (score > bestScore) {
      bestScore = score;
      path.text = "index " + toUtf8(ix.name);
      for (const auto& said : b.said) path.text += (path.text.back() == ')' ? ", " : " (") + said;
      path.text += ")";
      best = std::move(path);
    }
  }
  if (best.index >= 0 || !wantOrder) return best;

  // ORDER BY on the leading columns of an index, in the index's own directions, walks it.
  // Text is left to sorting: equal keys may still differ in trailing spaces.
  const Select& sel = *p.select;
  for (size_t k = 0; k < indexes.size(); ++k) {
    const SourceIndex& ix = indexes[k];
    if (ix.ignoreNulls || sel.orderBy.size() > ix.columns.size()) continue;
    bool match = true;
    for (size_t i = 0; i < sel.orderBy.size() && match; ++i) {
      int f = fieldOf(*sel.orderBy[i].expr, src);
      if (f != ix.columns[i] || sel.orderBy[i].descending == bool(ix.ascending[i])) match = false;
      else if (!keyedLikeComparison(s.columns[f].type) || s.columns[f].type == ColType::Text) match = false;
    }
    if (!match) continue;
    best.index = int(k);
    best.ordered = true;
    best.text = "index " + toUtf8(ix.name) + " in ORDER BY order";
    return best;
  }
  return best;
}

std::unique_ptr<RowCursor> Executor::openPath(Source& s, const AccessPath& a) {
  auto table = openSource(s);
  if (a.index < 0) return table->scan();
  return table->indexScan(size_t(a.index), a.ranges, a.ordered);
}

}  // namespace bv::sql::query
