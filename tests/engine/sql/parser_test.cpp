// Parser: the syntax of Jet SQL statements and the error numbers of bad statements.
#include <gtest/gtest.h>

#include "engine/sql/lexer.h"
#include "engine/sql/parser.h"
#include "engine/storage/error.h"

namespace bv::sql {
namespace {

Statement parse(const char16_t* s) { return parseStatement(s); }

int errorOf(const char16_t* s) {
  try {
    parseStatement(s);
  } catch (const JetError& e) {
    return e.number();
  }
  return 0;
}

const Select& selectOf(const Statement& st) { return *std::get<SelectStmt>(st.body).select; }

TEST(Lexer, TokensOfEveryKind) {
  auto t = tokenize(u"SELECT [Order Details].[Unit Price], 'it''s', \"say \"\"hi\"\"\", #1/2/2003#, "
                    u"1.5E3, &H1F, a&b, x<>y, ?");
  std::vector<std::pair<Tok, std::u16string>> want = {
      {Tok::Name, u"SELECT"},     {Tok::QuotedName, u"Order Details"}, {Tok::Op, u"."},
      {Tok::QuotedName, u"Unit Price"}, {Tok::Op, u","},  {Tok::String, u"it's"},
      {Tok::Op, u","},            {Tok::String, u"say \"hi\""},  {Tok::Op, u","},
      {Tok::Date, u"1/2/2003"},   {Tok::Op, u","},             {Tok::Number, u"1.5E3"},
      {Tok::Op, u","},            {Tok::Number, u"&H1F"},      {Tok::Op, u","},
      {Tok::Name, u"a"},          {Tok::Op, u"&"},             {Tok::Name, u"b"},
      {Tok::Op, u","},            {Tok::Name, u"x"},           {Tok::Op, u"<>"},
      {Tok::Name, u"y"},          {Tok::Op, u","},             {Tok::Op, u"?"},
      {Tok::End, u""}};
  ASSERT_EQ(t.size(), want.size());
  for (size_t i = 0; i < want.size(); ++i) {
    EXPECT_EQ(t[i].kind, want[i].first) << i;
    EXPECT_EQ(t[i].text, want[i].second) << i;
  }
}

TEST(Lexer, UnterminatedPiecesAreSyntaxErrors) {
  EXPECT_EQ(errorOf(u"SELECT 'abc FROM t"), 3075);
  EXPECT_EQ(errorOf(u"SELECT [abc FROM t"), 3075);
  EXPECT_EQ(errorOf(u"SELECT #1/2/2003 FROM t"), 3075);
  EXPECT_EQ(errorOf(u"SELECT a FROM t WHERE b = `x`"), 3075);
}

TEST(DateLiteral, UsAndIsoFormsWithTimes) {
  EXPECT_EQ(parseDateLiteral(u"12/30/1899"), 0.0);
  EXPECT_EQ(parseDateLiteral(u"1/1/1900"), 2.0);
  EXPECT_EQ(parseDateLiteral(u"2003-01-02"), parseDateLiteral(u"1/2/2003"));
  EXPECT_EQ(parseDateLiteral(u"2000/02/29"), 36585.0);
  EXPECT_DOUBLE_EQ(*parseDateLiteral(u"1/1/1900 6:00 PM"), 2.75);
  EXPECT_DOUBLE_EQ(*parseDateLiteral(u"1900-01-01 18:00:00"), 2.75);
  EXPECT_DOUBLE_EQ(*parseDateLiteral(u"12:00"), 0.5);
  EXPECT_DOUBLE_EQ(*parseDateLiteral(u"12/29/1899 06:00"), -1.25);  // time counts away from zero
  EXPECT_EQ(parseDateLiteral(u"1/2/03"), parseDateLiteral(u"2003-01-02"));
  EXPECT_EQ(parseDateLiteral(u"1/2/99"), parseDateLiteral(u"1999-01-02"));
  EXPECT_FALSE(parseDateLiteral(u"2/30/2003"));
  EXPECT_FALSE(parseDateLiteral(u"2001-02-29"));
  EXPECT_EQ(parseDateLiteral(u"13/1/2003"), parseDateLiteral(u"2003-01-13"));  // no month 13: d/m
  EXPECT_EQ(parseDateLiteral(u"Jan 5, 2003"), parseDateLiteral(u"2003-01-05"));
  EXPECT_FALSE(parseDateLiteral(u"hello"));
  EXPECT_FALSE(parseDateLiteral(u"1/1/2003 25:00"));
  EXPECT_EQ(errorOf(u"SELECT * FROM t WHERE d = #2/30/2003#"), 3075);
}

TEST(Parser, SelectClausesAndBracketedNames) {
  Statement st = parse(
      u"select distinct top 10 [Order Details].[Unit Price] * 2 as [Double Price], o.* "
      u"FROM [Order Details] INNER JOIN Orders AS o ON [Order Details].OrderID = o.ID "
      u"WHERE o.Shipped >= #2003-01-01# AND o.Name Like 'A*' "
      u"GROUP BY o.ID HAVING Count(*) > 1 ORDER BY 1 DESC, o.ID;");
  const Select& s = selectOf(st);
  EXPECT_TRUE(s.distinct);
  EXPECT_EQ(*s.top, 10);
  ASSERT_EQ(s.items.size(), 2u);
  EXPECT_EQ(s.items[0].alias, u"Double Price");
  const Expr& mul = *s.items[0].expr;
  EXPECT_EQ(mul.kind, ExprKind::Binary);
  EXPECT_EQ(mul.op, Op::Mul);
  EXPECT_EQ(mul.args[0]->qualifier, u"Order Details");
  EXPECT_EQ(mul.args[0]->name, u"Unit Price");
  EXPECT_TRUE(s.items[1].star);
  EXPECT_EQ(s.items[1].starQualifier, u"o");
  ASSERT_EQ(s.from.size(), 1u);
  const TableRef& j = *s.from[0];
  EXPECT_EQ(j.kind, TableRef::Kind::Join);
  EXPECT_EQ(j.join, JoinKind::Inner);
  EXPECT_EQ(j.left->name, u"Order Details");
  EXPECT_EQ(j.right->name, u"Orders");
  EXPECT_EQ(j.right->alias, u"o");
  const Expr& where = *s.where;
  EXPECT_EQ(where.op, Op::And);
  EXPECT_EQ(where.args[0]->args[1]->value.kind(), Kind::DateTime);
  EXPECT_EQ(where.args[1]->kind, ExprKind::Like);
  EXPECT_EQ(s.groupBy.size(), 1u);
  EXPECT_EQ(s.having->args[0]->kind, ExprKind::Call);
  EXPECT_TRUE(s.having->args[0]->star);
  ASSERT_EQ(s.orderBy.size(), 2u);
  EXPECT_TRUE(s.orderBy[0].descending);
  EXPECT_FALSE(s.orderBy[1].descending);
  EXPECT_FALSE(st.isAction());
}

TEST(Parser, OperatorPrecedenceFollowsJet) {
  // -2^2 is -(2^2); * before +; & after arithmetic; comparison before Not before And before Or.
  Statement st = parse(u"SELECT -2^2 + 3 * 4 & 'x' = 'y' Or Not a = b And c FROM t");
  const Expr& e = *selectOf(st).items[0].expr;
  ASSERT_EQ(e.op, Op::Or);
  const Expr& eq = *e.args[0];
  EXPECT_EQ(eq.op, Op::Eq);
  const Expr& cat = *eq.args[0];
  EXPECT_EQ(cat.op, Op::Concat);
  const Expr& add = *cat.args[0];
  EXPECT_EQ(add.op, Op::Add);
  EXPECT_EQ(add.args[0]->kind, ExprKind::Unary);
  EXPECT_EQ(add.args[0]->args[0]->op, Op::Pow);
  EXPECT_EQ(add.args[1]->op, Op::Mul);
  const Expr& andE = *e.args[1];
  EXPECT_EQ(andE.op, Op::And);
  EXPECT_EQ(andE.args[0]->op, Op::Not);
  EXPECT_EQ(andE.args[0]->args[0]->op, Op::Eq);
  // Mod and \ sit between * and +.
  Statement st2 = parse(u"SELECT 7 + 8 Mod 3 \\ 2 * 2 FROM t");
  const Expr& m = *selectOf(st2).items[0].expr;
  EXPECT_EQ(m.op, Op::Add);
  EXPECT_EQ(m.args[1]->op, Op::Mod);
  EXPECT_EQ(m.args[1]->args[1]->op, Op::IntDiv);
  EXPECT_EQ(m.args[1]->args[1]->args[1]->op, Op::Mul);
}

TEST(Parser, PredicatesAndLiterals) {
  Statement st = parse(
      u"SELECT * FROM t WHERE a Not Between 1 And 5 And b Is Not Null And c Not In (1, 'x', Null) "
      u"And d Not Like \"[!a-c]#?\" And e = True And f <> False And g = 1.5 And h = &HFFFF");
  const Select& s = selectOf(st);
  std::vector<const Expr*> parts;
  const Expr* e = s.where.get();
  while (e->kind == ExprKind::Binary && e->op == Op::And) {
    parts.insert(parts.begin(), e->args[1].get());
    e = e->args[0].get();
  }
  parts.insert(parts.begin(), e);
  ASSERT_EQ(parts.size(), 8u);
  EXPECT_EQ(parts[0]->kind, ExprKind::Between);
  EXPECT_TRUE(parts[0]->negated);
  EXPECT_EQ(parts[1]->kind, ExprKind::IsNull);
  EXPECT_TRUE(parts[1]->negated);
  EXPECT_EQ(parts[2]->kind, ExprKind::InList);
  EXPECT_EQ(parts[2]->args.size(), 4u);
  EXPECT_TRUE(parts[2]->args[3]->value.isNull());
  EXPECT_EQ(parts[3]->kind, ExprKind::Like);
  EXPECT_EQ(parts[3]->args[1]->value, Value(u"[!a-c]#?"));
  EXPECT_EQ(parts[4]->args[1]->value, Value(true));
  EXPECT_EQ(parts[5]->args[1]->value, Value(false));
  EXPECT_EQ(parts[6]->args[1]->value, Value(1.5));
  EXPECT_EQ(parts[7]->args[1]->value, Value(int32_t(-1)));  // &HFFFF is the 16-bit -1
}

TEST(Parser, NestedSubqueriesInInExistsAndValues) {
  Statement st = parse(
      u"SELECT a, (SELECT Max(x) FROM u WHERE u.k = t.k) AS m FROM t WHERE a IN "
      u"(SELECT b FROM u WHERE EXISTS (SELECT * FROM v WHERE v.c = u.b AND v.d NOT IN "
      u"(SELECT d FROM w)))");
  const Select& s = selectOf(st);
  EXPECT_EQ(s.items[1].expr->kind, ExprKind::Subquery);
  const Expr& in = *s.where;
  ASSERT_EQ(in.kind, ExprKind::InSelect);
  const Expr& exists = *in.sub->where;
  ASSERT_EQ(exists.kind, ExprKind::Exists);
  const Expr& inner = *exists.sub->where->args[1];
  EXPECT_EQ(inner.kind, ExprKind::InSelect);
  EXPECT_TRUE(inner.negated);
  EXPECT_EQ(inner.sub->from[0]->name, u"w");
}

TEST(Parser, JoinsNestAndOuterJoinsParse) {
  Statement st = parse(
      u"SELECT * FROM (a LEFT OUTER JOIN b ON a.id = b.id) RIGHT JOIN c ON b.x = c.x, d "
      u"INNER JOIN (SELECT * FROM e) AS q ON d.k = q.k");
  const Select& s = selectOf(st);
  ASSERT_EQ(s.from.size(), 2u);
  EXPECT_EQ(s.from[0]->join, JoinKind::Right);
  EXPECT_EQ(s.from[0]->left->join, JoinKind::Left);
  EXPECT_EQ(s.from[0]->left->left->name, u"a");
  EXPECT_EQ(s.from[1]->right->kind, TableRef::Kind::Derived);
  EXPECT_EQ(s.from[1]->right->alias, u"q");
  EXPECT_EQ(errorOf(u"SELECT * FROM a INNER JOIN b"), 3135);
  EXPECT_EQ(errorOf(u"SELECT * FROM a LEFT b ON a.x = b.x"), 3135);
}

TEST(Parser, TheThreeDeleteForms) {
  auto del = [](const char16_t* s) { return std::get<DeleteStmt>(parseStatement(s).body); };
  DeleteStmt a = del(u"DELETE FROM t WHERE x = 1");
  EXPECT_TRUE(a.targets.empty());
  EXPECT_EQ(a.from[0]->name, u"t");
  EXPECT_TRUE(a.where);
  DeleteStmt b = del(u"delete * from [My Table]");
  EXPECT_TRUE(b.targets.empty());
  EXPECT_EQ(b.from[0]->name, u"My Table");
  EXPECT_FALSE(b.where);
  DeleteStmt c = del(u"DELETE t.* FROM t INNER JOIN u ON t.id = u.id WHERE u.flag");
  ASSERT_EQ(c.targets.size(), 1u);
  EXPECT_EQ(c.targets[0], u"t");
  EXPECT_EQ(c.from[0]->kind, TableRef::Kind::Join);
  EXPECT_NE(errorOf(u"DELETE t"), 0);
}

TEST(Parser, UpdateWithJoinAndInsertForms) {
  Statement st = parse(u"UPDATE a INNER JOIN b ON a.id = b.id SET a.x = b.y + 1, [a].[z] = Null WHERE b.k > 0");
  const auto& u = std::get<UpdateStmt>(st.body);
  EXPECT_EQ(u.target->kind, TableRef::Kind::Join);
  ASSERT_EQ(u.sets.size(), 2u);
  EXPECT_EQ(u.sets[0].target->qualifier, u"a");
  EXPECT_EQ(u.sets[1].target->name, u"z");
  EXPECT_TRUE(st.isAction());

  Statement vs = parse(u"INSERT INTO t (a, [b c]) VALUES (1, 'x')");
  const auto& v = std::get<InsertStmt>(vs.body);
  EXPECT_EQ(v.columns, (std::vector<std::u16string>{u"a", u"b c"}));
  EXPECT_EQ(v.values.size(), 2u);
  Statement ss = parse(u"INSERT INTO t SELECT * FROM u WHERE k = 1");
  const auto& s = std::get<InsertStmt>(ss.body);
  EXPECT_TRUE(s.columns.empty());
  ASSERT_TRUE(s.select);
  EXPECT_EQ(s.select->from[0]->name, u"u");

  Statement is = parse(u"SELECT a, b INTO [New Table] FROM t");
  const Select& into = selectOf(is);
  EXPECT_EQ(into.into, u"New Table");
  EXPECT_TRUE(parse(u"SELECT a INTO n FROM t").isAction());
}

TEST(Parser, ParametersDeclarationAndUnion) {
  Statement st = parse(u"PARAMETERS [Start Date] DateTime, cnt Long; SELECT * FROM t WHERE d > [Start Date] "
                       u"UNION ALL SELECT * FROM u ORDER BY 1");
  ASSERT_EQ(st.parameters.size(), 2u);
  EXPECT_EQ(st.parameters[0].name, u"Start Date");
  EXPECT_EQ(st.parameters[0].type, ColType::DateTime);
  EXPECT_EQ(st.parameters[1].type, ColType::Long);
  const Select& s = selectOf(st);
  ASSERT_EQ(s.unions.size(), 1u);
  EXPECT_TRUE(s.unions[0].all);
  EXPECT_EQ(s.orderBy.size(), 1u);
  EXPECT_EQ(errorOf(u"PARAMETERS x Bogus; SELECT x FROM t"), 3139);
  EXPECT_EQ(errorOf(u"PARAMETERS x Long SELECT x FROM t"), 3139);
}

TEST(Parser, DataDefinitionStatements) {
  Statement ct = parse(
      u"CREATE TABLE [My Table] (ID COUNTER CONSTRAINT pk PRIMARY KEY, Name TEXT(50) NOT NULL, "
      u"Price CURRENCY, Amount DECIMAL(10, 2), Ref LONG REFERENCES Other (ID) ON DELETE CASCADE, "
      u"CONSTRAINT uq UNIQUE (Name, Price))");
  const auto& c = std::get<CreateTableStmt>(ct.body);
  EXPECT_EQ(c.table, u"My Table");
  ASSERT_EQ(c.fields.size(), 5u);
  EXPECT_TRUE(c.fields[0].type.autoIncrement);
  EXPECT_EQ(c.fields[0].constraints[0].kind, ConstraintDef::Kind::PrimaryKey);
  EXPECT_EQ(c.fields[0].constraints[0].name, u"pk");
  EXPECT_EQ(c.fields[1].type.type, ColType::Text);
  EXPECT_EQ(c.fields[1].type.size, 50);
  EXPECT_TRUE(c.fields[1].notNull);
  EXPECT_EQ(c.fields[3].type.precision, 10);
  EXPECT_EQ(c.fields[3].type.scale, 2);
  EXPECT_EQ(c.fields[4].constraints[0].refTable, u"Other");
  EXPECT_TRUE(c.fields[4].constraints[0].cascadeDelete);
  ASSERT_EQ(c.constraints.size(), 1u);
  EXPECT_EQ(c.constraints[0].columns.size(), 2u);

  Statement ixs = parse(u"CREATE UNIQUE INDEX ix ON t (a DESC, b) WITH DISALLOW NULL");
  const auto& ix = std::get<CreateIndexStmt>(ixs.body);
  EXPECT_TRUE(ix.unique);
  EXPECT_TRUE(ix.columns[0].descending);
  EXPECT_TRUE(ix.disallowNull);
  EXPECT_EQ(std::get<DropTableStmt>(parse(u"DROP TABLE t").body).table, u"t");
  EXPECT_EQ(std::get<DropIndexStmt>(parse(u"DROP INDEX ix ON t").body).index, u"ix");
  Statement alts = parse(u"ALTER TABLE t ADD COLUMN n MEMO");
  const auto& alt = std::get<AlterTableStmt>(alts.body);
  EXPECT_EQ(alt.action, AlterTableStmt::Action::AddColumn);
  EXPECT_EQ(alt.field.type.type, ColType::Memo);
  EXPECT_EQ(std::get<AlterTableStmt>(parse(u"ALTER TABLE t DROP CONSTRAINT pk").body).action,
            AlterTableStmt::Action::DropConstraint);

  EXPECT_EQ(errorOf(u"CREATE TABLE t (a TEXT(50)"), 3290);
  EXPECT_EQ(errorOf(u"CREATE TABLE t (a WIDGET)"), 3292);
  EXPECT_EQ(errorOf(u"CREATE INDEX ix ON t"), 3291);
  EXPECT_EQ(errorOf(u"ALTER TABLE t FROB x"), 3293);
  EXPECT_EQ(errorOf(u"DROP VIEW v"), 3295);
}

TEST(Parser, SyntaxErrorsCarryTheStatementsNumber) {
  EXPECT_EQ(errorOf(u"SELEC * FROM t"), 3129);
  EXPECT_EQ(errorOf(u""), 3129);
  EXPECT_EQ(errorOf(u"UPDATE t SET WHERE x = 1"), 3144);
  EXPECT_EQ(errorOf(u"UPDATE t x = 1"), 3144);
  EXPECT_EQ(errorOf(u"INSERT INTO t (a, b VALUES (1, 2)"), 3134);
  EXPECT_EQ(errorOf(u"INSERT INTO t (a) (1)"), 3134);
  EXPECT_EQ(errorOf(u"SELECT a b c FROM t"), 3075);
  EXPECT_EQ(errorOf(u"SELECT a FROM t WHERE"), 3141);
  EXPECT_EQ(errorOf(u"SELECT DISTINCT FROM t"), 3141);
  EXPECT_EQ(errorOf(u"SELECT * FROM t WHERE a = = 1"), 3075);
  EXPECT_EQ(errorOf(u"SELECT * FROM t WHERE (a = 1"), 3075);
  EXPECT_EQ(errorOf(u"SELECT * FROM t WHERE a Between 1 Or 2"), 3075);
  EXPECT_EQ(errorOf(u"SELECT * FROM"), 3131);
  EXPECT_EQ(errorOf(u"SELECT * FROM t; SELECT 1"), 3142);
  // Deep nesting is refused, not followed until the stack runs out.
  std::u16string deep = u"SELECT * FROM t WHERE " + std::u16string(100000, u'(') + u"1" +
                        std::u16string(100000, u')');
  EXPECT_EQ(errorOf(deep.c_str()), 3071);
  std::u16string signs = u"SELECT " + std::u16string(100000, u'-') + u"1 FROM t";
  EXPECT_EQ(errorOf(signs.c_str()), 3071);
  std::u16string chain = u"SELECT 1";
  for (int i = 0; i < 5000; ++i) chain += u" + 1";
  EXPECT_EQ(errorOf(chain.c_str()), 3071);
  std::u16string nested = u"SELECT a FROM t";
  for (int i = 0; i < 300; ++i) nested = u"SELECT * FROM (" + nested + u") AS q";
  EXPECT_EQ(errorOf(nested.c_str()), 3071);
  // The description names the faulty expression.
  try {
    parseStatement(u"SELECT * FROM t WHERE a + * 2 > 1");
    FAIL();
  } catch (const JetError& e) {
    EXPECT_EQ(e.number(), 3075);
    EXPECT_NE(std::string(e.what()).find("a + *"), std::string::npos) << e.what();
  }
}

}  // namespace
}  // namespace bv::sql
