#include "engine/sql/action.h"

#include "engine/sql/action_apply.h"
#include "engine/sql/ddl.h"
#include "engine/sql/select_into.h"
#include "engine/sql/storage_catalog.h"
#include "engine/storage/error.h"
#include "engine/storage/statement_lock.h"
#include "engine/storage/write_unit.h"

namespace bv::sql {

namespace {

bool changesData(const Statement& st, const ActionPlan& plan) {
  switch (st.kind()) {
    case StatementKind::Update:
    case StatementKind::Delete:
    case StatementKind::Insert:
      return true;
    default:
      return plan.createTable.has_value();
  }
}

// The plan's changes, or for SELECT ... INTO the new table and its rows.
int64_t apply(storage::WriteUnit& unit, ActionPlan& plan, bool failOnError) {
  return plan.createTable ? applyMakeTable(unit, plan, failOnError) : applyPlan(unit, plan, failOnError);
}

}  // namespace

int64_t executeAction(storage::Database& db, const Statement& st, const ParamValues& params,
                      const ActionOptions& options) {
  if (isDataDefinition(st)) {
    if (options.dryRun) {
      storage::ReadLock lock(db);
      return executeDdl(db, st, options);
    }
    if (db.mode() != storage::OpenMode::ReadWrite)
      throw JetError(3027, "Cannot update. The database '" + db.path() + "' is opened read-only.");
    storage::WriteLock lock(db);
    return executeDdl(db, st, options);
  }
  if (options.dryRun) {
    // A trial run of the real thing, rolled back: every rule is applied, nothing is kept.
    storage::ReadLock lock(db);
    StorageCatalog catalog(db);
    ActionPlan plan = planAction(st, catalog, params);
    if (!changesData(st, plan)) return plan.recordsAffected;
    storage::WriteOptions wo;
    wo.dryRun = true;
    storage::WriteUnit unit(db, wo);
    const int64_t n = apply(unit, plan, options.failOnError);
    unit.rollback();
    return n;
  }
  if (db.mode() != storage::OpenMode::ReadWrite)
    throw JetError(3027, "Cannot update. The database '" + db.path() + "' is opened read-only.");
  storage::WriteLock lock(db);
  StorageCatalog catalog(db);
  ActionPlan plan = planAction(st, catalog, params);
  if (!changesData(st, plan)) return plan.recordsAffected;
  storage::WriteUnit unit(db);
  const int64_t n = apply(unit, plan, options.failOnError);
  storage::CommitLock commit(db);
  unit.commit();
  return n;
}

}  // namespace bv::sql
