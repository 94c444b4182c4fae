#include "engine/sql/parser_internal.h"

namespace bv::sql::detail {

FieldType Parser::fieldType() {
  FieldType ft;
  const Token& t = peek();
  if (t.kind != Tok::Name && t.kind != Tok::QuotedName) fail("expected a data type");
  take();
  ft.typeName = t.text;
  auto type = typeFromName(t.text, &ft.autoIncrement);
  if (!type) {
    --i_;
    fail("unknown data type '" + toUtf8(t.text) + "'");
  }
  ft.type = *type;
  if (acceptOp(u"(")) {
    auto num = [&]() {
      if (peek().kind != Tok::Number) fail("expected a number");
      return std::atoi(toUtf8(take().text).c_str());
    };
    int a = num();
    int b = -1;
    if (acceptOp(u",")) b = num();
    expectOp(u")");
    if (ft.autoIncrement) {
      ft.seed = a;
      ft.increment = b < 0 ? 1 : b;
    } else if (ft.type == ColType::Decimal) {
      ft.precision = a;
      ft.scale = b < 0 ? 0 : b;
    } else {
      if (b >= 0) fail("a size takes one number");
      ft.size = a;
    }
  }
  return ft;
}

std::vector<std::u16string> Parser::nameList() {
  std::vector<std::u16string> out;
  expectOp(u"(");
  do {
    out.push_back(name("a field name"));
  } while (acceptOp(u","));
  expectOp(u")");
  return out;
}

void Parser::referentialActions(ConstraintDef& c) {
  while (isKw(u"ON")) {
    take();
    bool onUpdate = acceptKw(u"UPDATE");
    if (!onUpdate) expectKw(u"DELETE");
    bool cascade = false;
    if (acceptKw(u"CASCADE")) cascade = true;
    else if (acceptKw(u"SET")) expectKw(u"NULL");
    else if (acceptKw(u"NO")) expectKw(u"ACTION");
    else fail("expected CASCADE, SET NULL or NO ACTION");
    (onUpdate ? c.cascadeUpdate : c.cascadeDelete) = cascade;
  }
}

bool Parser::constraint(ConstraintDef& c, bool tableLevel) {
  bool named = false;
  if (acceptKw(u"CONSTRAINT")) {
    c.name = name("a constraint name");
    named = true;
  }
  if (acceptKw(u"PRIMARY")) {
    expectKw(u"KEY");
    c.kind = ConstraintDef::Kind::PrimaryKey;
    if (tableLevel) c.columns = nameList();
  } else if (acceptKw(u"UNIQUE")) {
    c.kind = ConstraintDef::Kind::Unique;
    if (tableLevel) c.columns = nameList();
  } else if (!tableLevel && isKw(u"NOT") && isKw(u"NULL", 1)) {
    take();
    take();
    c.kind = ConstraintDef::Kind::NotNull;
  } else if (isKw(u"FOREIGN") || isKw(u"REFERENCES")) {
    c.kind = ConstraintDef::Kind::ForeignKey;
    if (acceptKw(u"FOREIGN")) {
      expectKw(u"KEY");
      if (acceptKw(u"NO")) expectKw(u"INDEX");
      if (tableLevel) c.columns = nameList();
    }
    expectKw(u"REFERENCES");
    c.refTable = name("a table name");
    if (isOp(u"(")) c.refColumns = nameList();
    referentialActions(c);
  } else {
    if (named) fail("expected PRIMARY KEY, UNIQUE, NOT NULL or REFERENCES");
    return false;
  }
  return true;
}

FieldDef Parser::fieldDef() {
  FieldDef f;
  f.name = name("a field name");
  f.type = fieldType();
  while (true) {
    if (isKw(u"NOT") && isKw(u"NULL", 1)) {
      take();
      take();
      f.notNull = true;
    } else if (acceptKw(u"NULL")) {
    } else if (acceptKw(u"WITH")) {
      if (!acceptKw(u"COMPRESSION") && !acceptKw(u"COMP")) fail("expected COMPRESSION");
      f.withCompression = true;
    } else if (acceptKw(u"DEFAULT")) {
      f.defaultValue = expression();
    } else {
      ConstraintDef c;
      if (!constraint(c, false)) break;
      if (c.kind == ConstraintDef::Kind::NotNull) f.notNull = true;
      else f.constraints.push_back(std::move(c));
    }
  }
  return f;
}

Statement::Body Parser::createStmt() {
  expectKw(u"CREATE");
  if (acceptKw(u"TABLE")) {
    enter(3290, "CREATE TABLE statement");
    CreateTableStmt c;
    c.table = name("a table name");
    expectOp(u"(");
    do {
      if (isKw(u"CONSTRAINT") || isKw(u"PRIMARY") || isKw(u"UNIQUE") || isKw(u"FOREIGN")) {
        ConstraintDef k;
        enter(3289, "CONSTRAINT clause");
        constraint(k, true);
        c.constraints.push_back(std::move(k));
      } else {
        enter(3292, "field definition");
        c.fields.push_back(fieldDef());
      }
      enter(3290, "CREATE TABLE statement");
    } while (acceptOp(u","));
    expectOp(u")");
    return c;
  }
  enter(3291, "CREATE INDEX statement");
  CreateIndexStmt ix;
  ix.unique = acceptKw(u"UNIQUE");
  if (!acceptKw(u"INDEX")) {
    enter(3129, "statement");
    fail("expected TABLE or INDEX after CREATE");
  }
  ix.index = name("an index name");
  expectKw(u"ON");
  ix.table = name("a table name");
  expectOp(u"(");
  do {
    IndexColumn col;
    col.name = name("a field name");
    if (acceptKw(u"DESC")) col.descending = true;
    else acceptKw(u"ASC");
    ix.columns.push_back(std::move(col));
  } while (acceptOp(u","));
  expectOp(u")");
  if (acceptKw(u"WITH")) {
    do {
      if (acceptKw(u"PRIMARY")) {
        ix.primary = true;
      } else if (acceptKw(u"DISALLOW")) {
        expectKw(u"NULL");
        ix.disallowNull = true;
      } else if (acceptKw(u"IGNORE")) {
        expectKw(u"NULL");
        ix.ignoreNull = true;
      } else {
        fail("expected PRIMARY, DISALLOW NULL or IGNORE NULL");
      }
    } while (!atEnd() && !isOp(u";"));
  }
  return ix;
}

Statement::Body Parser::dropStmt() {
  enter(3295, "DROP statement");
  expectKw(u"DROP");
  if (acceptKw(u"TABLE")) {
    DropTableStmt d;
    d.table = name("a table name");
    return d;
  }
  if (acceptKw(u"INDEX")) {
    DropIndexStmt d;
    d.index = name("an index name");
    expectKw(u"ON");
    d.table = name("a table name");
    return d;
  }
  fail("expected TABLE or INDEX after DROP");
}

AlterTableStmt Parser::alterStmt() {
  enter(3293, "ALTER TABLE statement");
  expectKw(u"ALTER");
  expectKw(u"TABLE");
  AlterTableStmt a;
  a.table = name("a table name");
  if (acceptKw(u"ADD")) {
    if (isKw(u"CONSTRAINT") || isKw(u"PRIMARY") || isKw(u"UNIQUE") || isKw(u"FOREIGN")) {
      a.action = AlterTableStmt::Action::AddConstraint;
      enter(3289, "CONSTRAINT clause");
      constraint(a.constraint, true);
    } else {
      acceptKw(u"COLUMN");
      a.action = AlterTableStmt::Action::AddColumn;
      enter(3292, "field definition");
      a.field = fieldDef();
    }
  } else if (acceptKw(u"ALTER")) {
    acceptKw(u"COLUMN");
    a.action = AlterTableStmt::Action::AlterColumn;
    enter(3292, "field definition");
    a.field = fieldDef();
  } else if (acceptKw(u"DROP")) {
    if (acceptKw(u"CONSTRAINT")) {
      a.action = AlterTableStmt::Action::DropConstraint;
      a.name = name("a constraint name");
    } else {
      acceptKw(u"COLUMN");
      a.action = AlterTableStmt::Action::DropColumn;
      a.name = name("a field name");
    }
  } else {
    fail("expected ADD, ALTER or DROP");
  }
  return a;
}

}  // namespace bv::sql::detail

namespace bv::sql {

std::optional<ColType> typeFromName(std::u16string_view n, bool* autoIncrement) {
  struct Entry {
    std::u16string_view name;
    ColType type;
    bool counter;
  };
  static const Entry table[] = {
      {u"TEXT", ColType::Text, false},        {u"VARCHAR", ColType::Text, false},
      {u"CHAR", ColType::Text, false},        {u"CHARACTER", ColType::Text, false},
      {u"STRING", ColType::Text, false},      {u"ALPHANUMERIC", ColType::Text, false},
      {u"NVARCHAR", ColType::Text, false},    {u"NCHAR", ColType::Text, false},
      {u"MEMO", ColType::Memo, false},        {u"LONGTEXT", ColType::Memo, false},
      {u"LONGCHAR", ColType::Memo, false},    {u"NOTE", ColType::Memo, false},
      {u"NTEXT", ColType::Memo, false},       {u"BYTE", ColType::Byte, false},
      {u"TINYINT", ColType::Byte, false},     {u"INTEGER1", ColType::Byte, false},
      {u"SHORT", ColType::Integer, false},    {u"SMALLINT", ColType::Integer, false},
      {u"INTEGER2", ColType::Integer, false}, {u"LONG", ColType::Long, false},
      {u"INT", ColType::Long, false},         {u"INTEGER", ColType::Long, false},
      {u"INTEGER4", ColType::Long, false},    {u"COUNTER", ColType::Long, true},
      {u"AUTOINCREMENT", ColType::Long, true}, {u"IDENTITY", ColType::Long, true},
      {u"SINGLE", ColType::Single, false},    {u"REAL", ColType::Single, false},
      {u"FLOAT4", ColType::Single, false},    {u"IEEESINGLE", ColType::Single, false},
      {u"DOUBLE", ColType::Double, false},    {u"FLOAT", ColType::Double, false},
      {u"FLOAT8", ColType::Double, false},    {u"NUMBER", ColType::Double, false},
      {u"IEEEDOUBLE", ColType::Double, false}, {u"CURRENCY", ColType::Currency, false},
      {u"MONEY", ColType::Currency, false},   {u"DATETIME", ColType::DateTime, false},
      {u"DATE", ColType::DateTime, false},    {u"TIME", ColType::DateTime, false},
      {u"TIMESTAMP", ColType::DateTime, false}, {u"BIT", ColType::Bool, false},
      {u"YESNO", ColType::Bool, false},       {u"LOGICAL", ColType::Bool, false},
      {u"LOGICAL1", ColType::Bool, false},    {u"BOOLEAN", ColType::Bool, false},
      {u"BINARY", ColType::Binary, false},    {u"VARBINARY", ColType::Binary, false},
      {u"LONGBINARY", ColType::OLE, false},   {u"OLEOBJECT", ColType::OLE, false},
      {u"GENERAL", ColType::OLE, false},      {u"IMAGE", ColType::OLE, false},
      {u"GUID", ColType::Guid, false},        {u"UNIQUEIDENTIFIER", ColType::Guid, false},
      {u"DECIMAL", ColType::Decimal, false},  {u"NUMERIC", ColType::Decimal, false},
      {u"DEC", ColType::Decimal, false},
  };
  for (const auto& e : table) {
    if (equalsNoCase(n, e.name)) {
      if (autoIncrement) *autoIncrement = e.counter;
      return e.type;
    }
  }
  return std::nullopt;
}

}  // namespace bv::sql
