// Splits Jet SQL text into tokens.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

#include "engine/storage/database.h"

namespace bv::sql {

enum class Tok {
  End,
  Name,        // a plain word (keyword or identifier; keywords are told apart by the parser)
  QuotedName,  // [bracketed name]: never a keyword
  Number,      // numeric literal text, e.g. 12, 1.5, .5, 1E3, &H1F
  String,      // 'text' or "text" with doubled quotes already collapsed
  Date,        // #...# literal; text is what stands between the hashes
  Op,          // punctuation and operators: + - * / \ ^ & = <> < <= > >= ( ) , . ; ! ?
};

struct Token {
  Tok kind = Tok::End;
  std::u16string text;
  size_t pos = 0;  // offset of the token's first character in the statement
  size_t end = 0;  // offset one past its last character
};

// Tokenizes the whole statement. Throws JetError for an unterminated string, bracketed
// name or date literal; `errorNumber` is the number to use (the statement-level syntax
// error the caller reports for bad input).
std::vector<Token> tokenize(std::u16string_view sql, int errorNumber = 3075);

// Case-insensitive comparison of ASCII letters (keywords and names).
bool equalsNoCase(std::u16string_view a, std::u16string_view b);

using storage::fromUtf8;
using storage::toUtf8;

}  // namespace bv::sql
