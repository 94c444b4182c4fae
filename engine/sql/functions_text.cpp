#include "engine/sql/functions_text.h"

#include <algorithm>

#include "engine/sql/conv_value.h"
#include "engine/sql/value_ops.h"

namespace bv::sql {

char16_t upperChar(char16_t c) {
  if (c < 0x80) return (c >= u'a' && c <= u'z') ? c - 32 : c;
  if (c >= 0xE0 && c <= 0xFE && c != 0xF7) return c - 32;
  if (c == 0xFF) return 0x178;
  if (c >= 0x100 && c <= 0x17F) {
    // Latin Extended-A pairs: even upper/odd lower, except the runs paired odd/even.
    bool oddUpper = (c >= 0x139 && c <= 0x148) || (c >= 0x179 && c <= 0x17E);
    if (c == 0x131 || c == 0x138 || c == 0x149 || c == 0x17F) return c;
    if (oddUpper) return (c % 2 == 0) ? c - 1 : c;
    return (c % 2 == 1) ? c - 1 : c;
  }
  if (c >= 0x3B1 && c <= 0x3C9 && c != 0x3C2) return c - 32;
  if (c >= 0x430 && c <= 0x44F) return c - 32;
  if (c >= 0x450 && c <= 0x45F) return c - 80;
  return c;
}

char16_t lowerChar(char16_t c) {
  if (c < 0x80) return (c >= u'A' && c <= u'Z') ? c + 32 : c;
  if (c >= 0xC0 && c <= 0xDE && c != 0xD7) return c + 32;
  if (c == 0x178) return 0xFF;
  if (c >= 0x100 && c <= 0x17F) {
    bool oddUpper = (c >= 0x139 && c <= 0x148) || (c >= 0x179 && c <= 0x17E);
    if (c == 0x130 || c == 0x138 || c == 0x149 || c == 0x17F) return c;
    if (oddUpper) return (c % 2 == 1) ? c + 1 : c;
    return (c % 2 == 0) ? c + 1 : c;
  }
  if (c >= 0x391 && c <= 0x3A9) return c + 32;
  if (c >= 0x410 && c <= 0x42F) return c + 32;
  if (c >= 0x400 && c <= 0x40F) return c + 80;
  return c;
}

std::u16string toUpper(std::u16string_view s) {
  std::u16string r(s);
  for (auto& c : r) c = upperChar(c);
  return r;
}

std::u16string toLower(std::u16string_view s) {
  std::u16string r(s);
  for (auto& c : r) c = lowerChar(c);
  return r;
}

namespace {

using Args = std::span<const Value>;

[[noreturn]] void invalidNull(const char* fn) {
  throw JetError(kErrInvalidUseOfNull, std::string("Invalid use of Null in ") + fn);
}

// A count or position argument: Null is not allowed, negative values are invalid.
int64_t countArg(const Value& v, const char* fn, int64_t min) {
  if (v.isNull()) invalidNull(fn);
  int64_t n = toLong(v);
  if (n < min) invalidArgument(fn);
  return n;
}

// Text comparison mode: 0 binary, 1 text; the default (and 2, the database's own mode)
// compares as text.
bool textCompareArg(Args a, size_t i, bool defaultText) {
  if (a.size() <= i) return defaultText;
  if (a[i].isNull()) invalidNull("a text function (compare)");
  int32_t m = toLong(a[i]);
  if (m == -1) return defaultText;
  if (m < 0 || m > 2) invalidArgument("a text function (compare)");
  return m != 0;
}

bool sameChars(std::u16string_view a, std::u16string_view b, bool text) {
  if (!text) return a == b;
  for (size_t i = 0; i < a.size(); ++i)
    if (a[i] != b[i] && lowerChar(a[i]) != lowerChar(b[i]) &&
        compareText(a.substr(i, 1), b.substr(i, 1)) != 0)
      return false;
  return true;
}

// 0-based position of `what` in `s` at or after `from`, or npos.
size_t find(std::u16string_view s, std::u16string_view what, size_t from, bool text) {
  if (what.size() > s.size()) return std::u16string_view::npos;
  for (size_t i = from; i + what.size() <= s.size(); ++i)
    if (sameChars(s.substr(i, what.size()), what, text)) return i;
  return std::u16string_view::npos;
}

Value fnLeft(Args a) {
  int64_t n = countArg(a[1], "Left", 0);
  if (a[0].isNull()) return Value();
  std::u16string s = toText(a[0]);
  return Value(s.substr(0, static_cast<size_t>(std::min<int64_t>(n, static_cast<int64_t>(s.size())))));
}

Value fnRight(Args a) {
  int64_t n = countArg(a[1], "Right", 0);
  if (a[0].isNull()) return Value();
  std::u16string s = toText(a[0]);
  size_t k = static_cast<size_t>(std::min<int64_t>(n, static_cast<int64_t>(s.size())));
  return Value(s.substr(s.size() - k));
}

Value fnMid(Args a) {
  int64_t start = countArg(a[1], "Mid", 1);
  int64_t len = a.size() > 2 ? countArg(a[2], "Mid", 0) : INT32_MAX;
  if (a[0].isNull()) return Value();
  std::u16string s = toText(a[0]);
  if (start > static_cast<int64_t>(s.size())) return Value(u"");
  return Value(s.substr(static_cast<size_t>(start - 1), static_cast<size_t>(len)));
}

Value fnLen(Args a) {
  if (a[0].isNull()) return Value();
  return Value(static_cast<int32_t>(toText(a[0]).size()));
}

// InStr([start,] string1, string2[, compare])
Value fnInStr(Args a) {
  size_t first = 0;
  int64_t start = 1;
  if (a.size() >= 3) {
    start = countArg(a[0], "InStr", 1);
    first = 1;
  }
  const Value& v1 = a[first];
  const Value& v2 = a[first + 1];
  bool text = textCompareArg(a, first + 2, true);
  if (v1.isNull() || v2.isNull()) return Value();
  std::u16string s1 = toText(v1), s2 = toText(v2);
  if (start > static_cast<int64_t>(s1.size())) return Value(static_cast<int32_t>(0));
  if (s2.empty()) return Value(static_cast<int32_t>(start));
  size_t at = find(s1, s2, static_cast<size_t>(start - 1), text);
  return Value(static_cast<int32_t>(at == std::u16string_view::npos ? 0 : at + 1));
}

// InStrRev(string1, string2[, start[, compare]])
Value fnInStrRev(Args a) {
  int64_t start = a.size() > 2 ? toLong(a[2]) : -1;
  if (a.size() > 2 && (start == 0 || start < -1)) invalidArgument("InStrRev");
  bool text = textCompareArg(a, 3, true);
  if (a[0].isNull() || a[1].isNull()) return Value();
  std::u16string s1 = toText(a[0]), s2 = toText(a[1]);
  if (start == -1) start = static_cast<int64_t>(s1.size());
  if (start > static_cast<int64_t>(s1.size())) return Value(static_cast<int32_t>(0));
  if (s2.empty()) return Value(static_cast<int32_t>(start));
  for (int64_t i = start - static_cast<int64_t>(s2.size()); i >= 0; --i)
    if (sameChars(std::u16string_view(s1).substr(static_cast<size_t>(i), s2.size()), s2, text))
      return Value(static_cast<int32_t>(i + 1));
  return Value(static_cast<int32_t>(0));
}

template <bool Left, bool Right>
Value trimFn(Args a) {
  if (a[0].isNull()) return Value();
  std::u16string s = toText(a[0]);
  size_t b = 0, e = s.size();
  if (Left)
    while (b < e && s[b] == u' ') ++b;
  if (Right)
    while (e > b && s[e - 1] == u' ') --e;
  return Value(s.substr(b, e - b));
}

Value fnUCase(Args a) { return a[0].isNull() ? Value() : Value(toUpper(toText(a[0]))); }
Value fnLCase(Args a) { return a[0].isNull() ? Value() : Value(toLower(toText(a[0]))); }

// Replace(expression, find, replace[, start[, count[, compare]]]): the result starts at
// `start`; the comparison is binary unless asked otherwise.
Value fnReplace(Args a) {
  if (a[0].isNull()) invalidNull("Replace");
  if (a[1].isNull() || a[2].isNull()) return Value();
  int64_t start = a.size() > 3 ? countArg(a[3], "Replace", 1) : 1;
  int64_t count = a.size() > 4 ? countArg(a[4], "Replace", -1) : -1;
  bool text = textCompareArg(a, 5, false);
  std::u16string s = toText(a[0]), f = toText(a[1]), r = toText(a[2]);
  if (start > static_cast<int64_t>(s.size())) return Value(u"");
  s.erase(0, static_cast<size_t>(start - 1));
  if (f.empty() || count == 0) return Value(s);
  std::u16string out;
  size_t pos = 0;
  for (int64_t done = 0; count < 0 || done < count; ++done) {
    size_t at = find(s, f, pos, text);
    if (at == std::u16string_view::npos) break;
    out.append(s, pos, at - pos);
    out += r;
    pos = at + f.size();
  }
  out.append(s, pos, std::u16string::npos);
  return Value(out);
}

constexpr int64_t kMaxBuiltText = 1 << 24;  // refuses to build absurdly long text

Value fnSpace(Args a) {
  int64_t n = countArg(a[0], "Space", 0);
  if (n > kMaxBuiltText) invalidArgument("Space");
  return Value(std::u16string(static_cast<size_t>(n), u' '));
}

// String(number, character): `character` is a character code or the first character of
// a text.
Value fnString(Args a) {
  if (a[0].isNull() || a[1].isNull()) return Value();
  int64_t n = countArg(a[0], "String", 0);
  if (n > kMaxBuiltText) invalidArgument("String");
  char16_t c;
  if (a[1].kind() == Kind::Text) {
    const auto& s = a[1].as<std::u16string>();
    if (s.empty()) invalidArgument("String");
    c = s[0];
  } else {
    int32_t code = toLong(a[1]);
    c = static_cast<char16_t>(((code % 256) + 256) % 256);
  }
  return Value(std::u16string(static_cast<size_t>(n), c));
}

template <int Min, int Max>
Value chrFn(Args a) {
  if (a[0].isNull()) invalidNull("Chr");
  int32_t code = toLong(a[0]);
  if (code < Min || code > Max) invalidArgument("Chr");
  return Value(std::u16string(1, static_cast<char16_t>(code & 0xFFFF)));
}

Value fnAsc(Args a) {
  if (a[0].isNull()) invalidNull("Asc");
  std::u16string s = toText(a[0]);
  if (s.empty()) invalidArgument("Asc");
  if (s[0] < 0x80) return Value(static_cast<int16_t>(s[0]));
  // Characters of the Western code page give their byte, others their code unit.
  static const char16_t high[32] = {0x20AC, 0x81,   0x201A, 0x192,  0x201E, 0x2026, 0x2020, 0x2021,
                                    0x2C6,  0x2030, 0x160,  0x2039, 0x152,  0x8D,   0x17D,  0x8F,
                                    0x90,   0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,
                                    0x2DC,  0x2122, 0x161,  0x203A, 0x153,  0x9D,   0x17E,  0x178};
  for (int i = 0; i < 32; ++i)
    if (high[i] == s[0]) return Value(static_cast<int16_t>(0x80 + i));
  if (s[0] >= 0xA0 && s[0] <= 0xFF) return Value(static_cast<int16_t>(s[0]));
  return Value(static_cast<int16_t>(static_cast<int16_t>(s[0])));
}

Value fnAscW(Args a) {
  if (a[0].isNull()) invalidNull("AscW");
  std::u16string s = toText(a[0]);
  if (s.empty()) invalidArgument("AscW");
  return Value(static_cast<int16_t>(s[0]));
}

Value fnStrComp(Args a) {
  bool text = textCompareArg(a, 2, true);
  if (a[0].isNull() || a[1].isNull()) return Value();
  std::u16string x = toText(a[0]), y = toText(a[1]);
  int c = text ? compareText(x, y) : x.compare(y);
  return Value(static_cast<int16_t>(c < 0 ? -1 : c > 0 ? 1 : 0));
}

Value fnStrReverse(Args a) {
  if (a[0].isNull()) invalidNull("StrReverse");
  std::u16string s = toText(a[0]);
  std::reverse(s.begin(), s.end());
  return Value(s);
}

template <int Radix>
Value radixFn(Args a) {
  if (a[0].isNull()) return Value();
  double d = roundHalfEven(toDouble(a[0]));
  if (!(d >= -2147483648.0 && d <= 2147483647.0)) throw JetError(kErrOverflow, "Overflow in Hex/Oct");
  auto v = static_cast<int32_t>(d);
  // Negative Integer-sized values print as 16 bits, other negatives as 32 bits.
  uint32_t u = (a[0].kind() == Kind::Integer || a[0].kind() == Kind::Byte || a[0].kind() == Kind::Bool) && v < 0
                   ? static_cast<uint16_t>(v)
                   : static_cast<uint32_t>(v);
  std::string s;
  do {
    s.insert(s.begin(), "0123456789ABCDEF"[u % Radix]);
    u /= Radix;
  } while (u);
  return Value(widen(s));
}

constexpr TextBuiltin kText[] = {
    {u"left", 2, 2, fnLeft},          {u"right", 2, 2, fnRight},
    {u"mid", 2, 3, fnMid},            {u"len", 1, 1, fnLen},
    {u"instr", 2, 4, fnInStr},        {u"instrrev", 2, 4, fnInStrRev},
    {u"ltrim", 1, 1, trimFn<true, false>}, {u"rtrim", 1, 1, trimFn<false, true>},
    {u"trim", 1, 1, trimFn<true, true>},   {u"ucase", 1, 1, fnUCase},
    {u"lcase", 1, 1, fnLCase},        {u"replace", 3, 6, fnReplace},
    {u"space", 1, 1, fnSpace},        {u"string", 2, 2, fnString},
    {u"chr", 1, 1, chrFn<0, 255>},       {u"chrw", 1, 1, chrFn<-32768, 65535>},
    {u"asc", 1, 1, fnAsc},            {u"ascw", 1, 1, fnAscW},
    {u"strcomp", 2, 3, fnStrComp},    {u"strreverse", 1, 1, fnStrReverse},
    {u"hex", 1, 1, radixFn<16>},      {u"oct", 1, 1, radixFn<8>},
};

}  // namespace

std::span<const TextBuiltin> textBuiltins() { return kText; }

}  // namespace bv::sql
