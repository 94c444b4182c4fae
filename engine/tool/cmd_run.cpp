// `brimvale run --dry-run DB SQL`: how many records an action statement would affect.
#include <cstdio>

#include "engine/sql/exec.h"
#include "engine/sql/parser.h"
#include "engine/sql/storage_catalog.h"
#include "engine/tool/command.h"
#include "engine/tool/statement_options.h"

namespace {

const bv::tool::Command& self() { return *bv::tool::findCommand("run"); }

const bv::tool::Registration reg{{
    "run", "work out what an action statement does (--dry-run: count, change nothing)",
    "usage: brimvale run --dry-run DB SQL [--param NAME=VALUE]... [--password=PW]\n"
    "  Works out the records the action statement SQL (UPDATE, DELETE, INSERT INTO,\n"
    "  SELECT ... INTO, or data definition) affects in DB and prints\n"
    "  \"N records would be affected\". DB is opened read-only and is never changed.\n"
    "  --dry-run           required: this build applies no changes to files\n"
    "  --param NAME=VALUE  a value for a parameter (may be repeated)\n"
    "  --password=PW       the database password, if the file has one\n",
    [](bv::tool::Args& args) -> int {
      std::string pw;
      const bool dryRun = args.takeFlag("dry-run");
      bv::sql::ParamValues params;
      if (int status = bv::tool::takeStatementOptions(self(), args, pw, params)) return status;
      if (!dryRun)
        return bv::tool::usageError(self(), "only --dry-run is available: this build does not "
                                            "write to database files");
      auto stmt = bv::sql::parseStatement(bv::storage::fromUtf8(args.positional[1]));
      auto db = bv::tool::openDatabase(args.positional[0], bv::storage::OpenMode::ReadOnly, pw);
      bv::sql::StorageCatalog catalog(*db);
      bv::sql::ActionPlan plan = bv::sql::planAction(stmt, catalog, params);
      std::string out = std::to_string(plan.recordsAffected) +
                        (plan.recordsAffected == 1 ? " record" : " records") +
                        " would be affected\n";
      return bv::tool::writeOut(out) ? 0 : 1;
    }}};

}  // namespace
