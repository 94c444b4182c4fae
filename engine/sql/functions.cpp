// The built-in function library. Each function follows the documented VBA behaviour of its
// namesake as Jet evaluates it: Null in the main argument gives Null (conversions such as
// CInt raise 94 instead), numeric arguments are converted as CLng does, and text
// comparisons without an explicit compare argument ignore case, as the database's
// comparison mode does.
#include "engine/sql/functions.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <ctime>
#include <functional>
#include <mutex>
#include <string>
#include <unordered_map>

#include "engine/sql/conv_decimal.h"
#include "engine/sql/conv_value.h"
#include "engine/sql/datetime.h"
#include "engine/sql/format.h"
#include "engine/sql/functions_text.h"
#include "engine/sql/value_ops.h"

namespace bv::sql {

using Args = std::span<const Value>;

[[noreturn]] void invalidArgument(const char* fn) {
  throw JetError(kErrInvalidArgument, std::string("Invalid argument in call to ") + fn);
}

namespace {

[[noreturn]] void invalidNull(const char* fn) {
  throw JetError(kErrInvalidUseOfNull, std::string("Invalid use of Null in ") + fn);
}

std::optional<double> g_fixedNow;
std::mutex g_clockMutex;

// ------------------------------------------------------------------ numbers

// Int, Fix, Abs and Round keep the kind of their argument (text becomes Double,
// Bool becomes Integer).
template <class DoubleFn, class DecimalFn>
Value sameKindNumber(const Value& v, DoubleFn f, DecimalFn fd) {
  switch (v.kind()) {
    case Kind::Null: return Value();
    case Kind::Byte: return Value(static_cast<uint8_t>(f(v.as<uint8_t>())));
    case Kind::Bool:
    case Kind::Integer: {
      double r = f(toDouble(v));
      if (r >= -32768 && r <= 32767) return Value(static_cast<int16_t>(r));
      return Value(static_cast<int32_t>(r));
    }
    case Kind::Long: {
      double r = f(v.as<int32_t>());
      if (r >= INT32_MIN && r <= INT32_MAX) return Value(static_cast<int32_t>(r));
      return Value(r);
    }
    case Kind::Single: return Value(static_cast<float>(f(v.as<float>())));
    case Kind::Currency:
      return Value(dec::toCurrency(fd(dec::fromCurrency(v.as<Currency>()))));
    case Kind::Decimal: return Value(fd(v.as<Decimal>()));
    case Kind::DateTime: return Value(DateTime{f(v.as<DateTime>().days)});
    default: return Value(f(toDouble(v)));
  }
}

Value fnInt(Args a) {
  return sameKindNumber(a[0], [](double x) { return std::floor(x); },
                        [](const Decimal& d) { return dec::floor(d); });
}

Value fnFix(Args a) {
  return sameKindNumber(a[0], [](double x) { return std::trunc(x); },
                        [](const Decimal& d) { return dec::truncate(d); });
}

Value fnAbs(Args a) {
  return sameKindNumber(a[0], [](double x) { return std::fabs(x); }, [](const Decimal& d) {
    Decimal r = d;
    r.negative = false;
    return r;
  });
}

Value fnRound(Args a) {
  int places = 0;
  if (a.size() > 1) {
    if (a[1].isNull()) invalidNull("Round");
    places = toLong(a[1]);
    if (places < 0 || places > 22) invalidArgument("Round");
  }
  if (a[0].kind() == Kind::DateTime) return Value(roundHalfEven(a[0].as<DateTime>().days));
  double scale = std::pow(10.0, places);
  return sameKindNumber(
      a[0],
      [&](double x) {
        double scaled = x * scale;
        if (!std::isfinite(scaled)) return x;
        return roundHalfEven(scaled) / scale;
      },
      [&](const Decimal& d) { return dec::roundTo(d, places); });
}

Value fnSgn(Args a) {
  if (a[0].isNull()) return Value();
  if (a[0].kind() == Kind::Decimal) {
    const Decimal& d = a[0].as<Decimal>();
    return Value(static_cast<int16_t>(dec::isZero(d) ? 0 : d.negative ? -1 : 1));
  }
  double x = toDouble(a[0]);
  return Value(static_cast<int16_t>(x > 0 ? 1 : x < 0 ? -1 : 0));
}

template <double (*F)(double)>
Value mathFn(Args a) {
  if (a[0].isNull()) return Value();
  double r = F(toDouble(a[0]));
  if (std::isnan(r)) invalidArgument("a math function");
  if (!std::isfinite(r)) throw JetError(kErrOverflow, "Overflow in a math function");
  return Value(r);
}

double sqrtChecked(double x) { return x < 0 ? NAN : std::sqrt(x); }
double logChecked(double x) { return x <= 0 ? NAN : std::log(x); }
double expFn(double x) { return std::exp(x); }
double sinFn(double x) { return std::sin(x); }
double cosFn(double x) { return std::cos(x); }
double tanFn(double x) { return std::tan(x); }
double atnFn(double x) { return std::atan(x); }

// ------------------------------------------------------------------ conversions

template <class F>
Value convert(const char* name, const Value& v, F f) {
  if (v.isNull()) invalidNull(name);
  return Value(f(v));
}

Value fnCStr(Args a) { return convert("CStr", a[0], [](const Value& v) { return toText(v); }); }
Value fnCInt(Args a) { return convert("CInt", a[0], toInteger); }
Value fnCLng(Args a) { return convert("CLng", a[0], toLong); }
Value fnCByte(Args a) { return convert("CByte", a[0], toByte); }
Value fnCSng(Args a) { return convert("CSng", a[0], toSingle); }
Value fnCDbl(Args a) { return convert("CDbl", a[0], [](const Value& v) { return toDouble(v); }); }
Value fnCCur(Args a) { return convert("CCur", a[0], toCurrency); }
Value fnCDec(Args a) { return convert("CDec", a[0], toDecimal); }
Value fnCBool(Args a) { return convert("CBool", a[0], toBool); }
Value fnCDate(Args a) {
  return convert("CDate", a[0], [](const Value& v) { return DateTime{toDate(v)}; });
}
Value fnCVDate(Args a) { return a[0].isNull() ? Value() : fnCDate(a); }
Value fnCVar(Args a) { return a[0]; }

// Str: the number's text with a leading blank for values that are not negative.
Value fnStr(Args a) {
  const Value& v = a[0];
  if (v.isNull()) return Value();
  if (v.kind() == Kind::DateTime) return Value(toText(v));
  Value n = v;
  if (v.kind() == Kind::Text) n = Value(toDouble(v));
  std::u16string s = toText(n);
  if (n.kind() == Kind::Bool) s = v.as<bool>() ? u"-1" : u"0";
  if (s.empty() || s[0] != u'-') s.insert(s.begin(), u' ');
  return Value(s);
}

// Val: reads the longest leading number, skipping blanks anywhere, "&H"/"&O" prefixes.
Value fnVal(Args a) {
  if (a[0].isNull()) invalidNull("Val");
  std::u16string s;
  for (char16_t c : toText(a[0]))
    if (c != u' ' && c != u'\t' && c != u'\n' && c != u'\r') s += c;
  size_t n = 0;
  if (s.size() >= 2 && s[0] == u'&' && (s[1] == u'H' || s[1] == u'h' || s[1] == u'O' || s[1] == u'o')) {
    bool hex = s[1] == u'H' || s[1] == u'h';
    n = 2;
    while (n < s.size() && ((s[n] >= u'0' && s[n] <= (hex ? u'9' : u'7')) ||
                            (hex && ((s[n] >= u'a' && s[n] <= u'f') || (s[n] >= u'A' && s[n] <= u'F')))))
      ++n;
    if (n == 2) return Value(0.0);
    auto r = parseNumber(std::u16string_view(s).substr(0, n));
    return Value(r ? *r : 0.0);
  }
  if (n < s.size() && (s[n] == u'+' || s[n] == u'-')) ++n;
  size_t digitsStart = n;
  while (n < s.size() && s[n] >= u'0' && s[n] <= u'9') ++n;
  if (n < s.size() && s[n] == u'.') {
    ++n;
    while (n < s.size() && s[n] >= u'0' && s[n] <= u'9') ++n;
  }
  if (n == digitsStart || (n == digitsStart + 1 && s[digitsStart] == u'.')) return Value(0.0);
  size_t mantissaEnd = n;
  if (n < s.size() && (s[n] == u'e' || s[n] == u'E' || s[n] == u'd' || s[n] == u'D')) {
    size_t e = n + 1;
    if (e < s.size() && (s[e] == u'+' || s[e] == u'-')) ++e;
    size_t expDigits = e;
    while (e < s.size() && s[e] >= u'0' && s[e] <= u'9') ++e;
    if (e > expDigits) n = e;
  }
  auto r = parseNumber(std::u16string_view(s).substr(0, n));
  if (!r) r = parseNumber(std::u16string_view(s).substr(0, mantissaEnd));
  return Value(r ? *r : 0.0);
}

// ------------------------------------------------------------------ general

Value fnIIf(Args a) { return isTrue(a[0]) ? a[1] : a[2]; }
Value fnIsNull(Args a) { return Value(a[0].isNull()); }
Value fnIsEmpty(Args) { return Value(false); }  // a column value is never Empty
Value fnIsNumeric(Args a) {
  if (isNumericKind(a[0].kind())) return Value(true);
  return Value(numericTextValue(a[0]).has_value());
}
Value fnIsDate(Args a) {
  if (a[0].kind() == Kind::DateTime) return Value(true);
  if (a[0].kind() != Kind::Text) return Value(false);
  return Value(parseDateTime(a[0].as<std::u16string>()).has_value());
}

Value fnChoose(Args a) {
  if (a[0].isNull()) return Value();
  double i = std::trunc(toDouble(a[0]));
  if (i < 1 || i > static_cast<double>(a.size() - 1)) return Value();
  return a[static_cast<size_t>(i)];
}

Value fnSwitch(Args a) {
  if (a.size() % 2 != 0) invalidArgument("Switch");
  for (size_t i = 0; i < a.size(); i += 2)
    if (isTrue(a[i])) return a[i + 1];
  return Value();
}

Value fnVarType(Args a) {
  static const int16_t codes[] = {1, 11, 17, 2, 3, 6, 4, 5, 7, 8, 8209, 8, 14};
  return Value(codes[static_cast<int>(a[0].kind())]);
}

Value fnTypeName(Args a) {
  static const char16_t* names[] = {u"Null",   u"Boolean", u"Byte",   u"Integer", u"Long",
                                    u"Currency", u"Single", u"Double", u"Date",    u"String",
                                    u"Byte()", u"String",  u"Decimal"};
  return Value(names[static_cast<int>(a[0].kind())]);
}

// ------------------------------------------------------------------ dates

double nowValue() {
  {
    std::lock_guard<std::mutex> lock(g_clockMutex);
    if (g_fixedNow) return *g_fixedNow;
  }
  std::time_t t = std::time(nullptr);
  std::tm local{};
  {
    std::lock_guard<std::mutex> lock(g_clockMutex);
    if (std::tm* p = std::localtime(&t)) local = *p;
  }
  return fromCivil({local.tm_year + 1900, local.tm_mon + 1, local.tm_mday, local.tm_hour,
                    local.tm_min, local.tm_sec});
}

Value fnNow(Args) { return Value(DateTime{nowValue()}); }
Value fnDate(Args) { return Value(DateTime{splitDay(nowValue(), nullptr)}); }
Value fnTime(Args) { return Value(DateTime{timeOfDay(nowValue())}); }

// Date argument of the date functions: Null stays Null (nullopt).
std::optional<double> dateArg(const Value& v) {
  if (v.isNull()) return std::nullopt;
  return toDate(v);
}

template <int CivilTime::*Field>
Value datePartFn(Args a) {
  auto d = dateArg(a[0]);
  if (!d) return Value();
  return Value(static_cast<int16_t>(toCivil(*d).*Field));
}

int firstDayArg(Args a, size_t i) {
  if (a.size() <= i || a[i].isNull()) return 1;
  int f = toLong(a[i]);
  if (f < 0 || f > 7) invalidArgument("a date function (first day of week)");
  return f == 0 ? 1 : f;  // 0: the system setting, Sunday here
}

int firstWeekArg(Args a, size_t i) {
  if (a.size() <= i || a[i].isNull()) return 1;
  int f = toLong(a[i]);
  if (f < 0 || f > 3) invalidArgument("a date function (first week of year)");
  return f == 0 ? 1 : f;
}

Value fnWeekday(Args a) {
  auto d = dateArg(a[0]);
  if (!d) return Value();
  return Value(static_cast<int16_t>(weekday(*d, firstDayArg(a, 1))));
}

std::u16string lowerAscii(std::u16string_view s) {
  std::u16string r(s);
  for (auto& c : r)
    if (c >= u'A' && c <= u'Z') c += 32;
  return r;
}

enum class Interval { Year, Quarter, Month, DayOfYear, Day, Weekday, Week, Hour, Minute, Second };

Interval intervalArg(const Value& v, const char* fn) {
  if (v.isNull()) invalidNull(fn);
  std::u16string s = lowerAscii(toText(v));
  if (s == u"yyyy") return Interval::Year;
  if (s == u"q") return Interval::Quarter;
  if (s == u"m") return Interval::Month;
  if (s == u"y") return Interval::DayOfYear;
  if (s == u"d") return Interval::Day;
  if (s == u"w") return Interval::Weekday;
  if (s == u"ww") return Interval::Week;
  if (s == u"h") return Interval::Hour;
  if (s == u"n") return Interval::Minute;
  if (s == u"s") return Interval::Second;
  invalidArgument(fn);
}

int64_t floorDiv(int64_t a, int64_t b) { return a / b - ((a % b != 0) && ((a < 0) != (b < 0))); }

// Seconds since 1899-12-30 00:00 on the plain timeline, to the nearest second.
int64_t linearSeconds(double d) { return std::llround(toLinear(d) * 86400.0); }

Value checkedDate(double d, const char* fn) {
  if (!(d >= kMinDate && d < kMaxDate + 0.00001)) invalidArgument(fn);
  return Value(DateTime{d});
}

Value addMonths(double date, int64_t months, const char* fn) {
  CivilTime c = toCivil(date);
  int64_t total = static_cast<int64_t>(c.year) * 12 + (c.month - 1) + months;
  int64_t y = total >= 0 ? total / 12 : (total - 11) / 12;
  if (y < 100 || y > 9999) invalidArgument(fn);
  c.year = static_cast<int>(y);
  c.month = static_cast<int>(total - y * 12 + 1);
  c.day = std::min(c.day, daysInMonth(c.year, c.month));
  return Value(DateTime{fromCivil(c)});
}

// A timeline position in whole seconds back to a stored date.
Value fromSeconds(int64_t secs, const char* fn) {
  int64_t day = floorDiv(secs, 86400);
  double t = static_cast<double>(secs - day * 86400) / 86400.0;
  auto d = static_cast<double>(day);
  return checkedDate(d >= 0 ? d + t : d - t, fn);
}

Value fnDateAdd(Args a) {
  Interval iv = intervalArg(a[0], "DateAdd");
  if (a[1].isNull()) invalidNull("DateAdd");
  auto d = dateArg(a[2]);
  if (!d) return Value();
  double n = std::trunc(toDouble(a[1]));
  if (std::fabs(n) > 1e9) invalidArgument("DateAdd");
  auto whole = static_cast<int64_t>(n);
  int64_t secs = linearSeconds(*d);
  switch (iv) {
    case Interval::Year: return addMonths(*d, whole * 12, "DateAdd");
    case Interval::Quarter: return addMonths(*d, whole * 3, "DateAdd");
    case Interval::Month: return addMonths(*d, whole, "DateAdd");
    case Interval::DayOfYear:
    case Interval::Day:
    case Interval::Weekday: return fromSeconds(secs + whole * 86400, "DateAdd");
    case Interval::Week: return fromSeconds(secs + whole * 7 * 86400, "DateAdd");
    case Interval::Hour: return fromSeconds(secs + whole * 3600, "DateAdd");
    case Interval::Minute: return fromSeconds(secs + whole * 60, "DateAdd");
    case Interval::Second: return fromSeconds(secs + whole, "DateAdd");
  }
  return Value();
}


Value fnDateDiff(Args a) {
  Interval iv = intervalArg(a[0], "DateDiff");
  auto d1 = dateArg(a[1]);
  auto d2 = dateArg(a[2]);
  if (!d1 || !d2) return Value();
  int first = firstDayArg(a, 3);
  CivilTime c1 = toCivil(*d1), c2 = toCivil(*d2);
  int64_t r = 0;
  switch (iv) {
    case Interval::Year: r = c2.year - c1.year; break;
    case Interval::Quarter:
      r = (c2.year * 4 + (c2.month - 1) / 3) - (c1.year * 4 + (c1.month - 1) / 3);
      break;
    case Interval::Month: r = (c2.year * 12 + c2.month) - (c1.year * 12 + c1.month); break;
    case Interval::DayOfYear:
    case Interval::Day: r = dayNumber(*d2) - dayNumber(*d1); break;
    case Interval::Weekday: r = (dayNumber(*d2) - dayNumber(*d1)) / 7; break;
    case Interval::Week:
      r = (weekStart(dayNumber(*d2), first) - weekStart(dayNumber(*d1), first)) / 7;
      break;
    case Interval::Hour: r = floorDiv(linearSeconds(*d2), 3600) - floorDiv(linearSeconds(*d1), 3600); break;
    case Interval::Minute: r = floorDiv(linearSeconds(*d2), 60) - floorDiv(linearSeconds(*d1), 60); break;
    case Interval::Second: r = linearSeconds(*d2) - linearSeconds(*d1); break;
  }
  if (r < INT32_MIN || r > INT32_MAX) throw JetError(kErrOverflow, "Overflow in DateDiff");
  return Value(static_cast<int32_t>(r));
}

Value fnDatePart(Args a) {
  Interval iv = intervalArg(a[0], "DatePart");
  auto d = dateArg(a[1]);
  if (!d) return Value();
  int first = firstDayArg(a, 2);
  CivilTime c = toCivil(*d);
  int r = 0;
  switch (iv) {
    case Interval::Year: r = c.year; break;
    case Interval::Quarter: r = (c.month - 1) / 3 + 1; break;
    case Interval::Month: r = c.month; break;
    case Interval::DayOfYear: r = static_cast<int>(dayNumber(*d) - daysFromCivil(c.year, 1, 1) + 1); break;
    case Interval::Day: r = c.day; break;
    case Interval::Weekday: r = weekday(*d, first); break;
    case Interval::Week: r = weekOfYear(*d, first, firstWeekArg(a, 3)); break;
    case Interval::Hour: r = c.hour; break;
    case Interval::Minute: r = c.minute; break;
    case Interval::Second: r = c.second; break;
  }
  return Value(static_cast<int32_t>(r));
}

int64_t integerArg(const Value& v, const char* fn) {
  if (v.isNull()) invalidNull(fn);
  return toLong(v);
}

Value fnDateSerial(Args a) {
  if (a[0].isNull() || a[1].isNull() || a[2].isNull()) return Value();
  int64_t y = integerArg(a[0], "DateSerial");
  int64_t m = integerArg(a[1], "DateSerial");
  int64_t d = integerArg(a[2], "DateSerial");
  if (y >= 0 && y <= 29) y += 2000;
  else if (y >= 30 && y <= 99) y += 1900;
  if (std::abs(y) > 100000 || std::abs(m) > 1200000 || std::abs(d) > 40000000)
    invalidArgument("DateSerial");
  return checkedDate(static_cast<double>(daysFromCivil(y, m, d)), "DateSerial");
}

Value fnTimeSerial(Args a) {
  if (a[0].isNull() || a[1].isNull() || a[2].isNull()) return Value();
  int64_t secs = integerArg(a[0], "TimeSerial") * 3600 + integerArg(a[1], "TimeSerial") * 60 +
                 integerArg(a[2], "TimeSerial");
  return fromSeconds(secs, "TimeSerial");
}

Value fnDateValue(Args a) {
  auto d = dateArg(a[0]);
  if (!d) return Value();
  return Value(DateTime{splitDay(*d, nullptr)});
}

Value fnTimeValue(Args a) {
  auto d = dateArg(a[0]);
  if (!d) return Value();
  return Value(DateTime{timeOfDay(*d)});
}

Value fnMonthName(Args a) {
  if (a[0].isNull()) invalidNull("MonthName");
  int m = toLong(a[0]);
  if (m < 1 || m > 12) invalidArgument("MonthName");
  bool abbrev = a.size() > 1 && !a[1].isNull() && toBool(a[1]);
  std::u16string_view n = monthName(m);
  return Value(std::u16string(abbrev ? n.substr(0, 3) : n));
}

Value fnWeekdayName(Args a) {
  if (a[0].isNull()) invalidNull("WeekdayName");
  int w = toLong(a[0]);
  if (w < 1 || w > 7) invalidArgument("WeekdayName");
  bool abbrev = a.size() > 1 && !a[1].isNull() && toBool(a[1]);
  int first = firstDayArg(a, 2);
  std::u16string_view n = dayName((w - 1 + first - 1) % 7 + 1);
  return Value(std::u16string(abbrev ? n.substr(0, 3) : n));
}

Value fnFormat(Args a) {
  std::u16string fmt = a.size() > 1 && !a[1].isNull() ? toText(a[1]) : std::u16string();
  return formatValue(a[0], fmt, firstDayArg(a, 2), firstWeekArg(a, 3));
}

// ------------------------------------------------------------------ table

struct Builtin {
  uint8_t minArgs, maxArgs;
  Value (*fn)(Args);
};

const std::unordered_map<std::u16string, Builtin>& builtins() {
  static const std::unordered_map<std::u16string, Builtin> table = [] {
    std::unordered_map<std::u16string, Builtin> t{
        {u"int", {1, 1, fnInt}},          {u"fix", {1, 1, fnFix}},
        {u"abs", {1, 1, fnAbs}},          {u"round", {1, 2, fnRound}},
        {u"sgn", {1, 1, fnSgn}},          {u"sqr", {1, 1, mathFn<sqrtChecked>}},
        {u"exp", {1, 1, mathFn<expFn>}},  {u"log", {1, 1, mathFn<logChecked>}},
        {u"sin", {1, 1, mathFn<sinFn>}},  {u"cos", {1, 1, mathFn<cosFn>}},
        {u"tan", {1, 1, mathFn<tanFn>}},  {u"atn", {1, 1, mathFn<atnFn>}},
        {u"cstr", {1, 1, fnCStr}},        {u"cint", {1, 1, fnCInt}},
        {u"clng", {1, 1, fnCLng}},        {u"cbyte", {1, 1, fnCByte}},
        {u"csng", {1, 1, fnCSng}},        {u"cdbl", {1, 1, fnCDbl}},
        {u"ccur", {1, 1, fnCCur}},        {u"cdec", {1, 1, fnCDec}},
        {u"cbool", {1, 1, fnCBool}},      {u"cdate", {1, 1, fnCDate}},
        {u"cvdate", {1, 1, fnCVDate}},    {u"cvar", {1, 1, fnCVar}},
        {u"str", {1, 1, fnStr}},          {u"val", {1, 1, fnVal}},
        {u"iif", {3, 3, fnIIf}},          {u"isnull", {1, 1, fnIsNull}},
        {u"isempty", {1, 1, fnIsEmpty}},  {u"isnumeric", {1, 1, fnIsNumeric}},
        {u"isdate", {1, 1, fnIsDate}},    {u"choose", {2, 255, fnChoose}},
        {u"switch", {2, 255, fnSwitch}},  {u"vartype", {1, 1, fnVarType}},
        {u"typename", {1, 1, fnTypeName}},
        {u"now", {0, 0, fnNow}},          {u"date", {0, 0, fnDate}},
        {u"time", {0, 0, fnTime}},
        {u"year", {1, 1, datePartFn<&CivilTime::year>}},
        {u"month", {1, 1, datePartFn<&CivilTime::month>}},
        {u"day", {1, 1, datePartFn<&CivilTime::day>}},
        {u"hour", {1, 1, datePartFn<&CivilTime::hour>}},
        {u"minute", {1, 1, datePartFn<&CivilTime::minute>}},
        {u"second", {1, 1, datePartFn<&CivilTime::second>}},
        {u"weekday", {1, 2, fnWeekday}},  {u"dateadd", {3, 3, fnDateAdd}},
        {u"datediff", {3, 5, fnDateDiff}}, {u"datepart", {2, 4, fnDatePart}},
        {u"dateserial", {3, 3, fnDateSerial}}, {u"timeserial", {3, 3, fnTimeSerial}},
        {u"datevalue", {1, 1, fnDateValue}}, {u"timevalue", {1, 1, fnTimeValue}},
        {u"monthname", {1, 2, fnMonthName}}, {u"weekdayname", {1, 3, fnWeekdayName}},
        {u"format", {1, 4, fnFormat}},
    };
    for (const auto& b : textBuiltins()) t.emplace(b.name, Builtin{b.minArgs, b.maxArgs, b.fn});
    return t;
  }();
  return table;
}

// Lower-case name without a trailing "$" (Left$ is Left returning text).
std::u16string keyOf(std::u16string_view name, bool* dollar) {
  *dollar = !name.empty() && name.back() == u'$';
  if (*dollar) name.remove_suffix(1);
  return lowerAscii(name);
}

// Functions whose "$" form exists (they return text).
bool hasDollarForm(const std::u16string& key) {
  static const char16_t* names[] = {u"left",  u"right", u"mid",    u"trim",  u"ltrim",
                                    u"rtrim", u"ucase", u"lcase",  u"space", u"string",
                                    u"str",   u"chr",   u"chrw",   u"format", u"cstr",
                                    u"date",  u"time",  u"hex",    u"oct"};
  return std::find(std::begin(names), std::end(names), key) != std::end(names);
}

}  // namespace

bool isKnownFunction(std::u16string_view name) {
  bool dollar;
  std::u16string key = keyOf(name, &dollar);
  if (dollar && !hasDollarForm(key)) return false;
  return builtins().count(key) != 0;
}

bool functionArity(std::u16string_view name, int* minArgs, int* maxArgs) {
  if (!isKnownFunction(name)) return false;
  bool dollar;
  const Builtin& b = builtins().at(keyOf(name, &dollar));
  *minArgs = b.minArgs;
  *maxArgs = b.maxArgs;
  return true;
}

Value callFunction(std::u16string_view name, std::span<const Value> args) {
  bool dollar;
  std::u16string key = keyOf(name, &dollar);
  auto it = builtins().find(key);
  if (it == builtins().end() || (dollar && !hasDollarForm(key)))
    throw JetError(kErrUnknownFunction,
                   "Undefined function '" + narrow(name) + "' in expression.");
  const Builtin& b = it->second;
  if (args.size() < b.minArgs || args.size() > b.maxArgs)
    throw JetError(3075, "Wrong number of arguments used with function '" + narrow(name) + "'");
  Value r = b.fn(args);
  // The "$" forms return text and reject Null results; Date$ and Time$ have fixed layouts.
  if (dollar && r.kind() != Kind::Text) {
    if (r.isNull()) invalidNull("a text function");
    if (key == u"date") return formatValue(r, u"mm-dd-yyyy");
    if (key == u"time") return formatValue(r, u"hh:nn:ss");
    r = Value(toText(r));
  }
  return r;
}

void setClockForTesting(std::optional<double> fixedNow) {
  std::lock_guard<std::mutex> lock(g_clockMutex);
  g_fixedNow = fixedNow;
}

double currentDateTime() { return nowValue(); }

}  // namespace bv::sql
