#include "engine/sql/rules_relations.h"

#include <algorithm>

#include "engine/sql/value_ops.h"

namespace bv::sql {

bool KeyLess::operator()(const std::vector<Value>& a, const std::vector<Value>& b) const {
  const size_t n = std::min(a.size(), b.size());
  for (size_t i = 0; i < n; ++i)
    if (int c = compareForSort(a[i], b[i])) return c < 0;
  return a.size() < b.size();
}

Integrity::Integrity(const storage::Database& db) : db_(db) {
  for (auto& r : storage::readRelationships(db)) {
    if (!r.enforced() || r.columns.empty() || r.columns.size() != r.referencedColumns.size()) continue;
    const storage::CatalogEntry* child = db.findObject(r.table);
    const storage::CatalogEntry* parent = db.findObject(r.referencedTable);
    if (!child || !parent || child->type != 1 || parent->type != 1) continue;
    auto childDef = db.tableAt(child->tdefPage(), child->name);
    auto parentDef = db.tableAt(parent->tdefPage(), parent->name);
    Link l;
    l.table = childDef->tdefPage;
    l.referencedTable = parentDef->tdefPage;
    bool ok = true;
    for (size_t i = 0; i < r.columns.size() && ok; ++i) {
      const int c = childDef->findColumn(r.columns[i]), p = parentDef->findColumn(r.referencedColumns[i]);
      ok = c >= 0 && p >= 0;
      l.columns.push_back(c);
      l.referencedColumns.push_back(p);
    }
    if (!ok) continue;
    l.relationship = std::move(r);
    links_.push_back(std::move(l));
  }
}

std::vector<Value> Integrity::keyOf(const std::vector<Value>& row, const std::vector<int>& columns) {
  std::vector<Value> key;
  key.reserve(columns.size());
  for (int c : columns) {
    const Value& v = row[static_cast<size_t>(c)];
    if (v.isNull()) return {};
    key.push_back(v);
  }
  return key;
}

const KeyRows& Integrity::rows(uint32_t tdefPage, const std::vector<int>& columns) {
  auto k = std::make_pair(tdefPage, columns);
  auto it = built_.find(k);
  if (it != built_.end()) return it->second;
  KeyRows& out = built_[k];
  auto def = db_.tableAt(tdefPage);
  storage::TableCursor cur = db_.scan(def);
  std::vector<Value> row(def->columns.size());
  while (cur.next()) {
    for (int c : columns) row[static_cast<size_t>(c)] = cur.value(static_cast<size_t>(c));
    std::vector<Value> key = keyOf(row, columns);
    if (!key.empty()) out[std::move(key)].push_back(cur.rowId());
  }
  return out;
}

void Integrity::rowAdded(uint32_t tdefPage, storage::RowId id, const std::vector<Value>& row) {
  for (auto& [k, m] : built_) {
    if (k.first != tdefPage) continue;
    std::vector<Value> key = keyOf(row, k.second);
    if (!key.empty()) m[std::move(key)].push_back(id);
  }
}

void Integrity::rowRemoved(uint32_t tdefPage, storage::RowId id, const std::vector<Value>& row) {
  for (auto& [k, m] : built_) {
    if (k.first != tdefPage) continue;
    std::vector<Value> key = keyOf(row, k.second);
    if (key.empty()) continue;
    auto it = m.find(key);
    if (it == m.end()) continue;
    auto& ids = it->second;
    ids.erase(std::remove(ids.begin(), ids.end(), id), ids.end());
    if (ids.empty()) m.erase(it);
  }
}

}  // namespace bv::sql
