#include "engine/sql/action.h"

#include "engine/sql/ddl.h"
#include "engine/sql/storage_catalog.h"
#include "engine/storage/error.h"

namespace bv::sql {

int64_t executeAction(storage::Database& db, const Statement& st, const ParamValues& params,
                      const ActionOptions& options) {
  if (isDataDefinition(st)) return executeDdl(db, st, options);
  StorageCatalog catalog(db);
  ActionPlan plan = planAction(st, catalog, params);
  if (options.dryRun) return plan.recordsAffected;
  throw JetError(3032, "This engine cannot apply changes to database files yet.");
}

}  // namespace bv::sql
