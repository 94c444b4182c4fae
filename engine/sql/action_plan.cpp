// The changes an action statement makes (UPDATE, DELETE, INSERT, SELECT INTO) and the checks of data definition, worked out without changing anything.
#include "engine/sql/query_executor.h"

#include <algorithm>
#include <set>

namespace bv::sql::query {

namespace {

// A value the conversion would return unchanged (saves copying text for every row).
bool alreadyFits(const Value& v, const SourceColumn& col) {
  switch (v.kind()) {
    case Kind::Text:
      return (col.type == ColType::Text || col.type == ColType::Memo) &&
             (!col.maxLength || v.as<std::u16string>().size() <= col.maxLength);
    case Kind::Long: return col.type == ColType::Long;
    case Kind::Currency: return col.type == ColType::Currency;
    case Kind::Double: return col.type == ColType::Double;
    case Kind::DateTime: return col.type == ColType::DateTime;
    default: return false;
  }
}

// Converts a new value to its column. A value the column cannot hold fails only its row:
// the error is kept as the fault of row `row` of `ch` and raised when the row is applied.
// Returns false for such a value.
bool convertForColumn(Value& v, const SourceColumn& col, TableChange& ch, size_t row) {
  if (alreadyFits(v, col)) return true;
  try {
    v = coerceToColumn(v, col.type, col.maxLength, col.precision, col.scale);
    return true;
  } catch (const JetError& e) {
    ch.faults.emplace(row, e);
    return false;
  }
}

}  // namespace

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
  // Where each assignment's value goes in its table's change, worked out once.
  std::vector<size_t> slotOf;
  for (const auto& a : u.sets) {
    const auto& cols = plan.changes[tableOf[a.target->source]].columns;
    slotOf.push_back(size_t(std::find(cols.begin(), cols.end(), a.target->column) - cols.begin()));
  }
  std::vector<std::set<uint64_t>> seen(p.sources.size());
  bool single = p.sources.size() == 1;
  std::vector<Value> computed(u.sets.size());
  forEachRow(p, u.where.get(), nullptr, [&](Frame& fr) {
      bool counted = false;
      // Every value is computed from the row as it was before this statement.
      for (size_t i = 0; i < u.sets.size(); ++i) computed[i] = eval(*u.sets[i].value, fr);
      for (size_t s = 0; s < p.sources.size(); ++s) {
        if (tableOf[s] < 0 || !fr.rows[s]) continue;
        if (!single && !seen[s].insert(rowKey(fr.ids[s])).second) continue;
        TableChange& ch = plan.changes[tableOf[s]];
        TableChange::Update up;
        up.row = fr.ids[s];
        // Every column of the change is assigned (the last assignment of a column wins).
        up.values.resize(ch.columns.size());
        for (size_t i = 0; i < u.sets.size(); ++i) {
          const Assignment& a = u.sets[i];
          if (a.target->source != int(s)) continue;
          Value& v = up.values[slotOf[i]];
          v = std::move(computed[i]);  // each assignment has one target table
          if (!convertForColumn(v, p.sources[s].columns[a.target->column], ch, ch.updates.size())) {
            up.values.clear();  // the row will not be written
            break;
          }
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
    for (size_t k = 0; k < row.size(); ++k)
      if (!convertForColumn(row[k], cols[ch.columns[k]], ch, ch.inserts.size())) {
        row.clear();  // the row will not be written
        break;
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
  // A qualified field without an alias gives its own name to the new column.
  for (size_t k = 0; k < plan.createColumns.size(); ++k) {
    std::u16string& name = plan.createColumns[k].name;
    const size_t dot = name.find(u'.');
    if (!root_->outputs[k].explicitAlias && dot != std::u16string::npos) name = name.substr(dot + 1);
  }
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

}  // namespace bv::sql::query
