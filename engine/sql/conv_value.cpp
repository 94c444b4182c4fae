#include "engine/sql/conv_value.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <limits>

#include "engine/sql/conv_decimal.h"
#include "engine/sql/datetime.h"
#include "engine/sql/value_ops.h"

namespace bv::sql {
namespace {

[[noreturn]] void mismatch(const char* what) {
  throw JetError(kErrTypeMismatch, std::string("Data type mismatch: ") + what);
}
[[noreturn]] void invalidNull() {
  throw JetError(kErrInvalidUseOfNull, "Invalid use of Null");
}
[[noreturn]] void overflow(const char* what) {
  throw JetError(kErrOverflow, std::string("Overflow converting to ") + what);
}

bool isBlank(char16_t c) { return c == u' ' || c == u'\t'; }

std::optional<double> parseRadix(std::u16string_view s, int radix) {
  if (s.empty() || s.size() > 11) return std::nullopt;
  uint64_t v = 0;
  for (char16_t c : s) {
    int digit;
    if (c >= u'0' && c <= u'9')
      digit = c - u'0';
    else if (c >= u'a' && c <= u'f')
      digit = c - u'a' + 10;
    else if (c >= u'A' && c <= u'F')
      digit = c - u'A' + 10;
    else
      return std::nullopt;
    if (digit >= radix) return std::nullopt;
    v = v * static_cast<uint64_t>(radix) + static_cast<uint64_t>(digit);
  }
  // Like a &H literal: up to 16 bits reads as a signed Integer, up to 32 bits as a Long.
  if (v <= 0xFFFF && s.size() <= (radix == 16 ? 4u : 6u))
    return static_cast<double>(static_cast<int16_t>(static_cast<uint16_t>(v)));
  if (v <= 0xFFFFFFFFull) return static_cast<double>(static_cast<int32_t>(static_cast<uint32_t>(v)));
  return std::nullopt;
}

}  // namespace

std::u16string widen(std::string_view s) {
  std::u16string r;
  r.reserve(s.size());
  for (char c : s) r += static_cast<char16_t>(static_cast<unsigned char>(c));
  return r;
}

std::string narrow(std::u16string_view s) {
  std::string r;
  r.reserve(s.size());
  for (char16_t c : s) r += c < 0x100 ? static_cast<char>(c) : '?';
  return r;
}

double roundHalfEven(double v) {
  double r = std::round(v);  // halves away from zero
  if (std::fabs(v - std::trunc(v)) == 0.5) r = 2.0 * std::round(v / 2.0);
  return r;
}

std::optional<double> parseNumber(std::u16string_view t) {
  size_t b = 0, e = t.size();
  while (b < e && isBlank(t[b])) ++b;
  while (e > b && isBlank(t[e - 1])) --e;
  t = t.substr(b, e - b);
  if (t.empty()) return std::nullopt;
  if (t.size() > 2 && t[0] == u'&') {
    if (t[1] == u'H' || t[1] == u'h') return parseRadix(t.substr(2), 16);
    if (t[1] == u'O' || t[1] == u'o') return parseRadix(t.substr(2), 8);
    return std::nullopt;
  }
  bool negative = false;
  if (t.size() >= 2 && t.front() == u'(' && t.back() == u')') {
    negative = true;
    t = t.substr(1, t.size() - 2);
  }
  std::string ascii;
  size_t i = 0;
  auto skipDollar = [&] {
    if (i < t.size() && t[i] == u'$') ++i;
  };
  skipDollar();
  if (i < t.size() && (t[i] == u'+' || t[i] == u'-')) {
    if (t[i] == u'-') {
      if (negative) return std::nullopt;
      negative = true;
    }
    ++i;
  }
  skipDollar();
  int digits = 0;
  for (; i < t.size(); ++i) {
    char16_t c = t[i];
    if (c >= u'0' && c <= u'9') {
      ascii += static_cast<char>(c);
      ++digits;
    } else if (c == u',' && digits > 0) {
      // thousands separator: ignored within the integer part
    } else {
      break;
    }
  }
  if (i < t.size() && t[i] == u'.') {
    ascii += '.';
    for (++i; i < t.size() && t[i] >= u'0' && t[i] <= u'9'; ++i) {
      ascii += static_cast<char>(t[i]);
      ++digits;
    }
  }
  if (digits == 0) return std::nullopt;
  if (i < t.size() && (t[i] == u'e' || t[i] == u'E' || t[i] == u'd' || t[i] == u'D')) {
    ascii += 'e';
    ++i;
    if (i < t.size() && (t[i] == u'+' || t[i] == u'-')) ascii += static_cast<char>(t[i++]);
    int expDigits = 0;
    for (; i < t.size() && t[i] >= u'0' && t[i] <= u'9'; ++i, ++expDigits)
      ascii += static_cast<char>(t[i]);
    if (expDigits == 0) return std::nullopt;
  }
  if (i != t.size()) return std::nullopt;
  double v = std::strtod(ascii.c_str(), nullptr);
  if (!std::isfinite(v)) return std::nullopt;
  return negative ? -v : v;
}

std::u16string numberToText(double v, int significant) {
  if (v == 0) return u"0";
  if (!std::isfinite(v)) return std::isnan(v) ? u"NaN" : (v < 0 ? u"-Inf" : u"Inf");
  char buf[64];
  std::snprintf(buf, sizeof buf, "%.*e", significant - 1, v);
  std::string s(buf);
  bool neg = s[0] == '-';
  size_t ePos = s.find('e');
  int exp = std::atoi(s.c_str() + ePos + 1);
  std::string digits;
  for (size_t i = 0; i < ePos; ++i)
    if (s[i] >= '0' && s[i] <= '9') digits += s[i];
  while (digits.size() > 1 && digits.back() == '0') digits.pop_back();
  std::string out = neg ? "-" : "";
  if (exp >= significant || exp < -4) {
    out += digits.substr(0, 1);
    if (digits.size() > 1) out += "." + digits.substr(1);
    char eb[16];
    std::snprintf(eb, sizeof eb, "E%c%02d", exp < 0 ? '-' : '+', exp < 0 ? -exp : exp);
    out += eb;
  } else if (exp < 0) {
    out += "0." + std::string(static_cast<size_t>(-exp - 1), '0') + digits;
  } else {
    auto intLen = static_cast<size_t>(exp + 1);
    if (digits.size() <= intLen) {
      out += digits + std::string(intLen - digits.size(), '0');
    } else {
      out += digits.substr(0, intLen) + "." + digits.substr(intLen);
    }
  }
  return widen(out);
}

std::u16string dateToText(double x) {
  // A stored value outside the calendar (damaged or foreign data) shows as its number.
  if (!(x >= kMinDate && x < kMaxDate + 0.00001)) return numberToText(x, 15);
  CivilTime c = toCivil(x);
  double timeOfDay;
  double day = splitDay(x, &timeOfDay);
  bool hasTime = c.hour || c.minute || c.second;
  char buf[64];
  std::string out;
  if (day != 0 || !hasTime) {
    std::snprintf(buf, sizeof buf, "%d/%d/%d", c.month, c.day, c.year);
    out = buf;
  }
  if (hasTime) {
    int h12 = c.hour % 12 == 0 ? 12 : c.hour % 12;
    std::snprintf(buf, sizeof buf, "%d:%02d:%02d %s", h12, c.minute, c.second,
                  c.hour < 12 ? "AM" : "PM");
    out += (out.empty() ? "" : " ") + std::string(buf);
  }
  return widen(out);
}

std::u16string guidToText(const Guid& g) {
  const auto& b = g.bytes;
  char buf[48];
  std::snprintf(buf, sizeof buf,
                "{%02X%02X%02X%02X-%02X%02X-%02X%02X-%02X%02X-%02X%02X%02X%02X%02X%02X}", b[3],
                b[2], b[1], b[0], b[5], b[4], b[7], b[6], b[8], b[9], b[10], b[11], b[12], b[13],
                b[14], b[15]);
  return widen(buf);
}

std::optional<Guid> parseGuid(std::u16string_view t) {
  if (t.size() == 38 && t.front() == u'{' && t.back() == u'}') t = t.substr(1, 36);
  if (t.size() != 36) return std::nullopt;
  std::array<uint8_t, 16> raw{};
  size_t n = 0;
  for (size_t i = 0; i < t.size();) {
    if (i == 8 || i == 13 || i == 18 || i == 23) {
      if (t[i] != u'-') return std::nullopt;
      ++i;
      continue;
    }
    auto hex = [](char16_t c) -> int {
      if (c >= u'0' && c <= u'9') return c - u'0';
      if (c >= u'a' && c <= u'f') return c - u'a' + 10;
      if (c >= u'A' && c <= u'F') return c - u'A' + 10;
      return -1;
    };
    int hi = hex(t[i]), lo = hex(t[i + 1]);
    if (hi < 0 || lo < 0) return std::nullopt;
    raw[n++] = static_cast<uint8_t>(hi * 16 + lo);
    i += 2;
  }
  Guid g;
  // The first three groups are little-endian in memory.
  const int order[16] = {3, 2, 1, 0, 5, 4, 7, 6, 8, 9, 10, 11, 12, 13, 14, 15};
  for (int i = 0; i < 16; ++i) g.bytes[static_cast<size_t>(order[i])] = raw[static_cast<size_t>(i)];
  return g;
}

std::u16string toText(const Value& v) {
  switch (v.kind()) {
    case Kind::Null: return u"";
    case Kind::Bool: return v.as<bool>() ? u"True" : u"False";
    case Kind::Byte: return widen(std::to_string(v.as<uint8_t>()));
    case Kind::Integer: return widen(std::to_string(v.as<int16_t>()));
    case Kind::Long: return widen(std::to_string(v.as<int32_t>()));
    case Kind::Currency: return dec::toText(dec::fromCurrency(v.as<Currency>()));
    case Kind::Single: return numberToText(v.as<float>(), 7);
    case Kind::Double: return numberToText(v.as<double>(), 15);
    case Kind::DateTime: return dateToText(v.as<DateTime>().days);
    case Kind::Text: return v.as<std::u16string>();
    case Kind::Binary: {
      const Bytes& b = v.as<Bytes>();
      std::u16string r;
      for (size_t i = 0; i + 1 < b.size(); i += 2) r += static_cast<char16_t>(b[i] | (b[i + 1] << 8));
      if (b.size() % 2) r += static_cast<char16_t>(b.back());
      return r;
    }
    case Kind::Guid: return guidToText(v.as<Guid>());
    case Kind::Decimal: return dec::toText(v.as<Decimal>());
  }
  return u"";
}

std::u16string jetText(const Value& v) {
  if (v.kind() == Kind::Bool) return v.as<bool>() ? u"-1" : u"0";
  return toText(v);
}

bool isNumericKind(Kind k) {
  switch (k) {
    case Kind::Bool: case Kind::Byte: case Kind::Integer: case Kind::Long:
    case Kind::Currency: case Kind::Single: case Kind::Double: case Kind::Decimal:
      return true;
    default:
      return false;
  }
}

std::optional<double> numericTextValue(const Value& v) {
  if (v.kind() != Kind::Text) return std::nullopt;
  return parseNumber(v.as<std::u16string>());
}

double toDouble(const Value& v) {
  switch (v.kind()) {
    case Kind::Null: invalidNull();
    case Kind::Bool: return v.as<bool>() ? -1.0 : 0.0;
    case Kind::Byte: return v.as<uint8_t>();
    case Kind::Integer: return v.as<int16_t>();
    case Kind::Long: return v.as<int32_t>();
    case Kind::Currency: return static_cast<double>(v.as<Currency>().scaled) / 10000.0;
    case Kind::Single: return v.as<float>();
    case Kind::Double: return v.as<double>();
    case Kind::DateTime: return v.as<DateTime>().days;
    case Kind::Decimal: return dec::toDouble(v.as<Decimal>());
    case Kind::Text:
      if (auto d = parseNumber(v.as<std::u16string>())) return *d;
      mismatch("text is not a number");
    default:
      mismatch("value is not a number");
  }
}

namespace {
// Exact integer value for the integer conversions (Currency and Decimal keep their
// exact digits so that halves round correctly).
double roundedForInteger(const Value& v) {
  if (v.kind() == Kind::Currency) {
    int64_t s = v.as<Currency>().scaled;
    int64_t q = s / 10000, r = s % 10000;
    if (r > 5000 || (r == 5000 && (q % 2 != 0))) ++q;
    if (r < -5000 || (r == -5000 && (q % 2 != 0))) --q;
    return static_cast<double>(q);
  }
  if (v.kind() == Kind::Decimal) return dec::toDouble(dec::roundTo(v.as<Decimal>(), 0));
  return roundHalfEven(toDouble(v));
}
}  // namespace

int32_t toLong(const Value& v) {
  double r = roundedForInteger(v);
  if (!(r >= -2147483648.0 && r <= 2147483647.0)) overflow("Long");
  return static_cast<int32_t>(r);
}

int16_t toInteger(const Value& v) {
  double r = roundedForInteger(v);
  if (!(r >= -32768.0 && r <= 32767.0)) overflow("Integer");
  return static_cast<int16_t>(r);
}

uint8_t toByte(const Value& v) {
  double r = roundedForInteger(v);
  if (!(r >= 0.0 && r <= 255.0)) overflow("Byte");
  return static_cast<uint8_t>(r);
}

float toSingle(const Value& v) {
  double d = toDouble(v);
  if (std::fabs(d) > std::numeric_limits<float>::max()) overflow("Single");
  return static_cast<float>(d);
}

Currency toCurrency(const Value& v) {
  switch (v.kind()) {
    case Kind::Currency: return v.as<Currency>();
    case Kind::Decimal: return dec::toCurrency(v.as<Decimal>());
    case Kind::Text:
      // Plain decimal text is read exactly: the largest amounts do not survive a double.
      if (auto d = dec::fromText(v.as<std::u16string>())) {
        try {
          return dec::toCurrency(*d);
        } catch (const JetError&) {
          overflow("Currency");
        }
      }
      break;
    default: break;
  }
  // Whole units and the fraction are scaled apart: multiplying a large whole number by
  // 10,000 as a double loses its last digits (922337203685477 became ...476.9664).
  const double x = toDouble(v);
  const double whole = std::trunc(x);
  if (!(std::fabs(whole) <= 922337203685477.0)) overflow("Currency");
  const auto fraction = static_cast<int64_t>(roundHalfEven((x - whole) * 10000.0));
  int64_t scaled = 0;
  if (__builtin_add_overflow(static_cast<int64_t>(whole) * 10000, fraction, &scaled)) overflow("Currency");
  return Currency{scaled};
}

Decimal toDecimal(const Value& v) {
  switch (v.kind()) {
    case Kind::Decimal: return v.as<Decimal>();
    case Kind::Currency: return dec::fromCurrency(v.as<Currency>());
    case Kind::Byte: return dec::fromInt64(v.as<uint8_t>());
    case Kind::Integer: return dec::fromInt64(v.as<int16_t>());
    case Kind::Long: return dec::fromInt64(v.as<int32_t>());
    case Kind::Bool: return dec::fromInt64(v.as<bool>() ? -1 : 0);
    case Kind::Text:
      if (auto d = dec::fromText(v.as<std::u16string>())) return *d;
      break;
    default: break;
  }
  return dec::fromDouble(toDouble(v));
}

double toDate(const Value& v) {
  double d;
  if (v.kind() == Kind::Text) {
    if (auto p = parseDateTime(v.as<std::u16string>())) return *p;
    auto n = parseNumber(v.as<std::u16string>());
    if (!n) mismatch("text is not a date");
    d = *n;
  } else {
    d = toDouble(v);
  }
  if (!(d >= kMinDate && d < kMaxDate + 0.00001)) overflow("Date");
  return d;
}

bool toBool(const Value& v) {
  if (v.kind() == Kind::Text) {
    const auto& s = v.as<std::u16string>();
    std::u16string f;
    for (char16_t c : s)
      if (!isBlank(c)) f += (c >= u'A' && c <= u'Z') ? c + 32 : c;
    if (f == u"true") return true;
    if (f == u"false") return false;
  }
  return toDouble(v) != 0.0;
}

}  // namespace bv::sql
