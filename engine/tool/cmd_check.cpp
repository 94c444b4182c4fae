// `brimvale check DB`: verifies a database file's integrity.
#include <cstdio>
#include <string>

#include "engine/storage/check.h"
#include "engine/tool/command.h"

namespace {

const bv::tool::Registration reg{{
    "check", "verify the integrity of a database file",
    "usage: brimvale check DB [--all] [--password=PW]\n"
    "  Reads every table (system tables included) and every index of DB and reports each\n"
    "  inconsistency on its own line:\n"
    "    - table definitions or rows that cannot be read;\n"
    "    - a user table's recorded row count against its live rows, and its last\n"
    "      AutoNumber against the values in use;\n"
    "    - usage maps (owned and free-space pages of tables, index pages, long-value\n"
    "      pages), pages in use that the global page map marks free, and definition or\n"
    "      index pages that two structures claim;\n"
    "    - data and index pages whose free-space field is wrong;\n"
    "    - index trees: page owner, entry order, parent entries, sibling and tail links;\n"
    "      entries naming no live row, rows missing from an index or indexed twice, key\n"
    "      bytes that differ from the key of the row's values, unique and required\n"
    "      indexes that the data breaks.\n"
    "  Lines starting with \"note:\" name what could not be verified (for instance index\n"
    "  keys in a sort order other than General); they do not count as problems.\n"
    "  Exit status: 0 with a one-line summary when nothing is wrong; 1 when a problem was\n"
    "  found (or the file cannot be opened); 2 for a usage error.\n"
    "  --all         list every problem (default: at most 20 of each kind per table)\n"
    "  --password=PW the database password, if the file has one\n",
    [](bv::tool::Args& args) -> int {
      std::string pw;
      args.takeOption("password", pw);
      bv::storage::CheckOptions opt;
      if (args.takeFlag("all")) opt.maxListed = static_cast<size_t>(-1);
      if (args.positional.size() != 1)
        return bv::tool::usageError(*bv::tool::findCommand("check"), "expected one database file");
      auto db = bv::tool::openDatabase(args.positional[0], bv::storage::OpenMode::ReadOnly, pw);
      const bv::storage::CheckReport r = bv::storage::checkDatabase(*db, opt);
      std::string out;
      for (const std::string& p : r.problems) out += p + "\n";
      for (const std::string& n : r.notes) out += "note: " + n + "\n";
      const std::string counts = std::to_string(r.tables) + " tables, " + std::to_string(r.rows) +
                                 " rows, " + std::to_string(r.indexes) + " indexes (" +
                                 std::to_string(r.indexEntries) + " entries on " +
                                 std::to_string(r.indexPages) + " pages), " +
                                 std::to_string(r.usageMaps) + " usage maps";
      if (r.ok())
        out += "OK: " + counts + "\n";
      else
        out += "FAILED: " + std::to_string(r.problems.size()) + " problem lines; checked " + counts + "\n";
      if (!bv::tool::writeOut(out)) return 1;
      return r.ok() ? 0 : 1;
    }}};

}  // namespace
