// The arguments shared by the commands that take a statement (query, run).
#pragma once

#include <string>

#include "engine/sql/exec.h"
#include "engine/tool/command.h"

namespace bv::tool {

// Takes --password and every --param NAME=VALUE, then checks that exactly a database file and
// a statement remain; a statement given as "-" is read from standard input. Returns 0, or the
// usage-error status (2) after reporting it.
int takeStatementOptions(const Command& self, Args& args, std::string& password,
                         sql::ParamValues& params);

}  // namespace bv::tool
