// Helpers shared by the expression tests: short value constructors and a printer.
#pragma once

#include <ostream>
#include <string>

#include "engine/sql/conv_decimal.h"
#include "engine/sql/conv_value.h"
#include "engine/sql/datetime.h"
#include "engine/storage/value.h"

namespace bv::exprtest {

inline Value I(int v) { return Value(static_cast<int16_t>(v)); }
inline Value L(int32_t v) { return Value(v); }
inline Value B(int v) { return Value(static_cast<uint8_t>(v)); }
inline Value D(double v) { return Value(v); }
inline Value S(float v) { return Value(v); }
inline Value T(const char16_t* s) { return Value(s); }
inline Value Cur(int64_t scaled) { return Value(Currency{scaled}); }
inline Value Bo(bool b) { return Value(b); }
inline Value N() { return Value(); }
inline Value Dt(int y, int m, int d, int hh = 0, int mm = 0, int ss = 0) {
  return Value(DateTime{sql::fromCivil({y, m, d, hh, mm, ss})});
}
inline Value Dec(const char16_t* text) { return Value(*sql::dec::fromText(text)); }

inline const char* kindName(Kind k) {
  static const char* names[] = {"Null",  "Bool",   "Byte",     "Integer", "Long",
                                "Currency", "Single", "Double", "Date",    "Text",
                                "Binary", "Guid",   "Decimal"};
  return names[static_cast<int>(k)];
}

inline std::string show(const Value& v) {
  return std::string(kindName(v.kind())) + " " + sql::narrow(sql::toText(v));
}

// Same kind and same content; Decimals compare by value (scale and precision aside).
inline bool sameValue(const Value& a, const Value& b) {
  if (a.kind() == Kind::Decimal && b.kind() == Kind::Decimal)
    return sql::dec::compare(a.as<Decimal>(), b.as<Decimal>()) == 0;
  return a == b;
}

}  // namespace bv::exprtest
