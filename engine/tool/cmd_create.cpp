// `brimvale create DB [--format jet4|jet3]`: makes a new, empty database.
#include <string>

#include "engine/storage/create_database.h"
#include "engine/tool/command.h"

namespace {

const bv::tool::Registration reg{{
    "create", "make a new, empty database",
    "usage: brimvale create DB [--format jet4|jet3]\n"
    "  Writes a new database file DB with the system tables a new Access database has\n"
    "  and no user tables. An existing file is never replaced (error 3204).\n"
    "  --format jet4  Access 2000 format, 4 KB pages (the default)\n"
    "  --format jet3  Access 97 format, 2 KB pages\n",
    [](bv::tool::Args& args) -> int {
      const bv::tool::Command& cmd = *bv::tool::findCommand("create");
      std::string format = "jet4";
      args.takeOption("format", format);
      if (args.positional.size() != 1) return bv::tool::usageError(cmd, "expected one database file");
      bv::storage::JetVersion v;
      if (format == "jet4") {
        v = bv::storage::JetVersion::Jet4;
      } else if (format == "jet3") {
        v = bv::storage::JetVersion::Jet3;
      } else {
        return bv::tool::usageError(cmd, "unknown format '" + format + "' (jet4 or jet3)");
      }
      bv::storage::createDatabase(args.positional[0], v);
      return 0;
    }}};

}  // namespace
