#include "engine/sql/value_ops.h"

#include <cmath>
#include <limits>
#include <optional>

#include "engine/sql/conv_decimal.h"
#include "engine/sql/conv_value.h"
#include "engine/sql/datetime.h"

namespace bv::sql {
namespace {

[[noreturn]] void mismatch(const char* what) {
  throw JetError(kErrTypeMismatch, std::string("Data type mismatch in expression: ") + what);
}
[[noreturn]] void overflow() { throw JetError(kErrOverflow, "Overflow in expression"); }
[[noreturn]] void divByZero() { throw JetError(kErrDivisionByZero, "Division by zero"); }

// Arithmetic classes of operands. The numbering is not an order of precision: that
// depends on the operator (see rankFor).
enum class Num { Byte, Integer, Long, Single, Double, Currency, Decimal, Date };

// An operand ready for arithmetic: its class and its value (text replaced by a Double).
struct Operand {
  Num cls;
  Value v;
};

Operand operand(const Value& v) {
  switch (v.kind()) {
    case Kind::Bool: return {Num::Integer, Value(static_cast<int16_t>(v.as<bool>() ? -1 : 0))};
    case Kind::Byte: return {Num::Byte, v};
    case Kind::Integer: return {Num::Integer, v};
    case Kind::Long: return {Num::Long, v};
    case Kind::Single: return {Num::Single, v};
    case Kind::Double: return {Num::Double, v};
    case Kind::Currency: return {Num::Currency, v};
    case Kind::Decimal: return {Num::Decimal, v};
    case Kind::DateTime: return {Num::Date, v};
    case Kind::Text:
      if (auto d = parseNumber(v.as<std::u16string>())) return {Num::Double, Value(*d)};
      mismatch("text where a number is needed");
    default:
      mismatch("binary or GUID value where a number is needed");
  }
}

// Order of precision: addition and subtraction put Currency above Double,
// multiplication puts Double above Currency.
int rankFor(BinaryOp op, Num n) {
  switch (n) {
    case Num::Byte: return 0;
    case Num::Integer: return 1;
    case Num::Long: return 2;
    case Num::Single: return 3;
    case Num::Double: return op == BinaryOp::Mul ? 5 : 4;
    case Num::Currency: return op == BinaryOp::Mul ? 4 : 5;
    case Num::Decimal: return 6;
    case Num::Date: return 4;  // as a Double, where no Date rule applies
  }
  return 4;
}

Num resultClass(BinaryOp op, Num a, Num b) {
  if (a == Num::Decimal || b == Num::Decimal) return Num::Decimal;
  bool da = a == Num::Date, db = b == Num::Date;
  if (op == BinaryOp::Add && (da || db)) return Num::Date;
  if (op == BinaryOp::Sub && (da || db)) return (da && db) ? Num::Double : Num::Date;
  if ((a == Num::Single && b == Num::Long) || (a == Num::Long && b == Num::Single))
    return Num::Double;
  if (da) a = Num::Double;
  if (db) b = Num::Double;
  return rankFor(op, a) >= rankFor(op, b) ? a : b;
}

int64_t asInt64(const Value& v) {
  switch (v.kind()) {
    case Kind::Byte: return v.as<uint8_t>();
    case Kind::Integer: return v.as<int16_t>();
    case Kind::Long: return v.as<int32_t>();
    default: return static_cast<int64_t>(toDouble(v));
  }
}

// An integer result in the narrowest class at or above `cls` that holds it; past Long
// it becomes a Double.
Value fitInteger(int64_t r, Num cls) {
  if (cls == Num::Byte && r >= 0 && r <= 255) return Value(static_cast<uint8_t>(r));
  if (cls != Num::Long && r >= -32768 && r <= 32767) return Value(static_cast<int16_t>(r));
  if (r >= INT32_MIN && r <= INT32_MAX) return Value(static_cast<int32_t>(r));
  return Value(static_cast<double>(r));
}

double applyDouble(BinaryOp op, double x, double y) {
  switch (op) {
    case BinaryOp::Add: return x + y;
    case BinaryOp::Sub: return x - y;
    default: return x * y;
  }
}

Decimal applyDecimal(BinaryOp op, const Decimal& x, const Decimal& y) {
  switch (op) {
    case BinaryOp::Add: return dec::add(x, y);
    case BinaryOp::Sub: return dec::sub(x, y);
    case BinaryOp::Mul: return dec::mul(x, y);
    default: return dec::div(x, y);
  }
}

Value addSubMul(BinaryOp op, const Operand& a, const Operand& b) {
  Num cls = resultClass(op, a.cls, b.cls);
  switch (cls) {
    case Num::Byte:
    case Num::Integer:
    case Num::Long: {
      int64_t x = asInt64(a.v), y = asInt64(b.v);
      int64_t r = op == BinaryOp::Add ? x + y : op == BinaryOp::Sub ? x - y : x * y;
      return fitInteger(r, cls);
    }
    case Num::Single: {
      double r = applyDouble(op, toDouble(a.v), toDouble(b.v));
      if (std::fabs(r) > std::numeric_limits<float>::max()) {
        if (!std::isfinite(r)) overflow();
        return Value(r);
      }
      return Value(static_cast<float>(r));
    }
    case Num::Double: {
      double r = applyDouble(op, toDouble(a.v), toDouble(b.v));
      if (!std::isfinite(r)) overflow();
      return Value(r);
    }
    case Num::Date: {
      double r = applyDouble(op, toDouble(a.v), toDouble(b.v));
      if (!std::isfinite(r)) overflow();
      if (r < kMinDate || r >= kMaxDate + 0.00001) return Value(r);
      return Value(DateTime{r});
    }
    case Num::Currency: {
      Currency x = toCurrency(a.v), y = toCurrency(b.v);
      if (op != BinaryOp::Mul) {
        int64_t yy = op == BinaryOp::Sub ? -y.scaled : y.scaled;
        if (op == BinaryOp::Sub && y.scaled == INT64_MIN) overflow();
        if ((yy > 0 && x.scaled > INT64_MAX - yy) || (yy < 0 && x.scaled < INT64_MIN - yy))
          overflow();
        return Value(Currency{x.scaled + yy});
      }
      return Value(dec::toCurrency(dec::mul(dec::fromCurrency(x), dec::fromCurrency(y))));
    }
    case Num::Decimal:
      return Value(applyDecimal(op, toDecimal(a.v), toDecimal(b.v)));
  }
  return Value();
}

Value divide(const Operand& a, const Operand& b) {
  if (a.cls == Num::Decimal || b.cls == Num::Decimal)
    return Value(dec::div(toDecimal(a.v), toDecimal(b.v)));
  double x = toDouble(a.v), y = toDouble(b.v);
  if (y == 0) {
    if (x == 0) overflow();  // 0 / 0
    divByZero();
  }
  double r = x / y;
  if (!std::isfinite(r)) overflow();
  auto small = [](Num n) { return n == Num::Byte || n == Num::Integer || n == Num::Single; };
  if (small(a.cls) && small(b.cls) && std::fabs(r) <= std::numeric_limits<float>::max())
    return Value(static_cast<float>(r));
  return Value(r);
}

// Integer division and Mod work on whole numbers: operands round half to even to Byte,
// Integer or Long.
Value integerOp(BinaryOp op, const Operand& a, const Operand& b) {
  auto width = [](Num n) { return n == Num::Byte ? 0 : n == Num::Integer ? 1 : 2; };
  int w = std::max(width(a.cls), width(b.cls));
  int64_t x = toLong(a.v), y = toLong(b.v);
  if (y == 0) divByZero();
  int64_t r = op == BinaryOp::IntDiv ? x / y : x % y;
  if (w == 0) return Value(static_cast<uint8_t>(r));
  if (w == 1 && r >= -32768 && r <= 32767) return Value(static_cast<int16_t>(r));
  if (r > INT32_MAX) overflow();  // -2147483648 \ -1
  return Value(static_cast<int32_t>(r));
}

Value power(const Operand& a, const Operand& b) {
  double x = toDouble(a.v), y = toDouble(b.v);
  if (x == 0 && y < 0) divByZero();
  double r = std::pow(x, y);
  if (std::isnan(r)) throw JetError(kErrInvalidArgument, "Invalid argument to ^");
  if (!std::isfinite(r)) overflow();
  return Value(r);
}

Value concat(const Value& a, const Value& b) {
  if (a.isNull() && b.isNull()) return Value();
  return Value(jetText(a) + jetText(b));
}

template <class T>
int cmp3(const T& x, const T& y) {
  return x < y ? -1 : (y < x ? 1 : 0);
}

// GUIDs order as their index keys do: the first three fields as numbers (they are stored
// little-endian), then the last eight bytes as stored.
int compareGuid(const Guid& a, const Guid& b) {
  static constexpr int kOrder[16] = {3, 2, 1, 0, 5, 4, 7, 6, 8, 9, 10, 11, 12, 13, 14, 15};
  for (int i : kOrder)
    if (a.bytes[i] != b.bytes[i]) return a.bytes[i] < b.bytes[i] ? -1 : 1;
  return 0;
}

bool exactNumeric(Kind k) {
  return k == Kind::Byte || k == Kind::Integer || k == Kind::Long || k == Kind::Bool ||
         k == Kind::Currency || k == Kind::Decimal;
}

int compareNumbers(const Value& a, const Value& b) {
  if (a.kind() == Kind::Currency && b.kind() == Kind::Currency)
    return cmp3(a.as<Currency>().scaled, b.as<Currency>().scaled);
  if ((a.kind() == Kind::Decimal || b.kind() == Kind::Decimal) && exactNumeric(a.kind()) &&
      exactNumeric(b.kind()))
    return dec::compare(toDecimal(a), toDecimal(b));
  return cmp3(toDouble(a), toDouble(b));
}

bool isNumberOrDate(Kind k) { return isNumericKind(k) || k == Kind::DateTime; }

// Three-way comparison of two non-Null values; throws 3464 when they cannot be compared.
int compareValues(const Value& a, const Value& b) {
  Kind ka = a.kind(), kb = b.kind();
  if (ka == Kind::Text && kb == Kind::Text)
    return compareText(a.as<std::u16string>(), b.as<std::u16string>());
  if (isNumberOrDate(ka) && isNumberOrDate(kb)) return compareNumbers(a, b);
  if (ka == Kind::Text || kb == Kind::Text) {
    bool textFirst = ka == Kind::Text;
    const Value& text = textFirst ? a : b;
    const Value& other = textFirst ? b : a;
    Value converted;
    const auto& s = text.as<std::u16string>();
    if (isNumberOrDate(other.kind())) {
      if (other.kind() == Kind::DateTime) {
        if (auto d = parseDateTime(s)) converted = Value(DateTime{*d});
      }
      if (converted.isNull()) {
        auto n = parseNumber(s);
        if (!n) mismatch("text compared with a number or date");
        converted = Value(*n);
      }
      int c = compareNumbers(converted, other);
      return textFirst ? c : -c;
    }
    if (other.kind() == Kind::Guid) {
      auto g = parseGuid(s);
      if (!g) mismatch("text compared with a GUID");
      int c = compareGuid(*g, other.as<Guid>());
      return textFirst ? c : -c;
    }
    mismatch("text compared with a binary value");
  }
  if (ka == Kind::Binary && kb == Kind::Binary) return cmp3(a.as<Bytes>(), b.as<Bytes>());
  if (ka == Kind::Guid && kb == Kind::Guid) return compareGuid(a.as<Guid>(), b.as<Guid>());
  mismatch("values of incompatible types compared");
}

// Truth of a non-Null value for the logical operators.
bool truth(const Value& v) {
  if (v.kind() == Kind::Bool) return v.as<bool>();
  if (v.kind() == Kind::Binary || v.kind() == Kind::Guid) mismatch("binary value used as a condition");
  if (v.kind() == Kind::Text) {
    if (auto n = parseNumber(v.as<std::u16string>())) return *n != 0;
    return toBool(v);  // "True"/"False", otherwise a type mismatch
  }
  return toDouble(v) != 0;
}

std::optional<bool> truth3(const Value& v) {
  if (v.isNull()) return std::nullopt;
  return truth(v);
}

Value logical(BinaryOp op, const Value& a, const Value& b) {
  auto x = truth3(a), y = truth3(b);
  switch (op) {
    case BinaryOp::And:
      if ((x && !*x) || (y && !*y)) return Value(false);
      if (!x || !y) return Value();
      return Value(true);
    case BinaryOp::Or:
      if ((x && *x) || (y && *y)) return Value(true);
      if (!x || !y) return Value();
      return Value(false);
    case BinaryOp::Xor:
      if (!x || !y) return Value();
      return Value(*x != *y);
    case BinaryOp::Eqv:
      if (!x || !y) return Value();
      return Value(*x == *y);
    default:  // Imp
      if ((x && !*x) || (y && *y)) return Value(true);
      if (!x || !y) return Value();
      return Value(false);
  }
}

Value comparison(BinaryOp op, const Value& a, const Value& b) {
  if (a.isNull() || b.isNull()) return Value();
  int c = compareValues(a, b);
  switch (op) {
    case BinaryOp::Eq: return Value(c == 0);
    case BinaryOp::Ne: return Value(c != 0);
    case BinaryOp::Lt: return Value(c < 0);
    case BinaryOp::Le: return Value(c <= 0);
    case BinaryOp::Gt: return Value(c > 0);
    default: return Value(c >= 0);
  }
}

}  // namespace

Value applyBinary(BinaryOp op, const Value& a, const Value& b) {
  switch (op) {
    case BinaryOp::Concat: return concat(a, b);
    case BinaryOp::Eq: case BinaryOp::Ne: case BinaryOp::Lt:
    case BinaryOp::Le: case BinaryOp::Gt: case BinaryOp::Ge:
      return comparison(op, a, b);
    case BinaryOp::And: case BinaryOp::Or: case BinaryOp::Xor:
    case BinaryOp::Eqv: case BinaryOp::Imp:
      return logical(op, a, b);
    default: break;
  }
  if (a.isNull() || b.isNull()) return Value();
  // + joins two texts.
  if (op == BinaryOp::Add && a.kind() == Kind::Text && b.kind() == Kind::Text)
    return Value(a.as<std::u16string>() + b.as<std::u16string>());
  Operand x = operand(a), y = operand(b);
  switch (op) {
    case BinaryOp::Add: case BinaryOp::Sub: case BinaryOp::Mul:
      return addSubMul(op, x, y);
    case BinaryOp::Div: return divide(x, y);
    case BinaryOp::IntDiv: case BinaryOp::Mod: return integerOp(op, x, y);
    case BinaryOp::Pow: return power(x, y);
    default: break;
  }
  mismatch("unknown operator");
}

Value applyUnary(UnaryOp op, const Value& v) {
  if (v.isNull()) return Value();
  if (op == UnaryOp::Not) return Value(!truth(v));
  Operand x = operand(v);
  if (op == UnaryOp::Plus) return x.v;
  switch (x.cls) {
    case Num::Byte: return Value(static_cast<int16_t>(-static_cast<int>(x.v.as<uint8_t>())));
    case Num::Integer: return fitInteger(-static_cast<int64_t>(x.v.as<int16_t>()), Num::Integer);
    case Num::Long: return fitInteger(-static_cast<int64_t>(x.v.as<int32_t>()), Num::Long);
    case Num::Single: return Value(-x.v.as<float>());
    case Num::Double: return Value(-x.v.as<double>());
    case Num::Currency:
      if (x.v.as<Currency>().scaled == INT64_MIN) overflow();
      return Value(Currency{-x.v.as<Currency>().scaled});
    case Num::Decimal: return Value(dec::negate(x.v.as<Decimal>()));
    case Num::Date: return Value(DateTime{-x.v.as<DateTime>().days});
  }
  return Value();
}

bool isTrue(const Value& v) { return !v.isNull() && truth(v); }

// Jet accepts the bounds in either order, and any Null operand makes the result Null.
Value between(const Value& v, const Value& lo, const Value& hi) {
  if (v.isNull() || lo.isNull() || hi.isNull()) return Value();
  bool swapped = compareValues(lo, hi) > 0;
  const Value& low = swapped ? hi : lo;
  const Value& high = swapped ? lo : hi;
  return Value(compareValues(v, low) >= 0 && compareValues(v, high) <= 0);
}

Value inList(const Value& v, std::span<const Value> list) {
  if (v.isNull()) return Value();
  bool sawNull = false;
  for (const Value& item : list) {
    Value eq = comparison(BinaryOp::Eq, v, item);
    if (eq.isNull())
      sawNull = true;
    else if (eq.as<bool>())
      return Value(true);
  }
  return sawNull ? Value() : Value(false);
}

int compareForSort(const Value& a, const Value& b) {
  auto group = [](Kind k) {
    if (k == Kind::Null) return 0;
    if (isNumberOrDate(k)) return 1;
    if (k == Kind::Text) return 2;
    if (k == Kind::Binary) return 3;
    return 4;
  };
  int ga = group(a.kind()), gb = group(b.kind());
  if (ga != gb) return ga < gb ? -1 : 1;
  switch (ga) {
    case 0: return 0;
    case 1: {
      int c = compareNumbers(a, b);
      if (c == 0 && std::isnan(toDouble(a)) != std::isnan(toDouble(b))) c = std::isnan(toDouble(a)) ? -1 : 1;
      return c;
    }
    case 2: return compareText(a.as<std::u16string>(), b.as<std::u16string>());
    case 3: return cmp3(a.as<Bytes>(), b.as<Bytes>());
    default: return compareGuid(a.as<Guid>(), b.as<Guid>());
  }
}

namespace {

// Runs a conversion for a column and reports overflow as the field's overflow.
template <class F>
Value forColumn(F convert) {
  try {
    return Value(convert());
  } catch (const JetError& e) {
    if (e.number() == kErrOverflow)
      throw JetError(kErrNumericFieldOverflow, "Numeric field overflow: value out of the column's range");
    throw;
  }
}

Bytes utf16Bytes(const std::u16string& s) {
  Bytes out;
  out.reserve(s.size() * 2);
  for (char16_t c : s) {
    out.push_back(static_cast<uint8_t>(c & 0xFF));
    out.push_back(static_cast<uint8_t>(c >> 8));
  }
  return out;
}

bool yesNoWord(const std::u16string& s, bool* out) {
  std::u16string f;
  for (char16_t c : s)
    if (c != u' ') f += (c >= u'A' && c <= u'Z') ? c + 32 : c;
  if (f == u"yes" || f == u"on" || f == u"true") return *out = true, true;
  if (f == u"no" || f == u"off" || f == u"false") return *out = false, true;
  return false;
}

}  // namespace

Value coerceToColumn(const Value& v, const TargetColumn& t) {
  if (v.isNull()) return t.type == ColType::Bool ? Value(false) : Value();
  if ((v.kind() == Kind::Binary || v.kind() == Kind::Guid) && t.type != ColType::Binary &&
      t.type != ColType::OLE && t.type != ColType::Guid && t.type != ColType::Text &&
      t.type != ColType::Memo)
    mismatch("binary value for a non-binary column");
  switch (t.type) {
    case ColType::Bool:
      if (v.kind() == Kind::Text) {
        bool b;
        if (yesNoWord(v.as<std::u16string>(), &b)) return Value(b);
      }
      return Value(toBool(v));
    case ColType::Byte: return forColumn([&] { return toByte(v); });
    case ColType::Integer: return forColumn([&] { return toInteger(v); });
    case ColType::Long:
    case ColType::Complex: return forColumn([&] { return toLong(v); });
    case ColType::Currency: return forColumn([&] { return toCurrency(v); });
    case ColType::Single: return forColumn([&] { return toSingle(v); });
    case ColType::Double: return forColumn([&] { return toDouble(v); });
    case ColType::DateTime: return forColumn([&] { return DateTime{toDate(v)}; });
    case ColType::Text:
    case ColType::Memo: {
      std::u16string s = jetText(v);
      if (t.maxLength && s.size() > t.maxLength)
        throw JetError(kErrFieldTooSmall, "The field is too small for the text given (" +
                                              std::to_string(s.size()) + " characters, " +
                                              std::to_string(t.maxLength) + " allowed)");
      return Value(std::move(s));
    }
    case ColType::Binary:
    case ColType::OLE: {
      Bytes b;
      if (v.kind() == Kind::Binary)
        b = v.as<Bytes>();
      else if (v.kind() == Kind::Text)
        b = utf16Bytes(v.as<std::u16string>());
      else if (v.kind() == Kind::Guid)
        b.assign(v.as<Guid>().bytes.begin(), v.as<Guid>().bytes.end());
      else
        mismatch("number for a binary column");
      if (t.maxLength && b.size() > t.maxLength)
        throw JetError(kErrFieldTooSmall, "The field is too small for the binary value given");
      return Value(std::move(b));
    }
    case ColType::Guid: {
      if (v.kind() == Kind::Guid) return v;
      if (v.kind() == Kind::Text)
        if (auto g = parseGuid(v.as<std::u16string>())) return Value(*g);
      if (v.kind() == Kind::Binary && v.as<Bytes>().size() == 16) {
        Guid g;
        std::copy(v.as<Bytes>().begin(), v.as<Bytes>().end(), g.bytes.begin());
        return Value(g);
      }
      mismatch("value is not a GUID");
    }
    case ColType::Decimal: {
      return forColumn([&] {
        Decimal d = toDecimal(v);
        auto r = dec::rescale(d, t.scale);
        if (!r || dec::integerDigits(*r) > t.precision - t.scale) overflow();
        r->precision = t.precision;
        return *r;
      });
    }
  }
  mismatch("unsupported column type");
}

Value coerceToColumn(const Value& v, ColType type, uint32_t maxLength, uint8_t precision,
                     uint8_t scale) {
  return coerceToColumn(v, TargetColumn{type, maxLength, precision, scale});
}

}  // namespace bv::sql
