#include "engine/tool/statement_options.h"

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
  return 0;
}

}  // namespace bv::tool
