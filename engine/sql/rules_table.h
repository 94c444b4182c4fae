// The rules Jet keeps for a table in its properties and enforces on every row written:
// Required (3314), AllowZeroLength (3315), column and table validation rules (3317, 3316),
// and the DefaultValue given to columns an INSERT leaves out.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "engine/sql/ast.h"
#include "engine/sql/source.h"
#include "engine/storage/database.h"
#include "engine/storage/properties.h"

namespace bv::sql {

struct ColumnRules {
  bool required = false;
  // Only an explicit AllowZeroLength = No forbids "" (a column without the property takes
  // zero-length text, as columns made by data definition do).
  bool allowZeroLength = true;
  std::optional<std::u16string> defaultValue;  // expression text, a leading '=' removed
  std::optional<std::u16string> validationRule;
  std::optional<std::u16string> validationText;
};

class TableRules {
 public:
  // The rules of `table` as its properties give them (`props` as parsed from LvProp).
  TableRules(const storage::TableDef& table, const storage::ObjectProperties& props, bool jet4);
  TableRules(TableRules&&) noexcept;
  ~TableRules();

  const std::vector<ColumnRules>& columns() const { return columns_; }  // TableDef order
  bool hasDefaults() const;

  // The values an INSERT gives the columns it leaves out: each column's default evaluated
  // once (Null where there is none, and for AutoNumber columns, which number themselves).
  // Values are converted to the column types (3163/3464/3421 as for any value).
  std::vector<Value> defaults() const;

  // Checks a row about to be written (TableDef::columns order). `changed` names the
  // columns an UPDATE assigns (null: all, as for an INSERT): Required is checked for every
  // column, zero-length text and column validation rules for the changed ones, the table's
  // rule always. Throws JetError 3314, 3315, 3317 or 3316.
  void check(const std::vector<Value>& row, const std::vector<bool>* changed = nullptr) const;
  // True when the table has no rule that check could find broken (it may be skipped).
  bool enforcesNothing() const { return enforcesNothing_; }

  struct Compiled;  // an expression of the rules, parsed once

 private:
  const storage::TableDef* table_;
  std::vector<SourceColumn> sourceColumns_;
  std::vector<ColumnRules> columns_;
  std::optional<std::u16string> tableRule_, tableText_;
  std::vector<std::unique_ptr<Compiled>> columnRules_;  // per column, null when none
  std::unique_ptr<Compiled> tableRuleCompiled_;
  bool enforcesNothing_ = true;
};

// The rules of a table read from its database (its LvProp).
TableRules readTableRules(const storage::Database& db, const storage::TableDef& table);

}  // namespace bv::sql
