// Parsed Jet SQL: expressions and statements. The binder fills the resolution slots of
// expression nodes (which table and column a name stands for, which parameter it is).
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <variant>
#include <vector>

#include "engine/storage/value.h"

namespace bv::sql {

struct Select;

// Operators as written; the evaluator maps them onto the value semantics.
enum class Op {
  Add, Sub, Mul, Div, IntDiv, Mod, Pow, Concat,
  Eq, Ne, Lt, Le, Gt, Ge,
  And, Or, Xor, Eqv, Imp,
  Neg, Not, Plus,
};

enum class ExprKind {
  Literal,    // value
  Column,     // qualifier.name, or a parameter when it resolves to no column
  Param,      // '?' marker or a declared / unresolved name
  Unary,      // op, args[0]
  Binary,     // op, args[0], args[1]
  Like,       // args[0] Like args[1]; negated
  Between,    // args[0] Between args[1] And args[2]; negated
  InList,     // args[0] In (args[1..]); negated
  InSelect,   // args[0] In (sub); negated
  IsNull,     // args[0] Is Null; negated
  Exists,     // Exists (sub); negated
  Subquery,   // (sub) as a value
  Call,       // name(args); star for Count(*); distinct for Count(Distinct x)
};

struct Expr;
using ExprPtr = std::unique_ptr<Expr>;

struct Expr {
  ExprKind kind = ExprKind::Literal;
  Op op = Op::Add;
  bool negated = false;
  bool star = false;
  Value value;
  std::u16string qualifier;  // Column: the table or alias before the dot; may be empty
  std::u16string name;       // Column / Param / Call name
  std::vector<ExprPtr> args;
  std::unique_ptr<Select> sub;
  size_t pos = 0;  // offset in the statement text
  size_t end = 0;
  int height = 1;  // operator nodes: levels of operators below and including this one

  // Filled by binding.
  // (Binding annotates an otherwise immutable tree, hence mutable.)
  mutable int depth = -1;      // Column: 0 = this query's sources, 1 = the enclosing query, ...
  mutable int source = -1;     // Column: index of the FROM source
  mutable int column = -1;     // Column: column index in that source
  mutable int param = -1;      // Param (or an unresolved Column): index into the parameters
  mutable int aggregate = -1;  // Call of an aggregate: slot in the group's accumulators
  mutable int output = -1;     // Column naming a select-list output (ORDER BY / HAVING)

  Expr();
  ~Expr();
};

ExprPtr makeLiteral(Value v, size_t pos = 0, size_t end = 0);

enum class JoinKind { Inner, Left, Right, Cross };

// One item of a FROM list: a stored table or query, a parenthesized SELECT, or a join.
struct TableRef {
  enum class Kind { Table, Derived, Join } kind = Kind::Table;
  std::u16string name;   // Table: as written
  std::u16string alias;  // empty when none
  std::unique_ptr<Select> sub;  // Derived
  JoinKind join = JoinKind::Inner;
  std::unique_ptr<TableRef> left, right;  // Join
  ExprPtr on;                             // Join condition (Inner/Left/Right)
  size_t pos = 0;

  // The name the query refers to this source by.
  const std::u16string& refName() const { return alias.empty() ? name : alias; }
};
using TableRefPtr = std::unique_ptr<TableRef>;

struct SelectItem {
  ExprPtr expr;                 // null for * and t.*
  std::u16string alias;
  bool star = false;            // * or t.*
  std::u16string starQualifier; // t of t.*
  std::u16string text;          // the item as written (names an unaliased expression)
};

struct OrderItem {
  ExprPtr expr;
  bool descending = false;
};

struct Select {
  bool distinct = false;     // DISTINCT
  bool distinctRow = false;  // DISTINCTROW (whole-row uniqueness of the sources; no effect here)
  std::optional<double> top;
  bool topPercent = false;
  std::vector<SelectItem> items;
  std::u16string into;  // SELECT ... INTO table
  std::vector<TableRefPtr> from;
  ExprPtr where;
  std::vector<ExprPtr> groupBy;
  ExprPtr having;
  std::vector<OrderItem> orderBy;
  // UNION chain: this SELECT, then each of `unions` (ALL when unionAll is set).
  struct UnionPart {
    std::unique_ptr<Select> select;
    bool all = false;
  };
  std::vector<UnionPart> unions;
  size_t pos = 0;
};

struct ParamDecl {
  std::u16string name;
  std::u16string typeName;
  std::optional<ColType> type;
};

struct Assignment {
  ExprPtr target;  // a Column expression
  ExprPtr value;
};

struct SelectStmt {
  std::unique_ptr<Select> select;
};

struct UpdateStmt {
  TableRefPtr target;  // a table or a join of tables
  std::vector<Assignment> sets;
  ExprPtr where;
};

struct DeleteStmt {
  std::vector<std::u16string> targets;  // t of "DELETE t.*"; empty for "DELETE [*] FROM t"
  std::vector<TableRefPtr> from;
  ExprPtr where;
};

struct InsertStmt {
  std::u16string table;
  std::vector<std::u16string> columns;  // empty: by position (VALUES) or by name (SELECT)
  std::vector<ExprPtr> values;          // INSERT ... VALUES
  std::unique_ptr<Select> select;       // INSERT ... SELECT
};

// Data definition.
struct FieldType {
  std::u16string typeName;  // as written
  ColType type = ColType::Text;
  int size = 0;  // Text/Binary length; 0 when none was given
  int precision = 0, scale = 0;  // Decimal
  bool autoIncrement = false;
  int seed = 1, increment = 1;
};

struct ConstraintDef {
  enum class Kind { PrimaryKey, Unique, NotNull, ForeignKey } kind = Kind::PrimaryKey;
  std::u16string name;
  std::vector<std::u16string> columns;
  std::u16string refTable;
  std::vector<std::u16string> refColumns;
  bool cascadeUpdate = false, cascadeDelete = false;
};

struct FieldDef {
  std::u16string name;
  FieldType type;
  bool notNull = false;
  bool withCompression = false;
  ExprPtr defaultValue;
  std::vector<ConstraintDef> constraints;  // column constraints (columns left empty)
};

struct CreateTableStmt {
  std::u16string table;
  std::vector<FieldDef> fields;
  std::vector<ConstraintDef> constraints;
};

struct DropTableStmt {
  std::u16string table;
};

struct IndexColumn {
  std::u16string name;
  bool descending = false;
};

struct CreateIndexStmt {
  bool unique = false;
  std::u16string index, table;
  std::vector<IndexColumn> columns;
  bool primary = false, disallowNull = false, ignoreNull = false;
};

struct DropIndexStmt {
  std::u16string index, table;
};

struct AlterTableStmt {
  enum class Action { AddColumn, AlterColumn, DropColumn, AddConstraint, DropConstraint };
  std::u16string table;
  Action action = Action::AddColumn;
  FieldDef field;            // AddColumn / AlterColumn
  ConstraintDef constraint;  // AddConstraint
  std::u16string name;       // DropColumn / DropConstraint
};

enum class StatementKind {
  Select, Update, Delete, Insert, CreateTable, DropTable, CreateIndex, DropIndex, AlterTable
};

struct Statement {
  std::vector<ParamDecl> parameters;
  using Body = std::variant<SelectStmt, UpdateStmt, DeleteStmt, InsertStmt, CreateTableStmt,
                            DropTableStmt, CreateIndexStmt, DropIndexStmt, AlterTableStmt>;
  Body body;
  std::u16string text;  // the statement as given

  StatementKind kind() const { return static_cast<StatementKind>(body.index()); }
  bool isAction() const;  // changes data (everything but a plain SELECT)
};

}  // namespace bv::sql
