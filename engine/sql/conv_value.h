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

// Number text as CStr writes it: `significant` digits (15 for Double, 7 for Single),
// scientific form ("1E+15", "1.5E-05") for exponents >= significant or < -4.
std::u16string numberToText(double v, int significant);
// A date as CStr writes it: "m/d/yyyy", "h:nn:ss AM" or both (date only at midnight,
// time only on day 0).
std::u16string dateToText(double dateTime);
std::u16string guidToText(const Guid& g);
std::optional<Guid> parseGuid(std::u16string_view text);

// The text Jet itself makes of a value when it joins text (&, Like) or stores a value in
// a text column: as toText, except that a Yes/No value becomes "-1" or "0" (only CStr,
// Format and the other VBA functions spell it "True"/"False").
std::u16string jetText(const Value& v);

// Conversions of a value as CDbl, CLng, CInt, CByte, CSng, CCur, CDec, CDate and CBool
// do them: Null gives 94, an unconvertible value 3464, a value out of range 6.
// Integer targets round half to even; Bool is -1/0; dates are their day count; text
// must hold a number (CDate and CBool also accept date text and True/False).
double toDouble(const Value& v);
int32_t toLong(const Value& v);
int16_t toInteger(const Value& v);
uint8_t toByte(const Value& v);
float toSingle(const Value& v);
Currency toCurrency(const Value& v);
Decimal toDecimal(const Value& v);
double toDate(const Value& v);
bool toBool(const Value& v);

// Numeric kinds (Bool counts as a number); text that parses as a number.
bool isNumericKind(Kind k);
std::optional<double> numericTextValue(const Value& v);

// Rounds half to even (banker's rounding), as VBA's integer conversions do.
double roundHalfEven(double v);

// UTF-16 <-> ASCII/Latin-1 conveniences.
std::u16string widen(std::string_view s);
std::string narrow(std::u16string_view s);  // non-Latin-1 characters become '?'

}  // namespace bv::sql
