#include "engine/sql/ddl.h"

#include "engine/sql/ddl_index.h"
#include "engine/sql/ddl_table_design.h"
#include "engine/sql/value_ops.h"
#include "engine/storage/column_edit.h"
#include "engine/storage/column_properties.h"
#include "engine/storage/create_table.h"
#include "engine/storage/drop_table.h"
#include "engine/storage/error.h"
#include "engine/storage/index_edit.h"
#include "engine/storage/properties.h"
#include "engine/storage/relationship.h"
#include "engine/storage/statement_lock.h"
#include "engine/storage/write_unit.h"

namespace bv::sql {

namespace {

void requireUserTable(storage::WriteUnit& unit, const std::u16string& name) {
  const storage::CatalogEntry* e = unit.db().findObject(name);
  if (!e || e->kind != storage::ObjectKind::UserTable)
    throw JetError(3371, "Cannot find the table '" + storage::toUtf8(name) + "'.");
}

// ADD COLUMN: the column, its Required / DefaultValue properties, then the index or
// relationship each of its constraints asks for. Rows already stored read the column as
// Null; NOT NULL binds the rows written from now on, as Jet documents.
void addColumn(storage::WriteUnit& unit, const AlterTableStmt& alter, const storage::ColumnDesign& column) {
  requireUserTable(unit, alter.table);
  storage::checkObjectName(column.name);
  storage::addColumn(unit, alter.table, column);
  if (column.required || !column.defaultValue.empty())
    storage::setColumnProperties(unit, unit.db().table(alter.table)->tdefPage, column);
  for (ConstraintDef c : alter.field.constraints) {
    c.columns = {column.name};
    AlterTableStmt add;
    add.table = alter.table;
    add.action = AlterTableStmt::Action::AddConstraint;
    add.constraint = std::move(c);
    if (add.constraint.kind != ConstraintDef::Kind::NotNull) alterConstraint(unit, add);
  }
}

// ALTER COLUMN: every value converted as Jet converts on assignment (a value the new type
// cannot hold fails the statement: 3163 too long, 3349 out of range, 3421 not convertible);
// NOT NULL and DEFAULT, when given, become the column's properties, which are otherwise kept.
void alterColumn(storage::WriteUnit& unit, const AlterTableStmt& alter, storage::ColumnDesign column) {
  requireUserTable(unit, alter.table);
  auto t = unit.db().table(alter.table);
  const int pos = t->findColumn(column.name);
  if (pos >= 0 && column.autoNumber && t->rowCount > 0)
    throw JetError(3251, "A column of a table that holds rows cannot become an AutoNumber column.");
  if (!alter.field.constraints.empty())
    throw JetError(3293, "ALTER COLUMN takes a type, a size and NOT NULL; add constraints with ADD CONSTRAINT.");
  const TargetColumn target{column.type, column.type == ColType::Text || column.type == ColType::Binary ? column.size : 0u,
                            column.precision, column.scale};
  const bool required = column.required;
  storage::replaceColumn(unit, alter.table, column.name, column, [&](const Value& v) {
    if (required && v.isNull())
      throw JetError(3314, "The column '" + storage::toUtf8(column.name) + "' holds Null values; it cannot become NOT NULL.");
    try {
      return coerceToColumn(v, target);
    } catch (const JetError& e) {
      if (e.number() != 3464) throw;
      throw JetError(3421, "A value of the column '" + storage::toUtf8(column.name) + "' cannot be converted to the new type.");
    }
  });
  if (column.required || !column.defaultValue.empty()) {
    // Keep the properties the statement does not name.
    const storage::ObjectProperties props = storage::readTableProperties(unit.db(), t->tdefPage);
    if (const storage::PropertyBlock* b = props.column(column.name)) {
      if (const storage::Property* p = b->find(u"Required"); p && !column.required)
        column.required = p->value.get<bool>() && *p->value.get<bool>();
      if (const storage::Property* p = b->find(u"DefaultValue"); p && column.defaultValue.empty())
        if (const std::u16string* d = p->value.get<std::u16string>()) column.defaultValue = *d;
    }
    storage::setColumnProperties(unit, t->tdefPage, column);
  }
}

}  // namespace

bool isDataDefinition(const Statement& st) {
  switch (st.kind()) {
    case StatementKind::CreateTable:
    case StatementKind::DropTable:
    case StatementKind::CreateIndex:
    case StatementKind::DropIndex:
    case StatementKind::AlterTable: return true;
    default: return false;
  }
}

int64_t executeDdl(storage::Database& db, const Statement& st, const ActionOptions& options) {
  // Work out what can be worked out before a unit starts (a bad definition needs no unit).
  storage::TableDesign design;
  std::vector<storage::RelationshipDesign> relationships;
  if (const auto* c = std::get_if<CreateTableStmt>(&st.body)) {
    design = tableDesignOf(*c, db.isJet4(), st.text);
    relationships = foreignKeysOf(*c);
  }
  const AlterTableStmt* alter = std::get_if<AlterTableStmt>(&st.body);
  using Action = AlterTableStmt::Action;
  storage::ColumnDesign added;
  if (alter && (alter->action == Action::AddColumn || alter->action == Action::AlterColumn))
    added = columnDesignOf(alter->field, db.isJet4(), st.text);

  storage::WriteOptions wo;
  wo.dryRun = options.dryRun;  // a dry run may work on a database opened read-only
  storage::WriteUnit unit(db, wo);
  switch (st.kind()) {
    case StatementKind::CreateTable:
      storage::createTable(unit, design);
      for (const storage::RelationshipDesign& r : relationships) storage::addRelationship(unit, r);
      break;
    case StatementKind::AlterTable:
      if (alter->action == Action::AddColumn) {
        addColumn(unit, *alter, added);
      } else if (alter->action == Action::AlterColumn) {
        alterColumn(unit, *alter, added);
      } else if (alter->action == Action::DropColumn) {
        requireUserTable(unit, alter->table);
        storage::dropColumn(unit, alter->table, alter->name);
        // A later column of the same name must not inherit this one's Required or default.
        storage::removeColumnProperties(unit, unit.db().table(alter->table)->tdefPage, alter->name);
      } else {
        alterConstraint(unit, *alter);
      }
      break;
    case StatementKind::DropTable: storage::dropTable(unit, std::get<DropTableStmt>(st.body).table); break;
    case StatementKind::CreateIndex: createIndex(unit, std::get<CreateIndexStmt>(st.body)); break;
    case StatementKind::DropIndex: dropIndex(unit, std::get<DropIndexStmt>(st.body)); break;
    default: break;
  }
  // A dry run has applied every rule; the destructor drops its changes.
  if (!options.dryRun) {
    storage::CommitLock lock(db);  // no reader sees the definition half-written
    unit.commit();
  }
  return 0;
}

}  // namespace bv::sql
