// Exact Decimal arithmetic (magnitude up to 96 bits, scale 0..28), as the Decimal
// subtype of a Variant computes. Portable: no 128-bit integer type is needed.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "engine/storage/value.h"

namespace bv::sql::dec {

inline constexpr int kMaxScale = 28;

Decimal fromInt64(int64_t v, int scale = 0);
// Via the value's 15 significant digits, as a Double converts to Decimal. Throws 6 when
// the magnitude does not fit.
Decimal fromDouble(double d);
std::optional<Decimal> fromText(std::u16string_view text);  // "-123.45", no exponent
double toDouble(const Decimal& d);
std::u16string toText(const Decimal& d);    // no trailing zeros after the point
bool isZero(const Decimal& d);

// Arithmetic; all throw JetError 6 when the result does not fit and 11 on division by 0.
Decimal add(const Decimal& a, const Decimal& b);
Decimal sub(const Decimal& a, const Decimal& b);
Decimal mul(const Decimal& a, const Decimal& b);
Decimal div(const Decimal& a, const Decimal& b);
Decimal negate(const Decimal& a);
int compare(const Decimal& a, const Decimal& b);

// Rounds half to even to `scale` digits after the point (never increases the scale).
Decimal roundTo(const Decimal& a, int scale);
// Rescales to exactly `scale` digits (rounding half to even or appending zeros); nullopt
// when the result would not fit.
std::optional<Decimal> rescale(const Decimal& a, int scale);
// Digits before the point (0 for |a| < 1).
int integerDigits(const Decimal& a);
// Truncation toward zero / toward minus infinity at the point, keeping scale 0.
Decimal truncate(const Decimal& a);
Decimal floor(const Decimal& a);
// Currency (value x 10,000) <-> Decimal. toCurrency throws 6 when out of range.
Decimal fromCurrency(Currency c);
Currency toCurrency(const Decimal& d);

}  // namespace bv::sql::dec
