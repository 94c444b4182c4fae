#include "engine/tool/statement_options.h"

#include <cstdio>

#include "engine/sql/param_text.h"

namespace bv::tool {

int takeStatementOptions(const Command& self, Args& args, std::string& password,
                         sql::ParamValues& params) {
  args.takeOption("password", password);
  auto nextParam = [&](std::string& v) { return args.takeOption("param", v); };
  if (!sql::collectParamAssignments(nextParam, params))
    return usageError(self, "--param needs NAME=VALUE");
  if (args.positional.size() != 2)
    return usageError(self, "expected a database file and a statement");
  // A statement longer than a command line takes (a long IN list) comes on standard input.
  if (args.positional[1] == "-") {
    std::string sql;
    char buf[65536];
    for (size_t n; (n = std::fread(buf, 1, sizeof buf, stdin)) > 0;) sql.append(buf, n);
    if (std::ferror(stdin)) return usageError(self, "the statement could not be read from standard input");
    args.positional[1] = std::move(sql);
  }
  return 0;
}

}  // namespace bv::tool
