// `brimvale tables DB`: the user tables, one per line.
#include "engine/tool/command.h"

namespace {

const bv::tool::Registration reg{{
    "tables", "list the user tables of a database",
    "usage: brimvale tables DB [--system] [--password=PW]\n"
    "  Prints the names of the user tables of DB, one per line, in catalog order.\n"
    "  --system      also list system tables (marked with a trailing \" (system)\")\n"
    "  --password=PW the database password, if the file has one\n",
    [](bv::tool::Args& args) -> int {
      std::string pw;
      args.takeOption("password", pw);
      const bool system = args.takeFlag("system");
      if (args.positional.size() != 1)
        return bv::tool::usageError(*bv::tool::findCommand("tables"), "expected one database file");
      auto db = bv::tool::openDatabase(args.positional[0], bv::storage::OpenMode::ReadOnly, pw);
      std::string out;
      for (const auto& e : db->catalog()) {
        if (e.kind == bv::storage::ObjectKind::UserTable) {
          out += bv::storage::toUtf8(e.name) + "\n";
        } else if (system && e.kind == bv::storage::ObjectKind::SystemTable) {
          out += bv::storage::toUtf8(e.name) + " (system)\n";
        }
      }
      return bv::tool::writeOut(out) ? 0 : 1;
    }}};

}  // namespace
