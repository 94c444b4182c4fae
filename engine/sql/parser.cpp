#include "engine/sql/parser_internal.h"

namespace bv::sql {

Expr::Expr() = default;
Expr::~Expr() = default;

ExprPtr makeLiteral(Value v, size_t pos, size_t end) {
  auto e = std::make_unique<Expr>();
  e->kind = ExprKind::Literal;
  e->value = std::move(v);
  e->pos = pos;
  e->end = end;
  return e;
}

bool Statement::isAction() const { return kind() != StatementKind::Select ||
  !std::get<SelectStmt>(body).select->into.empty(); }

namespace detail {

const std::initializer_list<std::u16string_view> kReserved = {
    u"SELECT", u"FROM", u"WHERE", u"GROUP", u"ORDER", u"BY", u"HAVING", u"AND", u"OR",
    u"NOT", u"XOR", u"EQV", u"IMP", u"MOD", u"LIKE", u"IS", u"IN", u"BETWEEN", u"AS", u"ON",
    u"INNER", u"LEFT", u"RIGHT", u"JOIN", u"OUTER", u"UNION", u"INTO", u"VALUES", u"SET",
    u"NULL", u"DISTINCT", u"DISTINCTROW", u"TOP", u"ASC", u"DESC", u"ALL",
    u"EXISTS", u"INSERT", u"UPDATE", u"DELETE", u"PARAMETERS", u"CREATE", u"DROP",
    u"ALTER", u"TABLE", u"INDEX", u"WITH", u"CONSTRAINT", u"PRIMARY", u"KEY"};

bool isReserved(std::u16string_view w) {
  for (auto r : kReserved)
    if (equalsNoCase(w, r)) return true;
  return false;
}

UpdateStmt Parser::update() {
  enter(3144, "UPDATE statement");
  expectKw(u"UPDATE");
  UpdateStmt u;
  u.target = joinChain();
  // "UPDATE a, b SET ..." updates a cross join of the tables; the WHERE clause links them.
  while (acceptOp(u",")) {
    auto j = std::make_unique<TableRef>();
    j->kind = TableRef::Kind::Join;
    j->join = JoinKind::Cross;
    j->pos = u.target->pos;
    j->left = std::move(u.target);
    j->right = joinChain();
    u.target = std::move(j);
  }
  expectKw(u"SET");
  do {
    Assignment a;
    if (!isNameToken()) fail("expected a field name");
    a.target = nameOrCall();
    if (a.target->kind != ExprKind::Column) fail("expected a field name");
    expectOp(u"=");
    a.value = expression();
    u.sets.push_back(std::move(a));
  } while (acceptOp(u","));
  if (acceptKw(u"WHERE")) u.where = expression();
  return u;
}

DeleteStmt Parser::deleteStmt() {
  enter(3131, "DELETE statement");
  expectKw(u"DELETE");
  DeleteStmt d;
  if (!isKw(u"FROM")) {
    if (acceptOp(u"*")) {
    } else {
      do {
        std::u16string t = name("a table name or *");
        if (acceptOp(u".") || acceptOp(u"!")) expectOp(u"*");
        d.targets.push_back(std::move(t));
      } while (acceptOp(u","));
    }
  }
  expectKw(u"FROM");
  d.from = fromList();
  if (acceptKw(u"WHERE")) d.where = expression();
  return d;
}

InsertStmt Parser::insert() {
  enter(3134, "INSERT INTO statement");
  expectKw(u"INSERT");
  expectKw(u"INTO");
  InsertStmt s;
  s.table = name("a table name");
  if (acceptOp(u"(")) {
    do {
      std::u16string c = name("a field name");
      // A qualified target (t.field) names the same table.
      if (acceptOp(u".") || acceptOp(u"!")) c = name("a field name");
      s.columns.push_back(std::move(c));
    } while (acceptOp(u","));
    expectOp(u")");
  }
  if (acceptKw(u"VALUES")) {
    expectOp(u"(");
    do {
      s.values.push_back(expression());
    } while (acceptOp(u","));
    expectOp(u")");
  } else if (isKw(u"SELECT") || (isOp(u"(") && isKw(u"SELECT", 1))) {
    bool paren = acceptOp(u"(");
    s.select = subSelect();
    if (paren) expectOp(u")");
  } else {
    fail("expected VALUES or SELECT");
  }
  return s;
}

void Parser::parameters(std::vector<ParamDecl>& out) {
  enter(3139, "PARAMETERS declaration");
  expectKw(u"PARAMETERS");
  do {
    ParamDecl p;
    p.name = looseName("a parameter name");
    const Token& t = peek();
    if (t.kind != Tok::Name && t.kind != Tok::QuotedName) fail("expected a data type");
    take();
    p.typeName = t.text;
    p.type = typeFromName(t.text);
    if (!p.type && !equalsNoCase(t.text, u"VALUE")) {
      --i_;
      fail("unknown data type '" + toUtf8(t.text) + "'");
    }
    if (acceptOp(u"(")) {
      while (!isOp(u")") && !atEnd()) take();
      expectOp(u")");
    }
    out.push_back(std::move(p));
  } while (acceptOp(u","));
  expectOp(u";");
}

Statement Parser::statement() {
  Statement st;
  st.text = std::u16string(sql_);
  if (isKw(u"PARAMETERS")) parameters(st.parameters);
  if (isKw(u"SELECT") || (isOp(u"(") && isKw(u"SELECT", 1))) {
    enter(3141, "SELECT statement");
    bool paren = acceptOp(u"(");
    SelectStmt s;
    s.select = selectWithUnions();
    if (paren) expectOp(u")");
    st.body = std::move(s);
  } else if (isKw(u"UPDATE")) {
    st.body = update();
  } else if (isKw(u"DELETE")) {
    st.body = deleteStmt();
  } else if (isKw(u"INSERT")) {
    st.body = insert();
  } else if (isKw(u"CREATE")) {
    st.body = createStmt();
  } else if (isKw(u"DROP")) {
    st.body = dropStmt();
  } else if (isKw(u"ALTER")) {
    st.body = alterStmt();
  } else {
    throw JetError(3129, "Not a statement this engine knows: a statement begins with SELECT, "
                         "UPDATE, DELETE, INSERT INTO, CREATE, DROP, ALTER or PARAMETERS (" +
                             near() + ").");
  }
  acceptOp(u";");
  if (!atEnd())
    failWith(3142, "Unexpected text after the end of the statement");
  return st;
}

}  // namespace detail

Statement parseStatement(std::u16string_view sql) {
  detail::Parser p(sql);
  return p.statement();
}

std::optional<double> parseDateLiteral(std::u16string_view text) { return parseDateTime(text); }

}  // namespace bv::sql
