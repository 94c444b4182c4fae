#include "engine/sql/parser.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <climits>
#include <cmath>
#include <cstdlib>
#include <initializer_list>

#include "engine/sql/datetime.h"
#include "engine/sql/functions.h"
#include "engine/sql/lexer.h"
#include "engine/storage/error.h"

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

namespace {

// Words that end an expression or a name list and can never stand for a column unbracketed.
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

class Parser {
 public:
  explicit Parser(std::u16string_view sql) : sql_(sql), toks_(tokenize(sql, 3075)) {}

  Statement statement();

 private:
  std::u16string_view sql_;
  std::vector<Token> toks_;
  size_t i_ = 0;
  int stmtError_ = 3129;
  std::string stmtName_ = "statement";
  // Start offsets of the expressions being parsed (innermost last) and the token index
  // where each began, so that an error inside names the expression.
  std::vector<std::pair<size_t, size_t>> exprStack_;
  // Nesting (parentheses, signs, Not, subqueries) is bounded so that hostile input cannot
  // exhaust the stack.
  int depth_ = 0;
  static constexpr int kMaxDepth = 200;
  struct Nesting {
    Parser& p;
    explicit Nesting(Parser& parser) : p(parser) {
      if (++p.depth_ > kMaxDepth) {
        --p.depth_;
        throw JetError(3071, "The statement nests too deeply to be evaluated (" + p.near() + ").");
      }
    }
    ~Nesting() { --p.depth_; }
  };

  const Token& peek(size_t ahead = 0) const {
    size_t k = std::min(i_ + ahead, toks_.size() - 1);
    return toks_[k];
  }
  const Token& take() {
    const Token& t = toks_[i_];
    if (i_ + 1 < toks_.size()) ++i_;
    return t;
  }
  bool atEnd() const { return peek().kind == Tok::End; }
  bool isKw(std::u16string_view kw, size_t ahead = 0) const {
    const Token& t = peek(ahead);
    return t.kind == Tok::Name && equalsNoCase(t.text, kw);
  }
  bool acceptKw(std::u16string_view kw) {
    if (!isKw(kw)) return false;
    take();
    return true;
  }
  bool isOp(std::u16string_view op, size_t ahead = 0) const {
    const Token& t = peek(ahead);
    return t.kind == Tok::Op && t.text == op;
  }
  bool acceptOp(std::u16string_view op) {
    if (!isOp(op)) return false;
    take();
    return true;
  }
  void expectKw(std::u16string_view kw) {
    if (!acceptKw(kw)) fail("expected " + toUtf8(kw));
  }
  void expectOp(std::u16string_view op) {
    if (!acceptOp(op)) fail("expected '" + toUtf8(op) + "'");
  }

  std::string near() const {
    const Token& t = peek();
    if (t.kind == Tok::End) return "at the end of the statement";
    return "near '" + toUtf8(sql_.substr(t.pos, t.end - t.pos)) + "' (character " +
           std::to_string(t.pos + 1) + ")";
  }

  // A syntax error: inside an expression that has begun, it names that expression (3075);
  // otherwise it is the statement's own syntax error.
  [[noreturn]] void fail(const std::string& what) {
    if (!exprStack_.empty() && exprStack_.back().second != i_) {
      size_t start = exprStack_.front().first;
      size_t stop = peek().kind == Tok::End ? sql_.size() : peek().end;
      std::u16string text(sql_.substr(start, stop - start));
      throw JetError(3075, "Syntax error in the expression '" + toUtf8(text) + "': " + what +
                               " " + near() + ".");
    }
    throw JetError(stmtError_, "Syntax error in the " + stmtName_ + ": " + what + " " +
                                   near() + ".");
  }
  [[noreturn]] void failWith(int number, const std::string& what) {
    throw JetError(number, what + " " + near() + ".");
  }

  // Names ------------------------------------------------------------------------------
  bool isNameToken(size_t ahead = 0) const {
    const Token& t = peek(ahead);
    return t.kind == Tok::QuotedName || (t.kind == Tok::Name && !isReserved(t.text));
  }
  std::u16string name(const char* what) {
    if (!isNameToken()) fail(std::string("expected ") + what);
    return take().text;
  }
  // A name that may also be written as a reserved word or a text (aliases, declarations).
  std::u16string looseName(const char* what) {
    const Token& t = peek();
    if (t.kind == Tok::QuotedName || t.kind == Tok::Name || t.kind == Tok::String)
      return take().text;
    fail(std::string("expected ") + what);
  }

  // Expressions ------------------------------------------------------------------------
  ExprPtr expression() {
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

  // Long operator chains ("1+1+1+...") make deep trees that evaluation walks recursively.
  static constexpr int kMaxHeight = 2000;
  void checkHeight(Expr& e) {
    for (const auto& a : e.args) e.height = std::max(e.height, a->height + 1);
    if (e.height > kMaxHeight)
      throw JetError(3071, "An expression of the statement is too long to be evaluated (" + near() + ").");
  }

  ExprPtr binary(Op op, ExprPtr a, ExprPtr b) {
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
  ExprPtr unary(Op op, ExprPtr a, size_t pos) {
    auto e = std::make_unique<Expr>();
    e->kind = ExprKind::Unary;
    e->op = op;
    e->pos = pos;
    e->end = a->end;
    e->args.push_back(std::move(a));
    checkHeight(*e);
    return e;
  }

  // Logical operators, lowest first: Imp, Eqv, Xor, Or, And.
  ExprPtr binaryLevel(int level) {
    static const std::u16string_view words[] = {u"IMP", u"EQV", u"XOR", u"OR", u"AND"};
    static const Op ops[] = {Op::Imp, Op::Eqv, Op::Xor, Op::Or, Op::And};
    if (level == 5) return notLevel();
    ExprPtr left = binaryLevel(level + 1);
    while (acceptKw(words[level])) left = binary(ops[level], std::move(left), binaryLevel(level + 1));
    return left;
  }

  ExprPtr notLevel() {
    Nesting guard(*this);
    if (isKw(u"NOT")) {
      size_t pos = take().pos;
      return unary(Op::Not, notLevel(), pos);
    }
    return comparison();
  }

  ExprPtr comparison() {
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

  ExprPtr concat() {
    ExprPtr left = additive();
    while (acceptOp(u"&")) left = binary(Op::Concat, std::move(left), additive());
    return left;
  }
  ExprPtr additive() {
    ExprPtr left = modulo();
    while (true) {
      if (acceptOp(u"+")) left = binary(Op::Add, std::move(left), modulo());
      else if (acceptOp(u"-")) left = binary(Op::Sub, std::move(left), modulo());
      else return left;
    }
  }
  ExprPtr modulo() {
    ExprPtr left = intDiv();
    while (acceptKw(u"MOD")) left = binary(Op::Mod, std::move(left), intDiv());
    return left;
  }
  ExprPtr intDiv() {
    ExprPtr left = multiplicative();
    while (acceptOp(u"\\")) left = binary(Op::IntDiv, std::move(left), multiplicative());
    return left;
  }
  ExprPtr multiplicative() {
    ExprPtr left = signedTerm();
    while (true) {
      if (acceptOp(u"*")) left = binary(Op::Mul, std::move(left), signedTerm());
      else if (acceptOp(u"/")) left = binary(Op::Div, std::move(left), signedTerm());
      else return left;
    }
  }
  ExprPtr signedTerm() {
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
  // '^' binds tighter than a sign in front of it (-2^2 is -4) but its right operand may
  // carry its own sign (2^-1).
  ExprPtr power() {
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

  ExprPtr numberLiteral(const Token& t) {
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

  // A number too large for any numeric type Jet has.
  [[noreturn]] void overflow(const Token& t) {
    throw JetError(3349, "The number " + toUtf8(t.text) + " is too large (numeric overflow).");
  }

  ExprPtr primary() {
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

  ExprPtr nameOrCall() {
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

  // SELECT ---------------------------------------------------------------------------
  std::unique_ptr<Select> subSelect() {
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

  std::unique_ptr<Select> selectWithUnions() {
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

  std::unique_ptr<Select> selectCore() {
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

  std::vector<TableRefPtr> fromList() {
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

  TableRefPtr joinChain() {
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

  TableRefPtr tableFactor() {
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

  // Other statements -----------------------------------------------------------------
  void enter(int number, const char* what) {
    stmtError_ = number;
    stmtName_ = what;
  }

  UpdateStmt update() {
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

  DeleteStmt deleteStmt() {
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

  InsertStmt insert() {
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

  FieldType fieldType() {
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

  std::vector<std::u16string> nameList() {
    std::vector<std::u16string> out;
    expectOp(u"(");
    do {
      out.push_back(name("a field name"));
    } while (acceptOp(u","));
    expectOp(u")");
    return out;
  }

  void referentialActions(ConstraintDef& c) {
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

  // [CONSTRAINT name] PRIMARY KEY | UNIQUE | NOT NULL | REFERENCES ...; with columns for
  // a table constraint.
  bool constraint(ConstraintDef& c, bool tableLevel) {
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

  FieldDef fieldDef() {
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

  Statement::Body createStmt();
  Statement::Body dropStmt();
  AlterTableStmt alterStmt();

  void parameters(std::vector<ParamDecl>& out) {
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
};

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

}  // namespace

Statement parseStatement(std::u16string_view sql) {
  Parser p(sql);
  return p.statement();
}

std::optional<double> parseDateLiteral(std::u16string_view text) { return parseDateTime(text); }

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
