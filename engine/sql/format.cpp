#include "engine/sql/format.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <vector>

#include "engine/sql/conv_value.h"
#include "engine/sql/datetime.h"
#include "engine/sql/functions_text.h"
#include "engine/sql/value_ops.h"

namespace bv::sql {
namespace {

bool equalsFolded(std::u16string_view a, std::u16string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i)
    if (lowerChar(a[i]) != lowerChar(b[i])) return false;
  return true;
}

bool startsFolded(std::u16string_view s, size_t at, std::u16string_view word) {
  return s.size() - at >= word.size() && equalsFolded(s.substr(at, word.size()), word);
}

// ------------------------------------------------------------------ numbers

// Decimal digits of |v| rounded half away from zero to `frac` places, from its 15
// significant digits: integer digits ("0" when none) and exactly `frac` fraction digits.
void roundedDigits(double v, int frac, std::string* intDigits, std::string* fracDigits) {
  v = std::fabs(v);
  std::string digits;
  int exp = 0;
  if (v != 0) {
    char buf[40];
    std::snprintf(buf, sizeof buf, "%.14e", v);
    for (const char* p = buf; *p && *p != 'e'; ++p)
      if (*p >= '0' && *p <= '9') digits += *p;
    exp = std::atoi(std::strchr(buf, 'e') + 1);
  }
  // Digits with the point after position exp + 1; pad so that all positions exist.
  int pointAt = exp + 1;
  if (digits.empty()) {
    digits.assign(1, '0');
    pointAt = 1;
  }
  if (pointAt <= 0) {
    std::string padded(static_cast<size_t>(1 - pointAt), '0');
    padded.append(digits);
    digits.swap(padded);
    pointAt = 1;
  }
  int need = pointAt + frac;
  if (static_cast<int>(digits.size()) < need + 1) digits.append(static_cast<size_t>(need + 1 - static_cast<int>(digits.size())), '0');
  bool up = digits[static_cast<size_t>(need)] >= '5';
  digits.resize(static_cast<size_t>(need));
  if (up) {
    int i = need - 1;
    for (; i >= 0; --i) {
      if (digits[static_cast<size_t>(i)] == '9') {
        digits[static_cast<size_t>(i)] = '0';
      } else {
        ++digits[static_cast<size_t>(i)];
        break;
      }
    }
    if (i < 0) {
      digits.insert(digits.begin(), '1');
      ++pointAt;
    }
  }
  *intDigits = digits.substr(0, static_cast<size_t>(pointAt));
  *fracDigits = digits.substr(static_cast<size_t>(pointAt));
  size_t nz = intDigits->find_first_not_of('0');
  *intDigits = nz == std::string::npos ? "0" : intDigits->substr(nz);
}

// One element of a numeric format section.
struct NumTok {
  enum Type { Literal, Zero, Hash, Point, Exp } type;
  std::u16string text;     // Literal
  bool expPlus = false;    // Exp: "E+" (always a sign) or "E-"
  int expDigits = 0;       // Exp: '0's after the sign
};

struct NumSection {
  std::vector<NumTok> toks;
  bool grouping = false;
  int scaleThousands = 0;
  bool percent = false;
};

NumSection parseNumSection(std::u16string_view f) {
  NumSection s;
  auto literal = [&](std::u16string t) {
    if (!s.toks.empty() && s.toks.back().type == NumTok::Literal)
      s.toks.back().text += t;
    else
      s.toks.push_back({NumTok::Literal, std::move(t)});
  };
  bool seenPoint = false, seenDigit = false;
  for (size_t i = 0; i < f.size(); ++i) {
    char16_t c = f[i];
    if (c == u'"') {
      size_t end = f.find(u'"', i + 1);
      if (end == std::u16string_view::npos) end = f.size();
      literal(std::u16string(f.substr(i + 1, end - i - 1)));
      i = end;
    } else if (c == u'\\' && i + 1 < f.size()) {
      literal(std::u16string(1, f[++i]));
    } else if (c == u'0' || c == u'#') {
      s.toks.push_back({c == u'0' ? NumTok::Zero : NumTok::Hash, {}});
      seenDigit = true;
    } else if (c == u'.' && !seenPoint) {
      s.toks.push_back({NumTok::Point, {}});
      seenPoint = true;
    } else if (c == u',') {
      // Between digit placeholders: thousands grouping. Right after the last integer
      // placeholder: divide by 1000 per comma.
      bool nextIsDigit = i + 1 < f.size() && (f[i + 1] == u'0' || f[i + 1] == u'#');
      if (seenDigit && nextIsDigit && !seenPoint)
        s.grouping = true;
      else if (seenDigit && !seenPoint)
        ++s.scaleThousands;
      else
        literal(u",");
    } else if (c == u'%') {
      s.percent = true;
      literal(u"%");
    } else if ((c == u'E' || c == u'e') && i + 1 < f.size() && (f[i + 1] == u'+' || f[i + 1] == u'-') &&
               seenDigit) {
      NumTok t{NumTok::Exp, std::u16string(1, c)};
      t.expPlus = f[i + 1] == u'+';
      i += 2;
      while (i < f.size() && (f[i] == u'0' || f[i] == u'#')) {
        ++t.expDigits;
        ++i;
      }
      --i;
      s.toks.push_back(t);
    } else {
      literal(std::u16string(1, c));
    }
  }
  return s;
}

// Formats |v| with one section (the sign is the caller's business).
std::u16string formatNumber(double v, const NumSection& s) {
  if (!std::isfinite(v)) return numberToText(v, 15);
  if (s.percent) v *= 100;
  for (int i = 0; i < s.scaleThousands; ++i) v /= 1000;
  // Placeholders before and after the point, and the exponent if any.
  int intZeros = 0, intSlots = 0, fracSlots = 0, fracZeros = 0;
  const NumTok* exp = nullptr;
  bool afterPoint = false;
  for (const auto& t : s.toks) {
    if (t.type == NumTok::Point) afterPoint = true;
    if (t.type == NumTok::Exp) {
      exp = &t;
      break;
    }
    if (t.type != NumTok::Zero && t.type != NumTok::Hash) continue;
    if (afterPoint) {
      ++fracSlots;
      if (t.type == NumTok::Zero) fracZeros = fracSlots;
    } else {
      ++intSlots;
      if (t.type == NumTok::Zero) ++intZeros;
    }
  }
  int exponent = 0;
  if (exp && v != 0) {
    int lead = std::max(intSlots, 1);
    exponent = static_cast<int>(std::floor(std::log10(std::fabs(v)))) - (lead - 1);
    v /= std::pow(10.0, exponent);
    std::string ip, fp;
    roundedDigits(v, fracSlots, &ip, &fp);
    if (static_cast<int>(ip.size()) > lead) {  // rounding carried into a new digit
      ++exponent;
      v /= 10;
    }
  }
  std::string ip, fp;
  roundedDigits(v, fracSlots, &ip, &fp);
  if (ip == "0" && intZeros == 0) ip.clear();
  if (static_cast<int>(ip.size()) < intZeros) ip.insert(0, static_cast<size_t>(intZeros) - ip.size(), '0');
  // Optional fraction digits: trailing zeros beyond the '0' placeholders are dropped.
  size_t keep = fp.size();
  while (keep > static_cast<size_t>(fracZeros) && fp[keep - 1] == '0') --keep;
  fp.resize(keep);

  std::u16string out;
  // Integer placeholders take one digit each from the right; the first one takes all the
  // digits that are left. Grouping commas go by the digit's place in the whole number.
  const size_t n = ip.size();
  int slot = 0;
  auto emitInteger = [&](int k) {
    const int offset = static_cast<int>(n) - intSlots;  // slot k >= 1 shows digit offset + k
    int from = k == 0 ? 0 : std::max(0, offset + k);
    int to = std::max(0, offset + k + 1);
    for (int j = from; j < to; ++j) {
      out += static_cast<char16_t>(ip[static_cast<size_t>(j)]);
      size_t place = n - 1 - static_cast<size_t>(j);
      if (s.grouping && place > 0 && place % 3 == 0) out += u',';
    }
  };
  size_t fracPos = 0;
  afterPoint = false;
  for (const auto& t : s.toks) {
    switch (t.type) {
      case NumTok::Literal: out += t.text; break;
      case NumTok::Point:
        afterPoint = true;
        out += u'.';
        break;
      case NumTok::Zero:
      case NumTok::Hash:
        if (!afterPoint) {
          emitInteger(slot++);
        } else if (fracPos < fp.size()) {
          out += static_cast<char16_t>(fp[fracPos++]);
        }
        break;
      case NumTok::Exp: {
        out += t.text;
        if (exponent < 0)
          out += u'-';
        else if (t.expPlus)
          out += u'+';
        std::string e = std::to_string(std::abs(exponent));
        if (static_cast<int>(e.size()) < t.expDigits) e.insert(0, static_cast<size_t>(t.expDigits) - e.size(), '0');
        out += widen(e);
        break;
      }
    }
    if (t.type == NumTok::Exp) {
      // literals after the exponent
      bool past = false;
      for (const auto& u : s.toks) {
        if (&u == &t) {
          past = true;
          continue;
        }
        if (past && u.type == NumTok::Literal) out += u.text;
      }
      break;
    }
  }
  return out;
}

std::vector<std::u16string_view> splitSections(std::u16string_view f) {
  std::vector<std::u16string_view> parts;
  size_t start = 0;
  bool quoted = false;
  for (size_t i = 0; i < f.size(); ++i) {
    if (f[i] == u'"') quoted = !quoted;
    if (f[i] == u'\\') {
      ++i;
      continue;
    }
    if (f[i] == u';' && !quoted) {
      parts.push_back(f.substr(start, i - start));
      start = i + 1;
    }
  }
  parts.push_back(f.substr(start));
  return parts;
}

// Whether the rounded text of a section shows only zeros (for "-0.00" suppression).
bool allZero(std::u16string_view s) {
  for (char16_t c : s)
    if (c >= u'1' && c <= u'9') return false;
  return true;
}

Value formatNumeric(const Value& v, std::u16string_view fmt) {
  auto sections = splitSections(fmt);
  if (v.isNull()) {
    if (sections.size() < 4) return Value();
    std::u16string text;  // the Null section shows its literal text
    for (const auto& t : parseNumSection(sections[3]).toks)
      if (t.type == NumTok::Literal) text += t.text;
    return Value(text);
  }
  double x = toDouble(v);
  std::u16string_view sec = sections[0];
  bool ownSign = false;
  if (x < 0 && sections.size() >= 2 && !sections[1].empty()) {
    sec = sections[1];
    ownSign = true;
  } else if (x == 0 && sections.size() >= 3 && !sections[2].empty()) {
    sec = sections[2];
  }
  std::u16string text = formatNumber(x, parseNumSection(sec));
  if (x < 0 && !ownSign && !allZero(text)) text.insert(text.begin(), u'-');
  return Value(text);
}

// ------------------------------------------------------------------ dates

std::u16string pad2(int n) {
  std::u16string s = widen(std::to_string(n));
  return s.size() < 2 ? u"0" + s : s;
}

std::u16string num(int n) { return widen(std::to_string(n)); }

bool hasAmPm(std::u16string_view f) {
  for (size_t i = 0; i < f.size(); ++i) {
    if (f[i] == u'"') {
      size_t end = f.find(u'"', i + 1);
      if (end == std::u16string_view::npos) return false;
      i = end;
      continue;
    }
    if (startsFolded(f, i, u"am/pm") || startsFolded(f, i, u"a/p") || startsFolded(f, i, u"ampm"))
      return true;
  }
  return false;
}

std::u16string formatDate(double d, std::u16string_view f, int firstDay, int firstWeek);

std::u16string longDate(double d) { return formatDate(d, u"dddd, mmmm d, yyyy", 1, 1); }
std::u16string shortDate(double d) { return formatDate(d, u"m/d/yyyy", 1, 1); }
std::u16string longTime(double d) { return formatDate(d, u"h:nn:ss AM/PM", 1, 1); }

std::u16string formatDate(double d, std::u16string_view f, int firstDay, int firstWeek) {
  CivilTime c = toCivil(d);
  bool twelve = hasAmPm(f);
  std::u16string out;
  bool lastWasHour = false;  // an 'm' after an hour means minutes
  auto nextIsSeconds = [&](size_t from) {
    for (size_t j = from; j < f.size(); ++j) {
      char16_t ch = lowerChar(f[j]);
      if (ch == u's') return true;
      if (ch == u'd' || ch == u'y' || ch == u'h' || ch == u'm' || ch == u'w' || ch == u'q') return false;
    }
    return false;
  };
  for (size_t i = 0; i < f.size();) {
    char16_t ch = lowerChar(f[i]);
    size_t run = 1;
    while (i + run < f.size() && lowerChar(f[i + run]) == ch) ++run;
    if (f[i] == u'"') {
      size_t end = f.find(u'"', i + 1);
      if (end == std::u16string_view::npos) end = f.size();
      out += f.substr(i + 1, end - i - 1);
      i = end + 1;
      continue;
    }
    if (f[i] == u'\\' && i + 1 < f.size()) {
      out += f[i + 1];
      i += 2;
      continue;
    }
    if (startsFolded(f, i, u"am/pm")) {
      bool upper = f[i] == u'A' || f[i] == u'P';
      out += c.hour < 12 ? (upper ? u"AM" : u"am") : (upper ? u"PM" : u"pm");
      i += 5;
      continue;
    }
    if (startsFolded(f, i, u"a/p")) {
      bool upper = f[i] == u'A' || f[i] == u'P';
      out += c.hour < 12 ? (upper ? u"A" : u"a") : (upper ? u"P" : u"p");
      i += 3;
      continue;
    }
    if (startsFolded(f, i, u"ampm")) {
      out += c.hour < 12 ? u"AM" : u"PM";
      i += 4;
      continue;
    }
    switch (ch) {
      case u'd':
        if (run == 1) out += num(c.day);
        else if (run == 2) out += pad2(c.day);
        else if (run == 3) out += dayName(weekday(d)).substr(0, 3);
        else if (run == 4) out += dayName(weekday(d));
        else if (run == 5) out += shortDate(d);
        else out += longDate(d);
        lastWasHour = false;
        break;
      case u'm':
        if ((lastWasHour || nextIsSeconds(i + run)) && run <= 2) {
          out += run == 1 ? num(c.minute) : pad2(c.minute);
        } else if (run == 1) {
          out += num(c.month);
        } else if (run == 2) {
          out += pad2(c.month);
        } else if (run == 3) {
          out += monthName(c.month).substr(0, 3);
        } else {
          out += monthName(c.month);
        }
        lastWasHour = false;
        break;
      case u'n':
        out += run == 1 ? num(c.minute) : pad2(c.minute);
        lastWasHour = false;
        break;
      case u's':
        out += run == 1 ? num(c.second) : pad2(c.second);
        lastWasHour = false;
        break;
      case u'h': {
        int h = c.hour;
        if (twelve) h = h % 12 == 0 ? 12 : h % 12;
        out += run == 1 ? num(h) : pad2(h);
        lastWasHour = true;
        i += std::min<size_t>(run, 2);
        continue;
      }
      case u'y':
        if (run == 1) {
          out += num(static_cast<int>(dayNumber(d) - daysFromCivil(c.year, 1, 1) + 1));
        } else if (run <= 3) {
          out += pad2(c.year % 100);
          if (run == 3) out += num(static_cast<int>(dayNumber(d) - daysFromCivil(c.year, 1, 1) + 1));
        } else {
          out += num(c.year);
        }
        lastWasHour = false;
        break;
      case u'q': out += num((c.month - 1) / 3 + 1); break;
      case u'w':
        out += run == 1 ? num(weekday(d, firstDay)) : num(weekOfYear(d, firstDay, firstWeek));
        break;
      case u'c': out += dateToText(d); break;
      case u't':
        if (run >= 5) {
          out += longTime(d);
          break;
        }
        out += f.substr(i, run);
        break;
      default:
        out += f.substr(i, run);
        break;
    }
    i += run;
  }
  return out;
}

bool looksLikeDateFormat(std::u16string_view f) {
  bool quoted = false;
  for (size_t i = 0; i < f.size(); ++i) {
    char16_t c = f[i];
    if (c == u'"') quoted = !quoted;
    if (quoted) continue;
    if (c == u'\\') {
      ++i;
      continue;
    }
    if (c == u'0' || c == u'#') return false;
    char16_t l = lowerChar(c);
    if (l == u'd' || l == u'm' || l == u'y' || l == u'h' || l == u'n' || l == u's' ||
        l == u'w' || l == u'q' || l == u'c')
      return true;
  }
  return false;
}

bool looksLikeTextFormat(std::u16string_view f) {
  bool text = false;
  for (char16_t c : f) {
    if (c == u'0' || c == u'#') return false;
    if (c == u'@' || c == u'&' || c == u'<' || c == u'>') text = true;
  }
  return text;
}

std::u16string formatText(std::u16string s, std::u16string_view f) {
  bool upper = false, lower = false, leftToRight = false;
  std::vector<std::u16string> pieces;  // literals and placeholders in order
  std::vector<char16_t> kinds;         // '@', '&' or 0 for literal
  for (size_t i = 0; i < f.size(); ++i) {
    char16_t c = f[i];
    if (c == u'<') lower = true, upper = false;
    else if (c == u'>') upper = true, lower = false;
    else if (c == u'!') leftToRight = true;
    else if (c == u'@' || c == u'&') pieces.emplace_back(), kinds.push_back(c);
    else if (c == u'\\' && i + 1 < f.size()) pieces.emplace_back(1, f[++i]), kinds.push_back(0);
    else if (c == u'"') {
      size_t end = f.find(u'"', i + 1);
      if (end == std::u16string_view::npos) end = f.size();
      pieces.emplace_back(f.substr(i + 1, end - i - 1));
      kinds.push_back(0);
      i = end;
    } else {
      pieces.emplace_back(1, c);
      kinds.push_back(0);
    }
  }
  if (upper) s = toUpper(s);
  if (lower) s = toLower(s);
  size_t slots = 0;
  for (char16_t k : kinds) slots += k != 0;
  if (slots == 0) {
    std::u16string out;
    for (auto& p : pieces) out += p;
    return out + s;
  }
  // Fill placeholders right to left (or left to right with '!'); extra characters go
  // with the first (last) placeholder.
  std::vector<size_t> slotIdx;
  for (size_t i = 0; i < kinds.size(); ++i)
    if (kinds[i]) slotIdx.push_back(i);
  if (!leftToRight) {
    size_t pos = s.size();
    for (size_t k = slotIdx.size(); k-- > 0;) {
      size_t idx = slotIdx[k];
      if (k == 0) {
        pieces[idx] = s.substr(0, pos);
        if (pieces[idx].empty() && kinds[idx] == u'@') pieces[idx] = u" ";
      } else if (pos > 0) {
        pieces[idx] = s.substr(--pos, 1);
      } else {
        pieces[idx] = kinds[idx] == u'@' ? u" " : u"";
      }
    }
  } else {
    size_t pos = 0;
    for (size_t k = 0; k < slotIdx.size(); ++k) {
      size_t idx = slotIdx[k];
      if (k + 1 == slotIdx.size()) {
        pieces[idx] = pos < s.size() ? s.substr(pos) : (kinds[idx] == u'@' ? u" " : u"");
      } else if (pos < s.size()) {
        pieces[idx] = s.substr(pos++, 1);
      } else {
        pieces[idx] = kinds[idx] == u'@' ? u" " : u"";
      }
    }
  }
  std::u16string out;
  for (auto& p : pieces) out += p;
  return out;
}

// Numeric value for a numeric format, or nullopt for text that is not a number.
std::optional<Value> numericInput(const Value& v) {
  if (v.kind() == Kind::Text) {
    auto n = parseNumber(v.as<std::u16string>());
    if (!n) return std::nullopt;
    return Value(*n);
  }
  if (v.kind() == Kind::Binary || v.kind() == Kind::Guid) return std::nullopt;
  return v;
}

std::optional<double> dateInput(const Value& v) {
  if (v.kind() == Kind::DateTime) return v.as<DateTime>().days;
  if (v.kind() == Kind::Text) {
    if (auto d = parseDateTime(v.as<std::u16string>())) return d;
    return parseNumber(v.as<std::u16string>());
  }
  if (isNumericKind(v.kind())) return toDouble(v);
  return std::nullopt;
}

struct Named {
  const char16_t* name;
  const char16_t* pattern;
  bool date;
};

constexpr Named kNamed[] = {
    {u"currency", u"$#,##0.00;($#,##0.00)", false},
    {u"fixed", u"0.00", false},
    {u"standard", u"#,##0.00", false},
    {u"percent", u"0.00%", false},
    {u"scientific", u"0.00E+00", false},
    {u"long date", u"dddd, mmmm d, yyyy", true},
    {u"medium date", u"dd-mmm-yy", true},
    {u"short date", u"m/d/yyyy", true},
    {u"long time", u"h:nn:ss AM/PM", true},
    {u"medium time", u"hh:nn AM/PM", true},
    {u"short time", u"hh:nn", true},
};

}  // namespace

Value formatValue(const Value& v, std::u16string_view fmt, int firstDay, int firstWeek) {
  if (fmt.empty()) return v.isNull() ? Value() : Value(toText(v));
  auto yesNo = [&](const char16_t* yes, const char16_t* no) -> Value {
    if (v.isNull()) return Value();
    auto n = numericInput(v);
    if (!n) return Value(toText(v));
    return Value(toDouble(*n) != 0 ? yes : no);
  };
  if (equalsFolded(fmt, u"yes/no")) return yesNo(u"Yes", u"No");
  if (equalsFolded(fmt, u"true/false")) return yesNo(u"True", u"False");
  if (equalsFolded(fmt, u"on/off")) return yesNo(u"On", u"Off");
  if (equalsFolded(fmt, u"general number")) {
    if (v.isNull()) return Value();
    auto n = numericInput(v);
    if (!n) return Value(toText(v));
    if (n->kind() == Kind::DateTime || n->kind() == Kind::Bool) return Value(toText(Value(toDouble(*n))));
    return Value(toText(*n));
  }
  if (equalsFolded(fmt, u"general date")) {
    if (v.isNull()) return Value();
    auto d = dateInput(v);
    return Value(d ? dateToText(*d) : toText(v));
  }
  std::u16string_view pattern = fmt;
  bool isDate = false, named = false;
  for (const auto& n : kNamed)
    if (equalsFolded(fmt, n.name)) {
      pattern = n.pattern;
      isDate = n.date;
      named = true;
    }
  if (!named) isDate = looksLikeDateFormat(fmt);
  if (isDate) {
    if (v.isNull()) return Value();
    auto d = dateInput(v);
    if (!d) return Value(toText(v));
    if (!(*d >= kMinDate && *d < kMaxDate + 0.00001)) return Value(numberToText(*d, 15));
    return Value(formatDate(*d, pattern, firstDay, firstWeek));
  }
  if (!named && looksLikeTextFormat(fmt)) {
    if (v.isNull()) return Value();
    return Value(formatText(toText(v), fmt));
  }
  if (v.isNull()) return formatNumeric(v, pattern);
  auto n = numericInput(v);
  if (!n) return Value(toText(v));
  return formatNumeric(*n, pattern);
}

}  // namespace bv::sql
