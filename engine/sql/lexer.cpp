#include "engine/sql/lexer.h"

#include "engine/storage/error.h"

namespace bv::sql {

namespace {

bool isDigit(char16_t c) { return c >= u'0' && c <= u'9'; }
bool isNameStart(char16_t c) {
  return (c >= u'a' && c <= u'z') || (c >= u'A' && c <= u'Z') || c == u'_' || c >= 0x80;
}
bool isNameChar(char16_t c) { return isNameStart(c) || isDigit(c) || c == u'$'; }
bool isSpace(char16_t c) {
  return c == u' ' || c == u'\t' || c == u'\r' || c == u'\n' || c == u'\f' || c == u'\v' ||
         c == 0xA0;
}
char16_t lowerAscii(char16_t c) { return (c >= u'A' && c <= u'Z') ? char16_t(c + 32) : c; }

[[noreturn]] void fail(int number, const std::string& what, size_t pos) {
  throw JetError(number, what + " (at character " + std::to_string(pos + 1) + ")");
}

}  // namespace

bool equalsNoCase(std::u16string_view a, std::u16string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i)
    if (lowerAscii(a[i]) != lowerAscii(b[i])) return false;
  return true;
}

std::vector<Token> tokenize(std::u16string_view s, int errorNumber) {
  std::vector<Token> out;
  size_t i = 0;
  const size_t n = s.size();
  while (true) {
    while (i < n && isSpace(s[i])) ++i;
    Token t;
    t.pos = i;
    if (i >= n) {
      t.kind = Tok::End;
      t.end = n;
      out.push_back(std::move(t));
      return out;
    }
    char16_t c = s[i];
    // [name] and #date#: the text up to the closing character, taken as it stands.
    auto enclosed = [&](char16_t closer, Tok kind, const char* what) {
      size_t close = s.find(closer, i + 1);
      if (close == std::u16string_view::npos) fail(errorNumber, what, i);
      t.kind = kind;
      t.text = std::u16string(s.substr(i + 1, close - i - 1));
      i = close + 1;
    };
    if (c == u'[') {
      enclosed(u']', Tok::QuotedName, "A bracketed name is not closed with ']'");
    } else if (c == u'\'' || c == u'"') {
      t.kind = Tok::String;
      size_t j = i + 1;
      while (true) {
        if (j >= n) fail(errorNumber, "A quoted text is not closed", i);
        if (s[j] == c) {
          if (j + 1 < n && s[j + 1] == c) {
            t.text.push_back(c);
            j += 2;
            continue;
          }
          break;
        }
        t.text.push_back(s[j++]);
      }
      i = j + 1;
    } else if (c == u'#') {
      enclosed(u'#', Tok::Date, "A date literal is not closed with '#'");
    } else if (isDigit(c) || (c == u'.' && i + 1 < n && isDigit(s[i + 1]))) {
      t.kind = Tok::Number;
      size_t j = i;
      while (j < n && isDigit(s[j])) ++j;
      if (j < n && s[j] == u'.') {
        ++j;
        while (j < n && isDigit(s[j])) ++j;
      }
      if (j < n && (s[j] == u'e' || s[j] == u'E')) {
        size_t k = j + 1;
        if (k < n && (s[k] == u'+' || s[k] == u'-')) ++k;
        if (k < n && isDigit(s[k])) {
          j = k;
          while (j < n && isDigit(s[j])) ++j;
        }
      }
      t.text = std::u16string(s.substr(i, j - i));
      i = j;
    } else if (c == u'&' && i + 2 < n && (s[i + 1] == u'H' || s[i + 1] == u'h' ||
                                          s[i + 1] == u'O' || s[i + 1] == u'o')) {
      // &H1F (hexadecimal) or &O17 (octal); otherwise '&' is concatenation.
      bool hex = s[i + 1] == u'H' || s[i + 1] == u'h';
      size_t j = i + 2;
      auto ok = [&](char16_t d) {
        if (hex) return isDigit(d) || (lowerAscii(d) >= u'a' && lowerAscii(d) <= u'f');
        return d >= u'0' && d <= u'7';
      };
      while (j < n && ok(s[j])) ++j;
      if (j == i + 2) {
        t.kind = Tok::Op;
        t.text = u"&";
        i += 1;
      } else {
        t.kind = Tok::Number;
        t.text = std::u16string(s.substr(i, j - i));
        i = j;
      }
    } else if (isNameStart(c)) {
      size_t j = i;
      while (j < n && isNameChar(s[j])) ++j;
      t.kind = Tok::Name;
      t.text = std::u16string(s.substr(i, j - i));
      i = j;
    } else {
      t.kind = Tok::Op;
      if (i + 1 < n) {
        std::u16string two{c, s[i + 1]};
        if (two == u"<>" || two == u"<=" || two == u">=") {
          t.text = two;
          i += 2;
        }
      }
      if (t.text.empty()) {
        static const std::u16string_view singles = u"+-*/\\^&=<>(),.;!?";
        if (singles.find(c) == std::u16string_view::npos)
          fail(errorNumber, "The character '" + toUtf8(std::u16string(1, c)) +
                                "' is not valid here", i);
        t.text = std::u16string(1, c);
        ++i;
      }
    }
    t.end = i;
    out.push_back(std::move(t));
  }
}

}  // namespace bv::sql
