#include "engine/sql/ddl.h"

#include "engine/sql/ddl_index.h"
#include "engine/sql/ddl_table_spec.h"
#include "engine/storage/create_table.h"
#include "engine/storage/drop_table.h"
#include "engine/storage/error.h"
#include "engine/storage/index_edit.h"
#include "engine/storage/relationship.h"
#include "engine/storage/statement_lock.h"
#include "engine/storage/write_unit.h"

namespace bv::sql {

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
  storage::TableSpec spec;
  std::vector<storage::RelationshipSpec> relationships;
  if (const auto* c = std::get_if<CreateTableStmt>(&st.body)) {
    spec = tableSpecOf(*c, db.isJet4());
    relationships = foreignKeysOf(*c);
  }
  const AlterTableStmt* alter = std::get_if<AlterTableStmt>(&st.body);
  using Action = AlterTableStmt::Action;
  if (alter && alter->action != Action::AddConstraint && alter->action != Action::DropConstraint)
    throw JetError(3251, "ALTER TABLE ADD, ALTER or DROP COLUMN is not supported by this engine yet; nothing was changed.");

  storage::WriteOptions wo;
  wo.dryRun = options.dryRun;  // a dry run may work on a database opened read-only
  storage::WriteUnit unit(db, wo);
  switch (st.kind()) {
    case StatementKind::CreateTable:
      storage::createTable(unit, spec);
      for (const storage::RelationshipSpec& r : relationships) storage::addRelationship(unit, r);
      break;
    case StatementKind::AlterTable: alterConstraint(unit, *alter); break;
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
