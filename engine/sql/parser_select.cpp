#include "engine/sql/parser_internal.h"

namespace bv::sql::detail {

std::unique_ptr<Select> Parser::subSelect() {
  // A nested SELECT reports its own syntax errors as SELECT errors, not as the
  // enclosing expression's.
  auto saved = std::move(exprStack_);
  exprStack_.clear();
  int savedErr = stmtError_;
  std::string savedName = stmtName_;
  stmtError_ = 3141;
  stmtName_ = "SELECT statement";
  auto s = selectWithUnions();
  stmtError_ = savedErr;
  stmtName_ = savedName;
  exprStack_ = std::move(saved);
  return s;
}

std::unique_ptr<Select> Parser::selectWithUnions() {
  auto s = selectCore();
  while (isKw(u"UNION")) {
    take();
    Select::UnionPart part;
    part.all = acceptKw(u"ALL");
    if (acceptOp(u"(")) {
      part.select = selectWithUnions();
      expectOp(u")");
    } else {
      if (!isKw(u"SELECT")) fail("expected SELECT after UNION");
      part.select = selectCore();
    }
    s->unions.push_back(std::move(part));
  }
  if (isKw(u"ORDER")) {
    take();
    expectKw(u"BY");
    do {
      OrderItem item;
      item.expr = expression();
      if (acceptKw(u"DESC")) item.descending = true;
      else acceptKw(u"ASC");
      s->orderBy.push_back(std::move(item));
    } while (acceptOp(u","));
  }
  return s;
}

std::unique_ptr<Select> Parser::selectCore() {
  auto s = std::make_unique<Select>();
  s->pos = peek().pos;
  expectKw(u"SELECT");
  if (acceptKw(u"DISTINCT")) s->distinct = true;
  else if (acceptKw(u"DISTINCTROW")) s->distinctRow = true;
  else acceptKw(u"ALL");
  if (acceptKw(u"TOP")) {
    const Token& n = peek();
    if (n.kind != Tok::Number) fail("expected a number after TOP");
    take();
    double v = std::strtod(toUtf8(n.text).c_str(), nullptr);
    // TOP counts records with a Long.
    if (!std::isfinite(v) || v > 2147483647.0) overflow(n);
    s->topPercent = acceptKw(u"PERCENT");
    if (v <= 0 || (!s->topPercent && v != std::floor(v)) || (s->topPercent && v > 100)) {
      --i_;
      fail("the TOP value is not valid");
    }
    s->top = v;
  }
  do {
    SelectItem item;
    size_t start = peek().pos;
    if (acceptOp(u"*")) {
      item.star = true;
    } else if ((peek().kind == Tok::Name || peek().kind == Tok::QuotedName) &&
               (isOp(u".", 1) || isOp(u"!", 1)) && isOp(u"*", 2)) {
      item.star = true;
      item.starQualifier = take().text;
      take();
      take();
    } else {
      item.expr = expression();
      item.text = std::u16string(sql_.substr(start, item.expr->end - start));
      if (acceptKw(u"AS")) item.alias = looseName("a name after AS");
    }
    s->items.push_back(std::move(item));
  } while (acceptOp(u","));
  if (acceptKw(u"INTO")) s->into = name("a table name after INTO");
  if (acceptKw(u"FROM")) s->from = fromList();
  if (acceptKw(u"WHERE")) s->where = expression();
  if (isKw(u"GROUP")) {
    take();
    expectKw(u"BY");
    do {
      s->groupBy.push_back(expression());
    } while (acceptOp(u","));
  }
  if (acceptKw(u"HAVING")) s->having = expression();
  return s;
}

std::vector<TableRefPtr> Parser::fromList() {
  std::vector<TableRefPtr> out;
  int savedErr = stmtError_;
  std::string savedName = stmtName_;
  stmtError_ = 3131;
  stmtName_ = "FROM clause";
  do {
    out.push_back(joinChain());
  } while (acceptOp(u","));
  stmtError_ = savedErr;
  stmtName_ = savedName;
  return out;
}

TableRefPtr Parser::joinChain() {
  TableRefPtr left = tableFactor();
  while (true) {
    JoinKind kind;
    if (isKw(u"INNER") && isKw(u"JOIN", 1)) kind = JoinKind::Inner;
    else if (isKw(u"LEFT")) kind = JoinKind::Left;
    else if (isKw(u"RIGHT")) kind = JoinKind::Right;
    else if (isKw(u"JOIN")) kind = JoinKind::Inner;
    else break;
    if (!isKw(u"JOIN")) take();
    acceptKw(u"OUTER");
    if (!acceptKw(u"JOIN")) failWith(3135, "Syntax error in a JOIN: expected JOIN");
    auto j = std::make_unique<TableRef>();
    j->kind = TableRef::Kind::Join;
    j->join = kind;
    j->pos = left->pos;
    j->left = std::move(left);
    j->right = tableFactor();
    if (!acceptKw(u"ON")) failWith(3135, "Syntax error in a JOIN: expected ON and a condition");
    j->on = expression();
    left = std::move(j);
  }
  return left;
}

TableRefPtr Parser::tableFactor() {
  Nesting guard(*this);
  auto t = std::make_unique<TableRef>();
  t->pos = peek().pos;
  if (acceptOp(u"(")) {
    if (isKw(u"SELECT")) {
      t->kind = TableRef::Kind::Derived;
      t->sub = subSelect();
      expectOp(u")");
    } else {
      TableRefPtr inner = joinChain();
      expectOp(u")");
      return inner;
    }
  } else {
    t->name = name("a table name");
  }
  if (acceptKw(u"AS")) t->alias = name("an alias after AS");
  else if (isNameToken()) t->alias = take().text;
  if (t->kind == TableRef::Kind::Derived && t->alias.empty())
    t->alias = u"Query" + fromUtf8(std::to_string(t->pos + 1));
  return t;
}

}  // namespace bv::sql::detail
