// Conversions between expression values: text <-> number, value -> text, numeric kinds.
//
// Text conversions use one fixed locale, US English: decimal point ".", thousands
// separator ",", currency symbol "$", dates as m/d/yyyy and times as h:nn:ss AM/PM.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "engine/storage/value.h"

namespace bv::sql {

// Parses text as a number the way CDbl does: surrounding blanks, sign, "$", thousands
// separators, decimal point, exponent, parentheses for negative, &H / &O prefixes.
std::optional<double> parseNumber(std::u16string_view text);

// The text of a value as CStr gives it (Double with up to 15 significant digits, Single
// with 7, Bool as "True"/"False", dates as US short date and/or long time). Null -> "".
std::u16string toText(const Value& v);

// Numeric value of a number, Bool (-1/0), Date (day count) or numeric text. Throws 3464
// for anything else and 94 for Null.
double toDouble(const Value& v);

// Decimal helpers (exact, up to 28 digits after the point).
Decimal decimalFromDouble(double d);
double decimalToDouble(const Decimal& d);
std::u16string decimalToText(const Decimal& d);

// UTF-16 <-> ASCII/Latin-1 conveniences.
std::u16string widen(std::string_view s);
std::string narrow(std::u16string_view s);  // non-Latin-1 characters become '?'

}  // namespace bv::sql
