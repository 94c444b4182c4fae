#include "engine/sql/ddl_index.h"

#include "engine/sql/ddl_table_design.h"
#include "engine/storage/create_table.h"
#include "engine/storage/relationship.h"
#include "engine/storage/error.h"
#include "engine/storage/index_edit.h"
#include "engine/storage/write_unit.h"

namespace bv::sql {

namespace {

// The user table an index statement names; Jet reports a missing one as 3371.
void requireTable(storage::WriteUnit& unit, const std::u16string& name) {
  const storage::CatalogEntry* e = unit.db().findObject(name);
  if (!e || e->kind != storage::ObjectKind::UserTable)
    throw JetError(3371, "Cannot find the table '" + storage::toUtf8(name) + "'.");
}

}  // namespace

void createIndex(storage::WriteUnit& unit, const CreateIndexStmt& st) {
  storage::checkObjectName(st.index);
  requireTable(unit, st.table);
  storage::IndexDesign design;
  design.name = st.index;
  for (const IndexColumn& c : st.columns) design.columns.push_back({c.name, !c.descending});
  design.primaryKey = st.primary;
  design.unique = st.unique || st.primary;
  design.required = st.primary || st.disallowNull;
  design.ignoreNulls = st.ignoreNull;
  storage::addIndex(unit, st.table, design);
}

void dropIndex(storage::WriteUnit& unit, const DropIndexStmt& st) {
  requireTable(unit, st.table);
  storage::removeIndex(unit, st.table, st.index);
}

void alterConstraint(storage::WriteUnit& unit, const AlterTableStmt& st) {
  requireTable(unit, st.table);
  if (st.action == AlterTableStmt::Action::DropConstraint) {
    storage::removeIndex(unit, st.table, st.name);
    return;
  }
  const ConstraintDef& c = st.constraint;
  if (c.kind == ConstraintDef::Kind::ForeignKey) {
    storage::addRelationship(unit, relationshipOf(c, st.table, c.columns));
    return;
  }
  storage::IndexDesign design = indexDesignOf(c);
  storage::checkObjectName(design.name);
  storage::addIndex(unit, st.table, design);
}

}  // namespace bv::sql
