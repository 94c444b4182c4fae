// `brimvale export DB TABLE`: the table as CSV on stdout.
#include <cstdio>

#include "engine/storage/csv_export.h"
#include "engine/storage/statement_lock.h"
#include "engine/tool/command.h"

namespace {

const bv::tool::Registration reg{{
    "export", "write a table as CSV",
    "usage: brimvale export DB TABLE [--password=PW]\n"
    "  Writes every row of TABLE to stdout as CSV (UTF-8, lines ending in \\n):\n"
    "  a header line of column names; Text and Memo in double quotes with \"\" inside;\n"
    "  Null as an empty unquoted field; Yes/No as 1 or 0; Date/Time as\n"
    "  YYYY-MM-DD HH:MM:SS; Currency with four decimals; Binary and OLE Object as\n"
    "  lowercase hex; Replication ID as {GUID}; numbers in the C locale.\n",
    [](bv::tool::Args& args) -> int {
      std::string pw;
      args.takeOption("password", pw);
      if (args.positional.size() != 2)
        return bv::tool::usageError(*bv::tool::findCommand("export"), "expected a database file and a table name");
      auto db = bv::tool::openDatabase(args.positional[0], bv::storage::OpenMode::ReadOnly, pw);
      // Other users\' changes are written whole or not at all while this one reads.
      bv::storage::ReadLock readLock(*db);
      auto table = db->table(bv::storage::fromUtf8(args.positional[1]));
      bool ok = bv::storage::exportCsv(*db, *table, [](const char* p, size_t n) {
        return std::fwrite(p, 1, n, stdout) == n;
      });
      if (!ok) {
        std::fprintf(stderr, "brimvale export: cannot write the output\n");
        return 1;
      }
      return 0;
    }}};

}  // namespace
