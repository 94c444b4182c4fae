// `brimvale run DB SQL`: executes an action statement as the program does (fail-on-error:
// all or nothing) and prints the program's message; `--dry-run` applies every rule and
// keeps nothing.
#include <cctype>
#include <cstdio>

#include "engine/sql/action.h"
#include "engine/sql/parser.h"
#include "engine/tool/command.h"
#include "engine/tool/statement_options.h"

namespace {

const bv::tool::Command& self() { return *bv::tool::findCommand("run"); }

// The program's wording: a statement whose first six characters are "delete" in any letter
// case counts deleted records (leading blanks are not skipped); everything else, INSERT
// included, counts updated ones. There is no singular.
std::string recordsMessage(const std::string& sql, int64_t n) {
  std::string head = sql.substr(0, 6);
  for (auto& c : head) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return std::to_string(n) + (head == "delete" ? " records deleted.\n" : " records updated.\n");
}

const bv::tool::Registration reg{{
    "run", "execute an action statement (UPDATE, DELETE, INSERT, SELECT INTO, data definition) on a database",
    "usage: brimvale run DB SQL [--param NAME=VALUE]... [--password=PW] [--dry-run]\n"
    "  Executes the action statement SQL on DB with fail-on-error: a statement that breaks\n"
    "  a rule (duplicate key, required field, validation rule, related records, ...) changes\n"
    "  nothing. Prints \"N records deleted.\" for a statement beginning with DELETE, else\n"
    "  \"N records updated.\". On failure, prints each error number and description on\n"
    "  standard error and exits with status 1. SQL given as - is read from standard input.\n"
    "  --dry-run           apply every rule but keep nothing; prints \"N records would be\n"
    "                      affected\" (DB is opened read-only)\n"
    "  --param NAME=VALUE  a value for a parameter (may be repeated)\n"
    "  --password=PW       the database password, if the file has one\n",
    [](bv::tool::Args& args) -> int {
      std::string pw;
      const bool dryRun = args.takeFlag("dry-run");
      bv::sql::ParamValues params;
      if (int status = bv::tool::takeStatementOptions(self(), args, pw, params)) return status;
      const std::string& sql = args.positional[1];
      auto stmt = bv::sql::parseStatement(bv::storage::fromUtf8(sql));
      auto db = bv::tool::openDatabase(args.positional[0],
                                       dryRun ? bv::storage::OpenMode::ReadOnly : bv::storage::OpenMode::ReadWrite, pw);
      bv::sql::ActionOptions options;
      options.failOnError = true;
      options.dryRun = dryRun;
      const int64_t n = bv::sql::executeAction(*db, stmt, params, options);
      if (dryRun)
        return bv::tool::writeOut(std::to_string(n) + (n == 1 ? " record" : " records") + " would be affected\n") ? 0 : 1;
      return bv::tool::writeOut(recordsMessage(sql, n)) ? 0 : 1;
    }}};

}  // namespace
