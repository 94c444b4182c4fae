// `brimvale query DB SQL`: runs a SELECT and writes its rows as CSV.
#include "engine/sql/exec.h"
#include "engine/sql/parser.h"
#include "engine/sql/storage_catalog.h"
#include "engine/storage/csv_export.h"
#include "engine/storage/statement_lock.h"
#include "engine/tool/command.h"
#include "engine/tool/statement_options.h"

namespace {

const bv::tool::Command& self() { return *bv::tool::findCommand("query"); }

const bv::tool::Registration reg{{
    "query", "run a SELECT statement and print its rows as CSV",
    "usage: brimvale query DB SQL [--param NAME=VALUE]... [--password=PW] [--explain]\n"
    "  Runs the SELECT statement SQL against DB (opened read-only) and prints the result\n"
    "  in the CSV form of the export command: a header line, then one line per row.\n"
    "  SQL given as - is read from standard input.\n"
    "  --param NAME=VALUE  a value for a parameter (a name that is no field); VALUE is a\n"
    "                      number, #date#, True/False/Null or text (may be repeated)\n"
    "  --password=PW       the database password, if the file has one\n"
    "  --explain           print how each table would be read instead of the rows\n",
    [](bv::tool::Args& args) -> int {
      std::string pw;
      bv::sql::ParamValues params;
      bool explain = args.takeFlag("explain");
      if (int status = bv::tool::takeStatementOptions(self(), args, pw, params)) return status;
      auto stmt = bv::sql::parseStatement(bv::storage::fromUtf8(args.positional[1]));
      if (stmt.isAction())
        throw bv::JetError(3065, "query runs SELECT statements only; use `brimvale run` for an "
                                 "action statement.");
      auto db = bv::tool::openDatabase(args.positional[0], bv::storage::OpenMode::ReadOnly, pw);
      // Other users\' changes are written whole or not at all while this one reads.
      bv::storage::ReadLock readLock(*db);
      bv::sql::StorageCatalog catalog(*db);
      if (explain) return bv::tool::writeOut(bv::sql::explainStatement(stmt, catalog, params)) ? 0 : 1;
      bv::sql::ResultSet rs = bv::sql::executeSelect(stmt, catalog, params);
      std::string out;
      for (size_t i = 0; i < rs.columns.size(); ++i) {
        if (i) out.push_back(',');
        bv::storage::appendCsvHeaderName(rs.columns[i].name, out);
      }
      out.push_back('\n');
      for (const auto& row : rs.rows) {
        for (size_t i = 0; i < row.size(); ++i) {
          if (i) out.push_back(',');
          bv::storage::appendCsvValue(row[i], out);
        }
        out.push_back('\n');
      }
      return bv::tool::writeOut(out) ? 0 : 1;
    }}};

}  // namespace
