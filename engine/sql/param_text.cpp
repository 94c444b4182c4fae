#include "engine/sql/param_text.h"

#include "engine/sql/lexer.h"
#include "engine/sql/parser.h"

#include <climits>
#include <stdexcept>
#include <string>

namespace bv::sql {

Value valueFromText(std::u16string_view text) {
  if (text.size() >= 2 && (text.front() == u'\'' || text.front() == u'"') && text.back() == text.front())
    return Value(std::u16string(text.substr(1, text.size() - 2)));
  if (text.size() >= 2 && text.front() == u'#' && text.back() == u'#') {
    if (auto d = parseDateLiteral(text.substr(1, text.size() - 2))) return Value(DateTime{*d});
  }
  if (equalsNoCase(text, u"True")) return Value(true);
  if (equalsNoCase(text, u"False")) return Value(false);
  if (equalsNoCase(text, u"Null")) return Value();
  // A number is exactly what the lexer reads as one numeric literal, with an optional sign.
  std::u16string_view body = text;
  bool negative = false;
  if (!body.empty() && (body[0] == u'-' || body[0] == u'+')) {
    negative = body[0] == u'-';
    body.remove_prefix(1);
  }
  if (!body.empty() && body[0] != u'&') {
    try {
      auto toks = tokenize(body);
      if (toks.size() == 2 && toks[0].kind == Tok::Number) {
        std::string a = toUtf8(body);
        bool integral = a.find_first_of(".eE") == std::string::npos;
        if (integral && a.size() <= 10) {
          long long v = std::stoll(a);
          if (negative) v = -v;
          if (v >= INT32_MIN && v <= INT32_MAX) return Value(int32_t(v));
        }
        double d = std::stod(a);
        return Value(negative ? -d : d);
      }
    } catch (const std::exception&) {
    }
  }
  return Value(std::u16string(text));
}

bool addParamAssignment(std::string_view assignment, ParamValues& out) {
  size_t eq = assignment.find('=');
  if (eq == std::string_view::npos || eq == 0) return false;
  out.emplace_back(fromUtf8(assignment.substr(0, eq)), valueFromText(fromUtf8(assignment.substr(eq + 1))));
  return true;
}

bool collectParamAssignments(const std::function<bool(std::string&)>& next, ParamValues& out) {
  std::string assignment;
  while (next(assignment))
    if (!addParamAssignment(assignment, out)) return false;
  return true;
}

}  // namespace bv::sql
