// The command table of the `brimvale` tool. Each command lives in its own source file and
// registers itself with a file-scope object:
//
//   static const bv::tool::Registration reg{{
//       "tables", "list the user tables of a database",
//       "usage: brimvale tables DB\n  ...details...\n",
//       [](const bv::tool::Args& args) -> int { ... return 0; }}};
//
// main() handles `brimvale --help`, `brimvale CMD --help` / `-h` (prints `usage`, exit 0)
// before calling `run`, and turns a JetError escaping from `run` into a message on stderr
// ("brimvale: error NNNN: description") and exit status 1.
// Exit status: 0 success, 1 engine error, 2 usage error (use usageError()).
#pragma once

#include <cstdio>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "engine/storage/database.h"

namespace bv::tool {

// The command's arguments (without the program and command names). Options of the form
// `--password=X` / `--password X` are left for the command to interpret; takeOption helps.
struct Args {
  std::vector<std::string> positional;  // arguments that are not options
  std::vector<std::string> all;         // everything, in order
  // Removes `--name=value` or `--name value` from the argument list; returns whether found.
  bool takeOption(const std::string& name, std::string& value);
  // Removes a flag such as `--verbose`; returns whether it was there.
  bool takeFlag(const std::string& name);
};

struct Command {
  const char* name;
  const char* summary;  // one line, shown by `brimvale --help`
  const char* usage;    // shown by `brimvale CMD --help`
  std::function<int(Args&)> run;
};

struct Registration {
  explicit Registration(Command c);
};

const std::vector<Command>& commands();
const Command* findCommand(const std::string& name);

// Prints "brimvale CMD: message" and the command's usage line to stderr; returns 2.
int usageError(const Command& cmd, const std::string& message);

// Opens a database for a command; `password` in UTF-8 (the --password option).
std::unique_ptr<storage::Database> openDatabase(const std::string& path,
                                                storage::OpenMode mode = storage::OpenMode::ReadOnly,
                                                const std::string& password = {});

// Writes a whole buffer to stdout (binary-safe); returns false on a write error.
bool writeOut(const std::string& s);

}  // namespace bv::tool
