#include "engine/sql/datetime.h"

#include <array>
#include <cmath>
#include <vector>

#include "engine/sql/functions.h"

namespace bv::sql {
namespace {

// Day 0 of the Jet calendar (1899-12-30) counted from 1970-01-01.
constexpr int64_t kEpochShift = 25569;

int64_t floorDiv(int64_t a, int64_t b) { return a / b - ((a % b != 0) && ((a < 0) != (b < 0))); }

constexpr std::array<const char16_t*, 12> kMonths = {
    u"January", u"February", u"March",     u"April",   u"May",      u"June",
    u"July",    u"August",   u"September", u"October", u"November", u"December"};
constexpr std::array<const char16_t*, 7> kDays = {u"Sunday",   u"Monday", u"Tuesday",
                                                  u"Wednesday", u"Thursday", u"Friday",
                                                  u"Saturday"};

char16_t lower(char16_t c) { return (c >= u'A' && c <= u'Z') ? c + 32 : c; }

bool startsWithFolded(std::u16string_view full, std::u16string_view word) {
  if (word.size() > full.size()) return false;
  for (size_t i = 0; i < word.size(); ++i)
    if (lower(full[i]) != lower(word[i])) return false;
  return true;
}

// Month from its full name or an abbreviation of three letters or more; 0 if none.
int monthFromWord(std::u16string_view w) {
  if (w.size() < 3) return 0;
  for (int m = 0; m < 12; ++m)
    if (startsWithFolded(kMonths[m], w)) return m + 1;
  return 0;
}

bool isWeekdayWord(std::u16string_view w) {
  if (w.size() < 3) return false;
  for (auto d : kDays)
    if (startsWithFolded(d, w)) return true;
  return false;
}

struct Token {
  enum Type { Num, Word, Sep } type;
  explicit Token(Type t) : type(t) {}
  int64_t num = 0;
  int digits = 0;
  std::u16string text;
  char16_t sep = 0;
};

std::optional<std::vector<Token>> tokenize(std::u16string_view s) {
  std::vector<Token> out;
  size_t i = 0;
  while (i < s.size()) {
    char16_t c = s[i];
    if (c >= u'0' && c <= u'9') {
      Token t(Token::Num);
      while (i < s.size() && s[i] >= u'0' && s[i] <= u'9') {
        if (t.digits < 9) t.num = t.num * 10 + (s[i] - u'0');
        ++t.digits;
        ++i;
      }
      if (t.digits > 9) return std::nullopt;
      out.push_back(t);
    } else if ((c >= u'a' && c <= u'z') || (c >= u'A' && c <= u'Z')) {
      Token t(Token::Word);
      while (i < s.size() && ((s[i] >= u'a' && s[i] <= u'z') || (s[i] >= u'A' && s[i] <= u'Z')))
        t.text += s[i++];
      out.push_back(t);
    } else if (c == u'/' || c == u'-' || c == u'.' || c == u',' || c == u':' || c == u' ' ||
               c == u'\t') {
      if (c != u' ' && c != u'\t') {
        Token t(Token::Sep);
        t.sep = c;
        out.push_back(t);
      }
      ++i;
    } else {
      return std::nullopt;
    }
  }
  return out;
}

int ampmOf(const Token& t) {  // 1 = AM, 2 = PM, 0 = neither
  if (t.type != Token::Word) return 0;
  std::u16string w;
  for (char16_t c : t.text) w += lower(c);
  if (w == u"am" || w == u"a") return 1;
  if (w == u"pm" || w == u"p") return 2;
  return 0;
}

}  // namespace

int64_t daysFromCivil(int64_t y, int64_t m, int64_t d) {
  // Month out of 1..12 carries into the year; the day may be any count from the 1st.
  y += floorDiv(m - 1, 12);
  m = m - 1 - floorDiv(m - 1, 12) * 12 + 1;
  // Days from 1970-01-01 to the first of the month, counting in 400-year eras from March.
  int64_t yy = m <= 2 ? y - 1 : y;
  int64_t era = floorDiv(yy, 400);
  int64_t yoe = yy - era * 400;
  int64_t mp = (m + 9) % 12;
  int64_t doy = (153 * mp + 2) / 5;
  int64_t doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + doe - 719468 + kEpochShift + (d - 1);
}

namespace {
void civilFromDays(int64_t jetDay, int* y, int* m, int* d) {
  int64_t z = jetDay - kEpochShift + 719468;
  int64_t era = floorDiv(z, 146097);
  int64_t doe = z - era * 146097;
  int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  int64_t mp = (5 * doy + 2) / 153;
  *d = static_cast<int>(doy - (153 * mp + 2) / 5 + 1);
  *m = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
  *y = static_cast<int>(yoe + era * 400 + (*m <= 2 ? 1 : 0));
}
}  // namespace

double splitDay(double x, double* timeOfDay) {
  double day = std::trunc(x);
  if (timeOfDay) *timeOfDay = std::fabs(x - day);
  return day;
}

double timeOfDay(double x) {
  double t;
  splitDay(x, &t);
  return static_cast<double>(std::llround(t * 86400.0) % 86400) / 86400.0;
}

double toLinear(double x) {
  double t;
  double d = splitDay(x, &t);
  return d + t;
}

double fromLinear(double linear) {
  double d = std::floor(linear);
  double t = linear - d;
  return d >= 0 ? d + t : d - t;
}

CivilTime toCivil(double x) {
  if (!(x >= kMinDate && x < kMaxDate + 1)) x = 0;  // callers check the range; keep this safe
  double t;
  double day = splitDay(x, &t);
  auto secs = static_cast<int64_t>(std::llround(t * 86400.0));
  auto d = static_cast<int64_t>(day);
  if (secs >= 86400) {
    secs -= 86400;
    d += 1;
  }
  CivilTime c;
  civilFromDays(d, &c.year, &c.month, &c.day);
  c.hour = static_cast<int>(secs / 3600);
  c.minute = static_cast<int>(secs / 60 % 60);
  c.second = static_cast<int>(secs % 60);
  return c;
}

double fromCivil(const CivilTime& c) {
  double d = static_cast<double>(daysFromCivil(c.year, c.month, c.day));
  double t = (c.hour * 3600.0 + c.minute * 60.0 + c.second) / 86400.0;
  return d >= 0 ? d + t : d - t;
}

int daysInMonth(int year, int month) {
  return static_cast<int>(daysFromCivil(year, month + 1, 1) - daysFromCivil(year, month, 1));
}

int weekday(double x, int first) {
  if (first < 1 || first > 7) first = 1;
  auto d = static_cast<int64_t>(std::trunc(x));
  int sundayBased = static_cast<int>(((d + 6) % 7 + 7) % 7) + 1;  // day 0 is a Saturday
  return (sundayBased - first + 7) % 7 + 1;
}

int64_t dayNumber(double x) {
  int64_t secs = std::llround(toLinear(x) * 86400.0);
  return floorDiv(secs, 86400);
}

int64_t weekStart(int64_t day, int firstDay) {
  return day - (weekday(static_cast<double>(day), firstDay) - 1);
}

int weekOfYear(double date, int firstDay, int firstWeek) {
  int64_t day = dayNumber(date);
  int year = toCivil(date).year;
  for (;;) {
    int64_t jan1 = daysFromCivil(year, 1, 1);
    int64_t ws = weekStart(jan1, firstDay);
    int64_t week1 = ws;
    if (firstWeek == 2 && jan1 - ws > 3) week1 = ws + 7;  // four days in the new year
    if (firstWeek == 3 && jan1 != ws) week1 = ws + 7;     // a full week
    if (day >= week1) return static_cast<int>((day - week1) / 7 + 1);
    --year;
  }
}

std::u16string_view monthName(int month) { return kMonths[(month - 1 + 12) % 12]; }
std::u16string_view dayName(int dow) { return kDays[(dow - 1 + 7) % 7]; }

std::optional<double> parseDateTime(std::u16string_view text) {
  auto toks = tokenize(text);
  if (!toks || toks->empty()) return std::nullopt;
  std::vector<Token>& t = *toks;

  // Time of day: h:nn[:ss] [AM|PM], or h AM|PM.
  int hour = 0, minute = 0, second = 0;
  bool haveTime = false;
  for (size_t i = 0; i < t.size() && !haveTime; ++i) {
    if (t[i].type != Token::Num) continue;
    bool colon = i + 2 < t.size() && t[i + 1].type == Token::Sep && t[i + 1].sep == u':' &&
                 t[i + 2].type == Token::Num;
    bool bareAmPm = i + 1 < t.size() && ampmOf(t[i + 1]) != 0;
    if (!colon && !bareAmPm) continue;
    size_t end = i + 1;
    hour = static_cast<int>(t[i].num);
    if (colon) {
      minute = static_cast<int>(t[i + 2].num);
      end = i + 3;
      if (end + 1 < t.size() && t[end].type == Token::Sep && t[end].sep == u':' &&
          t[end + 1].type == Token::Num) {
        second = static_cast<int>(t[end + 1].num);
        end += 2;
      }
    }
    if (end < t.size() && ampmOf(t[end])) {
      int ap = ampmOf(t[end]);
      if (hour < 1 || hour > 12) return std::nullopt;
      if (ap == 1 && hour == 12) hour = 0;
      if (ap == 2 && hour != 12) hour += 12;
      ++end;
    }
    if (hour > 23 || minute > 59 || second > 59) return std::nullopt;
    t.erase(t.begin() + static_cast<std::ptrdiff_t>(i), t.begin() + static_cast<std::ptrdiff_t>(end));
    haveTime = true;
  }

  // Date: numbers and at most one month name; weekday names are ignored.
  std::vector<Token> nums;
  int monthWord = 0;
  int monthWordPos = -1;
  for (const Token& k : t) {
    if (k.type == Token::Num) {
      nums.push_back(k);
    } else if (k.type == Token::Word) {
      if (int m = monthFromWord(k.text); m && !monthWord) {
        monthWord = m;
        monthWordPos = static_cast<int>(nums.size());
      } else if (!isWeekdayWord(k.text)) {
        return std::nullopt;
      }
    }
  }
  if (nums.empty() && !monthWord) {
    if (!haveTime) return std::nullopt;
    return (hour * 3600.0 + minute * 60.0 + second) / 86400.0;
  }

  int64_t y = 0, m = 0, d = 0;
  bool yearShort = false;
  auto thisYear = [] { return static_cast<int64_t>(toCivil(currentDateTime()).year); };
  if (monthWord) {
    m = monthWord;
    if (nums.size() == 2) {
      bool yearFirst = nums[0].digits >= 3 || (monthWordPos == 0 && nums[0].num > 31);
      const Token& yt = yearFirst ? nums[0] : nums[1];
      d = yearFirst ? nums[1].num : nums[0].num;
      y = yt.num;
      yearShort = yt.digits <= 2;
    } else if (nums.size() == 1) {
      if (nums[0].digits >= 3 || nums[0].num > 31) {
        y = nums[0].num;
        yearShort = nums[0].digits <= 2;
        d = 1;
      } else {
        y = thisYear();
        d = nums[0].num;
      }
    } else {
      return std::nullopt;
    }
  } else if (nums.size() == 3) {
    if (nums[0].digits >= 3) {
      y = nums[0].num, m = nums[1].num, d = nums[2].num;
      yearShort = false;
    } else {
      m = nums[0].num, d = nums[1].num, y = nums[2].num;
      yearShort = nums[2].digits <= 2;
      if (m > 12 && d <= 12) std::swap(m, d);  // day written first: accepted when unambiguous
    }
  } else if (nums.size() == 2) {
    if (nums[1].digits >= 3 || nums[1].num > 31) {
      m = nums[0].num, y = nums[1].num, d = 1;
      yearShort = nums[1].digits <= 2;
    } else if (nums[0].digits >= 3) {
      y = nums[0].num, m = nums[1].num, d = 1;
    } else {
      m = nums[0].num, d = nums[1].num, y = thisYear();
      if (m > 12 && d <= 12) std::swap(m, d);
    }
  } else {
    return std::nullopt;
  }
  if (yearShort) y += y < 30 ? 2000 : 1900;
  if (y < 100 || y > 9999 || m < 1 || m > 12 || d < 1 ||
      d > daysInMonth(static_cast<int>(y), static_cast<int>(m)))
    return std::nullopt;
  CivilTime c{static_cast<int>(y), static_cast<int>(m), static_cast<int>(d), hour, minute, second};
  return fromCivil(c);
}

}  // namespace bv::sql
