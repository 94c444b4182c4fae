#include "engine/sql/action_apply.h"

#include <map>
#include <memory>
#include <set>
#include <unordered_set>

#include "engine/sql/rules_relations.h"
#include "engine/sql/rules_table.h"
#include "engine/storage/error.h"
#include "engine/storage/table_writer.h"

namespace bv::sql {

using storage::RowId;

bool isRowRuleError(int32_t number) {
  switch (number) {
    case 3022:  // duplicate key
    case 3058:  // Null in a primary key or required index
    case 3163:  // too large for the field
    case 3200:  // related records exist
    case 3201:  // related record required
    case 3314:  // Required
    case 3315:  // zero-length string
    case 3316:  // table validation rule
    case 3317:  // column validation rule
    case 3349:  // numeric field overflow
    case 3421:  // conversion error
    case 3464:  // type mismatch
      return true;
    default:
      return false;
  }
}

namespace {

struct RowKey {
  uint32_t table;
  uint32_t page;
  uint8_t row;
  friend auto operator<=>(const RowKey&, const RowKey&) = default;
};

struct RowKeyHash {
  size_t operator()(const RowKey& k) const {
    return std::hash<uint64_t>{}((uint64_t(k.page) << 8 | k.row) ^ (uint64_t(k.table) << 40));
  }
};

class Applier {
 public:
  Applier(storage::WriteUnit& unit, bool failOnError)
      : unit_(unit), db_(unit.db()), failOnError_(failOnError), integrity_(db_) {}

  int64_t run(ActionPlan& plan) {
    int64_t affected = 0;
    for (TableChange& ch : plan.changes) {
      Table& t = table(ch.table);
      for (RowId id : ch.deletes) affected += attempt([&] { return deleteRow(t, id); });
      for (size_t i = 0; i < ch.updates.size(); ++i)
        affected += attempt([&] {
          raiseFault(ch, i);
          return updateRow(t, ch.updates[i].row, ch.columns, ch.updates[i].values);
        });
      for (size_t i = 0; i < ch.inserts.size(); ++i)
        affected += attempt([&] {
          raiseFault(ch, i);
          return insertRow(t, ch.columns, ch.inserts[i]);
        });
    }
    return affected;
  }

 private:
  struct Table {
    std::shared_ptr<const storage::TableDef> def;
    std::unique_ptr<storage::TableWriter> writer;
    std::unique_ptr<TableRules> rules;
    std::optional<std::vector<Value>> defaults;
  };

  Table& table(const std::u16string& name) {
    auto def = db_.table(name);
    return tableAt(def->tdefPage, def->name);
  }

  Table& tableAt(uint32_t tdefPage, std::u16string_view name = {}) {
    auto it = tables_.find(tdefPage);
    if (it != tables_.end()) return it->second;
    Table t;
    t.def = db_.tableAt(tdefPage, name);
    t.writer = std::make_unique<storage::TableWriter>(unit_, tdefPage);
    t.rules = std::make_unique<TableRules>(readTableRules(db_, *t.def));
    return tables_.emplace(tdefPage, std::move(t)).first->second;
  }

  // Runs one row's change. A rule broken before anything of the row was written skips the
  // row (or, with fail-on-error, fails the statement); anything else fails the statement.
  template <class F> int64_t attempt(F&& f) {
    rowWritten_ = false;
    try {
      return f() ? 1 : 0;
    } catch (const JetError& e) {
      if (failOnError_ || rowWritten_ || !isRowRuleError(e.number())) throw;
      return 0;
    }
  }

  // A row whose new value its column cannot hold fails here, in its turn among the rows.
  static void raiseFault(const TableChange& ch, size_t row) {
    if (ch.faults.empty()) return;
    auto it = ch.faults.find(row);
    if (it != ch.faults.end()) throw it->second;
  }

  [[noreturn]] void relatedRecordsExist(const Link& l) {
    throw JetError(3200, "The record cannot be deleted or changed because table '" +
                             storage::toUtf8(l.relationship.table) + "' includes related records.");
  }

  // Every referencing row a change of the referenced key `key` in table `tdefPage` reaches
  // through `l` (none for a key with a Null).
  std::vector<RowId> children(const Link& l, const std::vector<Value>& key) {
    if (key.empty()) return {};
    const KeyRows& m = integrity_.rows(l.table, l.columns);
    auto it = m.find(key);
    return it == m.end() ? std::vector<RowId>{} : it->second;
  }

  // A row of `t` is about to hold `row`: each relationship it refers through needs its key
  // present in the referenced table (or in the row itself, for a table that refers to itself).
  void checkParents(const Table& t, const std::vector<Value>& row, const std::vector<bool>* changed) {
    for (const Link& l : integrity_.links()) {
      if (l.table != t.def->tdefPage) continue;
      if (changed) {
        bool touched = false;
        for (int c : l.columns) touched = touched || (*changed)[static_cast<size_t>(c)];
        if (!touched) continue;
      }
      std::vector<Value> key = Integrity::keyOf(row, l.columns);
      if (key.empty()) continue;
      const KeyRows& parents = integrity_.rows(l.referencedTable, l.referencedColumns);
      if (parents.count(key)) continue;
      if (l.referencedTable == l.table && !KeyLess{}(key, Integrity::keyOf(row, l.referencedColumns)) &&
          !KeyLess{}(Integrity::keyOf(row, l.referencedColumns), key))
        continue;
      throw JetError(3201, "You cannot add or change a record because a related record is required in table '" +
                               storage::toUtf8(l.relationship.referencedTable) + "'.");
    }
  }

  bool insertRow(Table& t, const std::vector<int>& columns, std::vector<Value>& values) {
    if (!t.defaults) t.defaults = t.rules->defaults();
    std::vector<Value> row = *t.defaults;
    for (size_t k = 0; k < columns.size() && k < values.size(); ++k)
      row[static_cast<size_t>(columns[k])] = std::move(values[k]);
    if (!t.rules->enforcesNothing()) t.rules->check(row);
    if (!integrity_.empty()) checkParents(t, row, nullptr);
    const RowId id = t.writer->insert(std::move(row));
    rowWritten_ = true;
    if (!integrity_.empty()) integrity_.rowAdded(t.def->tdefPage, id, t.writer->read(id));
    return true;
  }

  bool updateRow(Table& t, RowId id, const std::vector<int>& columns, const std::vector<Value>& values) {
    if (!deleted_.empty() && deleted_.count({t.def->tdefPage, id.page, id.row})) return false;
    if (integrity_.empty()) {
      // No relationship needs the old values: the row is changed where it was read, and
      // without being read at all when only fixed-size, unindexed columns change.
      if (t.rules->enforcesNothing() && t.writer->updateFixed(id, columns, values)) {
        rowWritten_ = true;
        return true;
      }
      std::vector<Value> row = t.writer->read(id);
      for (size_t k = 0; k < columns.size() && k < values.size(); ++k) row[static_cast<size_t>(columns[k])] = values[k];
      if (!t.rules->enforcesNothing()) {
        std::vector<bool> changed(row.size(), false);
        for (size_t k = 0; k < columns.size() && k < values.size(); ++k) changed[static_cast<size_t>(columns[k])] = true;
        t.rules->check(row, &changed);
      }
      t.writer->update(id, row);
      rowWritten_ = true;
      return true;
    }
    std::vector<Value> old = t.writer->read(id);
    std::vector<Value> row = old;
    std::vector<bool> changed(row.size(), false);
    for (size_t k = 0; k < columns.size() && k < values.size(); ++k) {
      row[static_cast<size_t>(columns[k])] = values[k];
      changed[static_cast<size_t>(columns[k])] = true;
    }
    writeUpdate(t, id, old, row, changed, 0);
    return true;
  }

  // A row of a table that refers to itself may refer to its own key: when the update
  // changes that key and leaves the reference as it was, the reference follows the key
  // where the relationship cascades updates, and the update is refused (3200) where not.
  static bool sameKey(const std::vector<Value>& a, const std::vector<Value>& b) {
    return !KeyLess{}(a, b) && !KeyLess{}(b, a);
  }
  void followOwnKey(const Table& t, const std::vector<Value>& old, std::vector<Value>& row,
                    std::vector<bool>& changed) {
    for (const Link& l : integrity_.links()) {
      if (l.table != t.def->tdefPage || l.referencedTable != t.def->tdefPage) continue;
      const std::vector<Value> oldKey = Integrity::keyOf(old, l.referencedColumns);
      const std::vector<Value> newKey = Integrity::keyOf(row, l.referencedColumns);
      if (oldKey.empty() || (!newKey.empty() && sameKey(oldKey, newKey))) continue;
      const std::vector<Value> ref = Integrity::keyOf(row, l.columns);
      if (ref.empty() || !sameKey(ref, oldKey) || !sameKey(Integrity::keyOf(old, l.columns), oldKey)) continue;
      if (!l.relationship.cascadeUpdates()) relatedRecordsExist(l);
      for (size_t i = 0; i < l.columns.size(); ++i) {
        const auto col = static_cast<size_t>(l.columns[i]);
        row[col] = newKey.empty() ? Value() : newKey[i];
        changed[col] = true;
      }
    }
  }

  // Writes one updated row and carries a changed referenced key on to the referencing rows
  // of relationships that cascade updates (refusing with 3200 where one does not).
  void writeUpdate(Table& t, RowId id, const std::vector<Value>& old, std::vector<Value> row,
                   std::vector<bool> changed, int depth) {
    if (depth > 64) throw JetError(3200, "The cascade of related changes reaches too deep.");
    followOwnKey(t, old, row, changed);
    t.rules->check(row, &changed);
    checkParents(t, row, &changed);
    struct Cascade {
      const Link* link;
      std::vector<RowId> rows;
      std::vector<Value> newKey;
    };
    std::vector<Cascade> cascades;
    for (const Link& l : integrity_.links()) {
      if (l.referencedTable != t.def->tdefPage) continue;
      std::vector<Value> oldKey = Integrity::keyOf(old, l.referencedColumns);
      std::vector<Value> newKey = Integrity::keyOf(row, l.referencedColumns);
      if (oldKey.empty() || (!newKey.empty() && !KeyLess{}(oldKey, newKey) && !KeyLess{}(newKey, oldKey))) continue;
      std::vector<RowId> rows = children(l, oldKey);
      if (l.table == t.def->tdefPage) std::erase(rows, id);  // a row referring to itself moves with it
      if (rows.empty()) continue;
      if (!l.relationship.cascadeUpdates()) relatedRecordsExist(l);
      cascades.push_back({&l, std::move(rows), std::move(newKey)});
    }
    t.writer->update(id, row);
    rowWritten_ = true;
    integrity_.rowRemoved(t.def->tdefPage, id, old);
    integrity_.rowAdded(t.def->tdefPage, id, row);
    for (const Cascade& c : cascades) {
      Table& child = tableAt(c.link->table);
      for (RowId cid : c.rows) {
        std::vector<Value> childOld = child.writer->read(cid);
        std::vector<Value> childNew = childOld;
        std::vector<bool> childChanged(childNew.size(), false);
        for (size_t i = 0; i < c.link->columns.size(); ++i) {
          const auto col = static_cast<size_t>(c.link->columns[i]);
          childNew[col] = c.newKey.empty() ? Value() : c.newKey[i];
          childChanged[col] = true;
        }
        writeUpdate(child, cid, childOld, childNew, childChanged, depth + 1);
      }
    }
  }

  // Gathers the rows a delete removes: the row, and before it the referencing rows of
  // relationships that cascade deletes (3200 where a relationship does not cascade).
  void gatherDelete(Table& t, RowId id, std::vector<Value> row, std::set<RowKey>& seen,
                    std::vector<std::pair<Table*, std::pair<RowId, std::vector<Value>>>>& out) {
    if (!seen.insert({t.def->tdefPage, id.page, id.row}).second) return;
    for (const Link& l : integrity_.links()) {
      if (l.referencedTable != t.def->tdefPage) continue;
      for (RowId cid : children(l, Integrity::keyOf(row, l.referencedColumns))) {
        if (seen.count({l.table, cid.page, cid.row}) || deleted_.count({l.table, cid.page, cid.row})) continue;
        if (!l.relationship.cascadeDeletes()) relatedRecordsExist(l);
        Table& child = tableAt(l.table);
        gatherDelete(child, cid, child.writer->read(cid), seen, out);
      }
    }
    out.push_back({&t, {id, std::move(row)}});
  }

  bool deleteRow(Table& t, RowId id) {
    if (deleted_.count({t.def->tdefPage, id.page, id.row})) return false;
    if (integrity_.empty()) {
      // Nothing cascades and no lookup needs the row's values.
      t.writer->remove(id);
      rowWritten_ = true;
      deleted_.insert({t.def->tdefPage, id.page, id.row});
      return true;
    }
    std::set<RowKey> seen;
    std::vector<std::pair<Table*, std::pair<RowId, std::vector<Value>>>> rows;
    gatherDelete(t, id, t.writer->read(id), seen, rows);
    for (auto& [tab, r] : rows) {
      tab->writer->remove(r.first);
      rowWritten_ = true;
      deleted_.insert({tab->def->tdefPage, r.first.page, r.first.row});
      integrity_.rowRemoved(tab->def->tdefPage, r.first, r.second);
    }
    return true;
  }

  storage::WriteUnit& unit_;
  storage::Database& db_;
  bool failOnError_;
  Integrity integrity_;
  std::map<uint32_t, Table> tables_;
  std::unordered_set<RowKey, RowKeyHash> deleted_;  // rows this statement removed
  bool rowWritten_ = false;
};

}  // namespace

int64_t applyPlan(storage::WriteUnit& unit, ActionPlan& plan, bool failOnError) {
  Applier a(unit, failOnError);
  return a.run(plan);
}

}  // namespace bv::sql
