// `brimvale schema DB [TABLE]`: table definitions as Jet SQL DDL.
#include <string>

#include "engine/tool/command.h"

namespace {

using bv::ColType;
using namespace bv::storage;
using bv::tool::Args;
using bv::tool::Registration;
using bv::tool::findCommand;
using bv::tool::openDatabase;
using bv::tool::usageError;
using bv::tool::writeOut;

std::string bracket(const std::u16string& name) {
  std::string s = toUtf8(name);
  std::string out = "[";
  for (char c : s) {
    out.push_back(c);
    if (c == ']') out.push_back(']');
  }
  return out + "]";
}

std::string typeName(const ColumnDef& c, bool jet4) {
  switch (c.type) {
    case ColType::Bool: return "BIT";
    case ColType::Byte: return "BYTE";
    case ColType::Integer: return "SHORT";
    case ColType::Long: return c.autoNumber ? "COUNTER" : "LONG";
    case ColType::Currency: return "CURRENCY";
    case ColType::Single: return "SINGLE";
    case ColType::Double: return "DOUBLE";
    case ColType::DateTime: return "DATETIME";
    case ColType::Binary: return "BINARY(" + std::to_string(c.length) + ")";
    case ColType::Text: return "TEXT(" + std::to_string(jet4 ? c.length / 2 : c.length) + ")";
    case ColType::OLE: return "LONGBINARY";
    case ColType::Memo: return "MEMO";
    case ColType::Guid: return "GUID";
    case ColType::Decimal:
      return "DECIMAL(" + std::to_string(c.precision) + ", " + std::to_string(c.scale) + ")";
    case ColType::Complex: return "BINARY(" + std::to_string(c.length) + ") /* type 0x11 */";
  }
  return "BINARY";
}

std::string tableName(const Database& db, uint32_t tdefPage) {
  for (const auto& e : db.catalog())
    if ((e.kind == ObjectKind::UserTable || e.kind == ObjectKind::SystemTable) && e.tdefPage() == tdefPage)
      return bracket(e.name);
  return "page " + std::to_string(tdefPage);
}

std::string columnList(const TableDef& t, const std::vector<IndexColumn>& cols) {
  std::string s;
  for (size_t i = 0; i < cols.size(); ++i) {
    if (i) s += ", ";
    const int pos = t.columnByNumber(cols[i].columnNumber);
    s += pos >= 0 ? bracket(t.columns[static_cast<size_t>(pos)].name)
                  : "[#" + std::to_string(cols[i].columnNumber) + "]";
    s += cols[i].ascending ? " ASC" : " DESC";
  }
  return s;
}

std::string describe(const Database& db, const TableDef& t) {
  const bool jet4 = db.isJet4();
  std::string out = "-- " + toUtf8(t.name) + ": " + std::to_string(t.rowCount) + " rows recorded, " +
                    "definition at page " + std::to_string(t.tdefPage) + "\n";
  out += "CREATE TABLE " + bracket(t.name) + " (\n";
  for (size_t i = 0; i < t.columns.size(); ++i) {
    const ColumnDef& c = t.columns[i];
    out += "  " + bracket(c.name) + " " + typeName(c, jet4);
    if (c.guidAutoNumber) out += " /* AutoNumber (Replication ID) */";
    if (c.fixed && (c.type == ColType::Text || c.type == ColType::Binary)) out += " /* fixed length */";
    if (c.compressedUnicode) out += " /* Unicode compression */";
    if (c.hyperlink) out += " /* hyperlink */";
    out += i + 1 < t.columns.size() ? ",\n" : "\n";
  }
  out += ");\n";
  for (const auto& ix : t.indexes) {
    if (ix.foreignKey) {
      out += "-- relationship " + bracket(ix.name) + " on (" + columnList(t, ix.columns) + ") with " +
             tableName(db, ix.fkOtherTable) + "\n";
      continue;
    }
    out += "CREATE ";
    if (ix.unique && !ix.primaryKey) out += "UNIQUE ";
    out += "INDEX " + bracket(ix.name) + " ON " + bracket(t.name) + " (" + columnList(t, ix.columns) + ")";
    if (ix.primaryKey)
      out += " WITH PRIMARY";
    else if (ix.required)
      out += " WITH DISALLOW NULL";
    else if (ix.ignoreNulls)
      out += " WITH IGNORE NULL";
    out += ";\n";
  }
  return out + "\n";
}

const Registration reg{{
    "schema", "show table definitions as Jet SQL",
    "usage: brimvale schema DB [TABLE] [--password=PW]\n"
    "  Prints CREATE TABLE and CREATE INDEX statements for TABLE, or for every user\n"
    "  table of DB. Relationships appear as comments.\n",
    [](Args& args) -> int {
      std::string pw;
      args.takeOption("password", pw);
      if (args.positional.empty() || args.positional.size() > 2)
        return usageError(*findCommand("schema"), "expected a database file and optionally a table name");
      auto db = openDatabase(args.positional[0], OpenMode::ReadOnly, pw);
      std::string out;
      if (args.positional.size() == 2) {
        out = describe(*db, *db->table(fromUtf8(args.positional[1])));
      } else {
        for (const auto& name : db->userTableNames()) out += describe(*db, *db->table(name));
      }
      return writeOut(out) ? 0 : 1;
    }}};

}  // namespace
