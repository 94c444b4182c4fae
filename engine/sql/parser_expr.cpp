#include "engine/sql/parser_internal.h"

namespace bv::sql::detail {

ExprPtr Parser::expression() {
  exprStack_.push_back({peek().pos, i_});
  ExprPtr e = binaryLevel(0);
  // Two operands in a row ("a b") lack the operator between them.
  Tok next = peek().kind;
  if (next == Tok::QuotedName || next == Tok::Number || next == Tok::String ||
      next == Tok::Date || (next == Tok::Name && !isReserved(peek().text)))
    fail("an operator is missing");
  exprStack_.pop_back();
  return e;
}

void Parser::checkHeight(Expr& e) {
  for (const auto& a : e.args) e.height = std::max(e.height, a->height + 1);
  if (e.height > kMaxHeight)
    throw JetError(3071, "An expression of the statement is too long to be evaluated (" + near() + ").");
}

ExprPtr Parser::binary(Op op, ExprPtr a, ExprPtr b) {
  auto e = std::make_unique<Expr>();
  e->kind = ExprKind::Binary;
  e->op = op;
  e->pos = a->pos;
  e->end = b->end;
  e->args.push_back(std::move(a));
  e->args.push_back(std::move(b));
  checkHeight(*e);
  return e;
}

ExprPtr Parser::unary(Op op, ExprPtr a, size_t pos) {
  auto e = std::make_unique<Expr>();
  e->kind = ExprKind::Unary;
  e->op = op;
  e->pos = pos;
  e->end = a->end;
  e->args.push_back(std::move(a));
  checkHeight(*e);
  return e;
}

ExprPtr Parser::binaryLevel(int level) {
  static const std::u16string_view words[] = {u"IMP", u"EQV", u"XOR", u"OR", u"AND"};
  static const Op ops[] = {Op::Imp, Op::Eqv, Op::Xor, Op::Or, Op::And};
  if (level == 5) return notLevel();
  ExprPtr left = binaryLevel(level + 1);
  while (acceptKw(words[level])) left = binary(ops[level], std::move(left), binaryLevel(level + 1));
  return left;
}

ExprPtr Parser::notLevel() {
  Nesting guard(*this);
  if (isKw(u"NOT")) {
    size_t pos = take().pos;
    return unary(Op::Not, notLevel(), pos);
  }
  return comparison();
}

ExprPtr Parser::comparison() {
  ExprPtr left = concat();
  while (true) {
    const Token& t = peek();
    if (t.kind == Tok::Op) {
      Op op;
      if (t.text == u"=") op = Op::Eq;
      else if (t.text == u"<>") op = Op::Ne;
      else if (t.text == u"<") op = Op::Lt;
      else if (t.text == u"<=") op = Op::Le;
      else if (t.text == u">") op = Op::Gt;
      else if (t.text == u">=") op = Op::Ge;
      else break;
      take();
      left = binary(op, std::move(left), concat());
      continue;
    }
    if (t.kind != Tok::Name) break;
    bool negated = false;
    if (isKw(u"NOT") && (isKw(u"LIKE", 1) || isKw(u"BETWEEN", 1) || isKw(u"IN", 1))) {
      take();
      negated = true;
    }
    auto e = std::make_unique<Expr>();
    e->pos = left->pos;
    e->negated = negated;
    if (acceptKw(u"LIKE")) {
      e->kind = ExprKind::Like;
      e->args.push_back(std::move(left));
      e->args.push_back(concat());
    } else if (acceptKw(u"BETWEEN")) {
      e->kind = ExprKind::Between;
      e->args.push_back(std::move(left));
      e->args.push_back(concat());
      expectKw(u"AND");
      e->args.push_back(concat());
    } else if (acceptKw(u"IN")) {
      e->args.push_back(std::move(left));
      expectOp(u"(");
      if (isKw(u"SELECT")) {
        e->kind = ExprKind::InSelect;
        e->sub = subSelect();
      } else {
        e->kind = ExprKind::InList;
        do {
          e->args.push_back(expression());
        } while (acceptOp(u","));
      }
      expectOp(u")");
    } else if (acceptKw(u"IS")) {
      e->kind = ExprKind::IsNull;
      e->negated = acceptKw(u"NOT");
      expectKw(u"NULL");
      e->args.push_back(std::move(left));
    } else {
      if (negated) fail("expected Like, Between or In");
      break;
    }
    e->end = toks_[i_ > 0 ? i_ - 1 : 0].end;
    left = std::move(e);
  }
  return left;
}

ExprPtr Parser::concat() {
  ExprPtr left = additive();
  while (acceptOp(u"&")) left = binary(Op::Concat, std::move(left), additive());
  return left;
}

ExprPtr Parser::additive() {
  ExprPtr left = modulo();
  while (true) {
    if (acceptOp(u"+")) left = binary(Op::Add, std::move(left), modulo());
    else if (acceptOp(u"-")) left = binary(Op::Sub, std::move(left), modulo());
    else return left;
  }
}

ExprPtr Parser::modulo() {
  ExprPtr left = intDiv();
  while (acceptKw(u"MOD")) left = binary(Op::Mod, std::move(left), intDiv());
  return left;
}

ExprPtr Parser::intDiv() {
  ExprPtr left = multiplicative();
  while (acceptOp(u"\\")) left = binary(Op::IntDiv, std::move(left), multiplicative());
  return left;
}

ExprPtr Parser::multiplicative() {
  ExprPtr left = signedTerm();
  while (true) {
    if (acceptOp(u"*")) left = binary(Op::Mul, std::move(left), signedTerm());
    else if (acceptOp(u"/")) left = binary(Op::Div, std::move(left), signedTerm());
    else return left;
  }
}

ExprPtr Parser::signedTerm() {
  Nesting guard(*this);
  if (isOp(u"-")) {
    size_t pos = take().pos;
    return unary(Op::Neg, signedTerm(), pos);
  }
  if (isOp(u"+")) {
    size_t pos = take().pos;
    return unary(Op::Plus, signedTerm(), pos);
  }
  return power();
}

ExprPtr Parser::power() {
  ExprPtr left = primary();
  while (acceptOp(u"^")) {
    ExprPtr right;
    if (isOp(u"-")) {
      size_t pos = take().pos;
      right = unary(Op::Neg, primary(), pos);
    } else {
      right = primary();
    }
    left = binary(Op::Pow, std::move(left), std::move(right));
  }
  return left;
}

ExprPtr Parser::numberLiteral(const Token& t) {
  const std::u16string& s = t.text;
  if (s.size() > 2 && s[0] == u'&') {
    bool hex = s[1] == u'H' || s[1] == u'h';
    uint64_t v = 0;
    for (size_t k = 2; k < s.size(); ++k) {
      char16_t c = s[k];
      unsigned d = c <= u'9' ? c - u'0' : (c | 0x20) - u'a' + 10;
      v = v * (hex ? 16 : 8) + d;
      if (v > 0xFFFFFFFFull) fail("number out of range");
    }
    // Like VBA: up to 4 hex digits is a 16-bit value, longer a 32-bit one (bits kept).
    if (v <= 0xFFFF && s.size() - 2 <= (hex ? 4u : 6u))
      return makeLiteral(Value(int32_t(int16_t(uint16_t(v)))), t.pos, t.end);
    return makeLiteral(Value(int32_t(uint32_t(v))), t.pos, t.end);
  }
  std::string a = toUtf8(s);
  bool integral = a.find_first_of(".eE") == std::string::npos;
  if (integral) {
    errno = 0;
    long long v = std::strtoll(a.c_str(), nullptr, 10);
    if (errno == 0 && v >= INT32_MIN && v <= INT32_MAX)
      return makeLiteral(Value(int32_t(v)), t.pos, t.end);
  }
  double d = std::strtod(a.c_str(), nullptr);
  if (!std::isfinite(d)) overflow(t);
  return makeLiteral(Value(d), t.pos, t.end);
}

void Parser::overflow(const Token& t) {
  throw JetError(3349, "The number " + toUtf8(t.text) + " is too large (numeric overflow).");
}

ExprPtr Parser::primary() {
  Nesting guard(*this);
  const Token& t = peek();
  switch (t.kind) {
    case Tok::Number:
      take();
      return numberLiteral(t);
    case Tok::String:
      take();
      return makeLiteral(Value(t.text), t.pos, t.end);
    case Tok::Date: {
      take();
      auto d = parseDateLiteral(t.text);
      if (!d) {
        --i_;
        fail("'#" + toUtf8(t.text) + "#' is not a valid date");
      }
      return makeLiteral(Value(DateTime{*d}), t.pos, t.end);
    }
    case Tok::Op:
      if (t.text == u"(") {
        size_t pos = take().pos;
        if (isKw(u"SELECT")) {
          auto e = std::make_unique<Expr>();
          e->kind = ExprKind::Subquery;
          e->pos = pos;
          e->sub = subSelect();
          e->end = peek().end;
          expectOp(u")");
          return e;
        }
        ExprPtr inner = expression();
        expectOp(u")");
        return inner;
      }
      if (t.text == u"?") {
        take();
        auto e = std::make_unique<Expr>();
        e->kind = ExprKind::Param;
        e->pos = t.pos;
        e->end = t.end;
        return e;
      }
      fail("expected a value");
    case Tok::Name:
      if (equalsNoCase(t.text, u"NULL")) { take(); return makeLiteral(Value(), t.pos, t.end); }
      if (equalsNoCase(t.text, u"TRUE")) { take(); return makeLiteral(Value(true), t.pos, t.end); }
      if (equalsNoCase(t.text, u"FALSE")) { take(); return makeLiteral(Value(false), t.pos, t.end); }
      if (equalsNoCase(t.text, u"EXISTS")) {
        take();
        auto e = std::make_unique<Expr>();
        e->kind = ExprKind::Exists;
        e->pos = t.pos;
        expectOp(u"(");
        e->sub = subSelect();
        e->end = peek().end;
        expectOp(u")");
        return e;
      }
      // Some keywords are also function names (Left, Right, Asc): followed by an opening
      // parenthesis inside an expression they can only be the call.
      if (isReserved(t.text) && !(isOp(u"(", 1) && isKnownFunction(t.text)))
        fail("expected a value");
      [[fallthrough]];
    case Tok::QuotedName:
      return nameOrCall();
    default:
      fail("expected a value");
  }
}

ExprPtr Parser::nameOrCall() {
  const Token& first = take();
  auto e = std::make_unique<Expr>();
  e->pos = first.pos;
  e->end = first.end;
  if (first.kind == Tok::Name && isOp(u"(")) {
    take();
    e->kind = ExprKind::Call;
    e->name = first.text;
    if (isOp(u"*")) {
      take();
      e->star = true;
    } else if (!isOp(u")")) {
      acceptKw(u"ALL");
      do {
        e->args.push_back(expression());
      } while (acceptOp(u","));
    }
    e->end = peek().end;
    expectOp(u")");
    return e;
  }
  e->kind = ExprKind::Column;
  e->name = first.text;
  while (isOp(u".") || isOp(u"!")) {
    take();
    if (!isNameToken() && peek().kind != Tok::Name) fail("expected a name after '.'");
    const Token& part = take();
    if (!e->qualifier.empty()) e->qualifier += u".";
    e->qualifier += e->name;
    e->name = part.text;
    e->end = part.end;
  }
  return e;
}

}  // namespace bv::sql::detail
