#include "engine/sql/ddl_table_design.h"

#include <string>

#include "engine/storage/error.h"

namespace bv::sql {

namespace {

using storage::ColumnDesign;
using storage::IndexDesign;
using storage::TableDesign;
using storage::toUtf8;

[[noreturn]] void unsupported(const std::string& what) {
  throw JetError(3251, what + " is not supported by this engine yet; nothing was changed.");
}

bool nameTaken(const TableDesign& t, const std::u16string& name) {
  for (const IndexDesign& i : t.indexes)
    if (storage::jetNameEquals(i.name, name)) return true;
  return false;
}

std::u16string freshName(const TableDesign& t, std::u16string base) {
  std::u16string name = base;
  for (int n = 1; nameTaken(t, name); ++n) name = base + std::u16string(1, u'_') + [&] {
    std::u16string s;
    for (char c : std::to_string(n)) s.push_back(static_cast<char16_t>(c));
    return s;
  }();
  return name;
}

void addConstraint(TableDesign& t, const ConstraintDef& c, const std::vector<std::u16string>& columns) {
  using Kind = ConstraintDef::Kind;
  if (c.kind == Kind::NotNull) return;
  if (c.kind == Kind::ForeignKey) return;
  IndexDesign ix;
  for (const std::u16string& col : columns) ix.columns.push_back({col, true});
  if (c.kind == Kind::PrimaryKey) {
    ix.primaryKey = true;
    ix.unique = true;
    ix.required = true;
    ix.name = c.name.empty() ? freshName(t, u"PrimaryKey") : c.name;
  } else {
    ix.unique = true;
    std::u16string joined;
    for (const std::u16string& col : columns) joined += col;
    ix.name = c.name.empty() ? freshName(t, joined) : c.name;
  }
  if (!c.name.empty() && nameTaken(t, c.name))
    throw JetError(3375, "The table already has an index named '" + toUtf8(c.name) + "'.");
  t.indexes.push_back(std::move(ix));
}

}  // namespace

storage::RelationshipDesign relationshipOf(const ConstraintDef& c, const std::u16string& table,
                                         const std::vector<std::u16string>& columns) {
  storage::RelationshipDesign r;
  r.name = c.name;
  r.table = table;
  r.columns = columns;
  r.referencedTable = c.refTable;
  r.referencedColumns = c.refColumns;
  r.cascadeUpdate = c.cascadeUpdate;
  r.cascadeDelete = c.cascadeDelete;
  return r;
}

std::vector<storage::RelationshipDesign> foreignKeysOf(const CreateTableStmt& st) {
  std::vector<storage::RelationshipDesign> out;
  for (const FieldDef& f : st.fields)
    for (const ConstraintDef& c : f.constraints)
      if (c.kind == ConstraintDef::Kind::ForeignKey) out.push_back(relationshipOf(c, st.table, {f.name}));
  for (const ConstraintDef& c : st.constraints)
    if (c.kind == ConstraintDef::Kind::ForeignKey) out.push_back(relationshipOf(c, st.table, c.columns));
  return out;
}

storage::IndexDesign indexDesignOf(const ConstraintDef& c) {
  TableDesign t;
  addConstraint(t, c, c.columns);
  if (t.indexes.empty()) unsupported("This constraint");
  return t.indexes.front();
}

ColumnDesign columnDesignOf(const FieldDef& f, bool jet4, std::u16string_view sql) {
  ColumnDesign c;
  c.name = f.name;
  c.type = f.type.type;
  c.required = f.notNull;
  if (f.defaultValue) {
    const Expr& e = *f.defaultValue;
    if (e.end <= e.pos || e.end > sql.size()) unsupported("This DEFAULT value");
    c.defaultValue = std::u16string(sql.substr(e.pos, e.end - e.pos));
  }
  if (f.type.autoIncrement) {
    if (c.type != ColType::Long) c.type = ColType::Long;
    c.autoNumber = true;
    if (f.type.increment != 1) unsupported("An AutoNumber step other than 1");
  }
  switch (c.type) {
    case ColType::Text:
      if (f.type.size < 0 || f.type.size > 255)
        throw JetError(3259, "A Text column holds 1 to 255 characters ('" + toUtf8(f.name) + "').");
      c.size = static_cast<uint16_t>(f.type.size == 0 ? 255 : f.type.size);
      c.compressedUnicode = f.withCompression;
      break;
    case ColType::Binary:
      if (f.type.size < 0 || f.type.size > (jet4 ? 510 : 255))
        throw JetError(3259, "A Binary column holds at most " + std::string(jet4 ? "510" : "255") + " bytes ('" +
                                 toUtf8(f.name) + "').");
      c.size = static_cast<uint16_t>(f.type.size == 0 ? (jet4 ? 510 : 255) : f.type.size);
      break;
    case ColType::Memo:
      c.compressedUnicode = f.withCompression;
      break;
    case ColType::Decimal:
      if (!jet4) throw JetError(3259, "Decimal columns need an Access 2000 (Jet 4) database.");
      if (f.type.precision == 0) {
        c.precision = 18;
        c.scale = 0;
      } else if (f.type.precision < 1 || f.type.precision > 28 || f.type.scale < 0 ||
                 f.type.scale > f.type.precision) {
        throw JetError(3259, "A Decimal column's precision is 1 to 28 and its scale 0 to the precision ('" +
                                 toUtf8(f.name) + "').");
      } else {
        c.precision = static_cast<uint8_t>(f.type.precision);
        c.scale = static_cast<uint8_t>(f.type.scale);
      }
      break;
    case ColType::Complex:
      throw JetError(3259, "Invalid field data type for '" + toUtf8(f.name) + "'.");
    default:
      break;
  }
  return c;
}

TableDesign tableDesignOf(const CreateTableStmt& st, bool jet4, std::u16string_view sql) {
  TableDesign t;
  t.name = st.table;
  for (const FieldDef& f : st.fields) t.columns.push_back(columnDesignOf(f, jet4, sql));
  for (const FieldDef& f : st.fields)
    for (const ConstraintDef& c : f.constraints) addConstraint(t, c, {f.name});
  for (const ConstraintDef& c : st.constraints) addConstraint(t, c, c.columns);
  return t;
}

}  // namespace bv::sql
