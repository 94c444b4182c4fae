#include "engine/sql/like.h"

#include <vector>

#include "engine/sql/conv_value.h"
#include "engine/sql/value_ops.h"

namespace bv::sql {
namespace {

[[noreturn]] void badPattern() {
  throw JetError(93, "Invalid pattern string in Like");
}

// One element of a compiled pattern.
struct Piece {
  enum Type { Any, One, Digit, Char, Class } type;
  explicit Piece(Type t) : type(t) {}
  char16_t ch = 0;
  bool negated = false;
  std::vector<std::pair<char16_t, char16_t>> ranges;  // Class: inclusive ranges
};

// Letters match without regard to case or accent, by the collation's first level.
bool sameLetter(char16_t a, char16_t b) {
  if (a == b) return true;
  if (a < 0x80 && b < 0x80) {
    auto lower = [](char16_t c) { return (c >= u'A' && c <= u'Z') ? static_cast<char16_t>(c + 32) : c; };
    return lower(a) == lower(b);
  }
  return compareText(std::u16string_view(&a, 1), std::u16string_view(&b, 1)) == 0;
}

bool inRange(char16_t c, char16_t lo, char16_t hi) {
  std::u16string_view cv(&c, 1), lv(&lo, 1), hv(&hi, 1);
  return compareText(lv, cv) <= 0 && compareText(cv, hv) <= 0;
}

std::vector<Piece> compile(std::u16string_view p) {
  std::vector<Piece> out;
  for (size_t i = 0; i < p.size(); ++i) {
    char16_t c = p[i];
    if (c == u'*') {
      if (out.empty() || out.back().type != Piece::Any) out.emplace_back(Piece::Any);
    } else if (c == u'?') {
      out.emplace_back(Piece::One);
    } else if (c == u'#') {
      out.emplace_back(Piece::Digit);
    } else if (c == u'[') {
      size_t close = p.find(u']', i + 1);
      if (close == std::u16string_view::npos) badPattern();
      Piece cls(Piece::Class);
      size_t j = i + 1;
      if (j < close && p[j] == u'!' && close > j + 1) {
        cls.negated = true;
        ++j;
      }
      for (; j < close; ++j) {
        char16_t lo = p[j];
        if (j + 2 < close && p[j + 1] == u'-') {
          char16_t hi = p[j + 2];
          if (compareText(std::u16string_view(&hi, 1), std::u16string_view(&lo, 1)) < 0)
            badPattern();
          cls.ranges.emplace_back(lo, hi);
          j += 2;
        } else {
          cls.ranges.emplace_back(lo, lo);
        }
      }
      // "[]" matches the empty string in Jet: an empty class is dropped.
      if (!cls.ranges.empty() || cls.negated) out.push_back(std::move(cls));
      i = close;
    } else {
      Piece ch(Piece::Char);
      ch.ch = c;
      out.push_back(ch);
    }
  }
  return out;
}

bool matchOne(const Piece& p, char16_t c) {
  switch (p.type) {
    case Piece::One: return true;
    case Piece::Digit: return c >= u'0' && c <= u'9';
    case Piece::Char: return sameLetter(p.ch, c);
    case Piece::Class: {
      bool hit = false;
      for (auto [lo, hi] : p.ranges)
        if (lo == hi ? sameLetter(lo, c) : inRange(c, lo, hi)) hit = true;
      return hit != p.negated;
    }
    default: return false;
  }
}

// Iterative matching with backtracking to the last '*' only (linear in practice).
bool run(const std::vector<Piece>& pat, std::u16string_view s) {
  size_t pi = 0, si = 0;
  size_t starP = SIZE_MAX, starS = 0;
  while (si < s.size()) {
    if (pi < pat.size() && pat[pi].type == Piece::Any) {
      starP = ++pi;
      starS = si;
    } else if (pi < pat.size() && matchOne(pat[pi], s[si])) {
      ++pi;
      ++si;
    } else if (starP != SIZE_MAX) {
      pi = starP;
      si = ++starS;
    } else {
      return false;
    }
  }
  while (pi < pat.size() && pat[pi].type == Piece::Any) ++pi;
  return pi == pat.size();
}

}  // namespace

bool likeMatchText(std::u16string_view text, std::u16string_view pattern) {
  return run(compile(pattern), text);
}

Value likeMatch(const Value& text, const Value& pattern) {
  if (text.isNull() || pattern.isNull()) return Value();
  return Value(likeMatchText(jetText(text), jetText(pattern)));
}

}  // namespace bv::sql
