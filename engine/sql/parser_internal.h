// The recursive-descent parser behind parseStatement, shared by its files: parser.cpp
// (statements, UPDATE/DELETE/INSERT, PARAMETERS), parser_expr.cpp (expressions),
// parser_select.cpp (SELECT and FROM) and parser_ddl.cpp (data definition).
#pragma once

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

namespace bv::sql::detail {

// Words that end an expression or a name list and can never stand for a column unbracketed.
bool isReserved(std::u16string_view w);

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
  ExprPtr expression();

  // Long operator chains ("1+1+1+...") make deep trees that evaluation walks recursively.
  static constexpr int kMaxHeight = 2000;
  void checkHeight(Expr& e);
  ExprPtr binary(Op op, ExprPtr a, ExprPtr b);
  ExprPtr unary(Op op, ExprPtr a, size_t pos);

  // Logical operators, lowest first: Imp, Eqv, Xor, Or, And.
  ExprPtr binaryLevel(int level);
  ExprPtr notLevel();
  ExprPtr comparison();
  ExprPtr concat();
  ExprPtr additive();
  ExprPtr modulo();
  ExprPtr intDiv();
  ExprPtr multiplicative();
  ExprPtr signedTerm();
  // '^' binds tighter than a sign in front of it (-2^2 is -4) but its right operand may
  // carry its own sign (2^-1).
  ExprPtr power();
  ExprPtr numberLiteral(const Token& t);

  // A number too large for any numeric type Jet has.
  [[noreturn]] void overflow(const Token& t);
  ExprPtr primary();
  ExprPtr nameOrCall();

  // SELECT ---------------------------------------------------------------------------
  std::unique_ptr<Select> subSelect();
  std::unique_ptr<Select> selectWithUnions();
  std::unique_ptr<Select> selectCore();
  std::vector<TableRefPtr> fromList();
  TableRefPtr joinChain();
  TableRefPtr tableFactor();

  // Other statements -----------------------------------------------------------------
  void enter(int number, const char* what) {
    stmtError_ = number;
    stmtName_ = what;
  }

  UpdateStmt update();
  DeleteStmt deleteStmt();
  InsertStmt insert();

  // Data definition ------------------------------------------------------------------
  FieldType fieldType();
  std::vector<std::u16string> nameList();
  void referentialActions(ConstraintDef& c);

  // [CONSTRAINT name] PRIMARY KEY | UNIQUE | NOT NULL | REFERENCES ...; with columns for
  // a table constraint.
  bool constraint(ConstraintDef& c, bool tableLevel);
  FieldDef fieldDef();
  Statement::Body createStmt();
  Statement::Body dropStmt();
  AlterTableStmt alterStmt();

  void parameters(std::vector<ParamDecl>& out);
};

}  // namespace bv::sql::detail
