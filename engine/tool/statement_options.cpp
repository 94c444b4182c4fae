#include "engine/tool/statement_options.h"

#include <iostream>
#include <iterator>

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
    std::string sql((std::istreambuf_iterator<char>(std::cin)), std::istreambuf_iterator<char>());
    if (std::cin.bad()) return usageError(self, "the statement could not be read from standard input");
    args.positional[1] = std::move(sql);
  }
  return 0;
}

}  // namespace bv::tool
