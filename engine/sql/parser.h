// Jet SQL parser: text -> Statement.
#pragma once

#include <optional>
#include <string_view>

#include "engine/sql/ast.h"

namespace bv::sql {

// Parses one statement (an optional PARAMETERS declaration, then SELECT, UPDATE, DELETE,
// INSERT INTO or a data-definition statement; an optional ';' may end it). Throws JetError
// with Jet's number for the kind of syntax error (3075 in an expression, 3141 in a SELECT,
// 3144 in an UPDATE, 3134 in an INSERT INTO, 3129 for an unknown statement, ...).
Statement parseStatement(std::u16string_view sql);

// A #...# literal's contents as a date serial (days since 1899-12-30), or nothing when the
// text is no date (US order m/d/y, ISO y-m-d, month names; optionally a time).
std::optional<double> parseDateLiteral(std::u16string_view text);

// Jet's data type names (TEXT, LONG, COUNTER, YESNO, ...) in declarations.
std::optional<ColType> typeFromName(std::u16string_view name, bool* autoIncrement = nullptr);

}  // namespace bv::sql
