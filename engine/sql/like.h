// The Like operator of Jet SQL (ANSI-89 wildcards).
#pragma once

#include <string_view>

#include "engine/storage/value.h"

namespace bv::sql {

// `text Like pattern`: Null if either side is Null, otherwise Bool.
// Wildcards: * any run, ? one character, # one digit, [abc] [a-z] [!abc] a character
// class; [*] [?] [#] [[] match the character literally. Letters match without regard to
// case. A malformed class (no closing bracket) gives error 93 (invalid pattern string).
Value likeMatch(const Value& text, const Value& pattern);
bool likeMatchText(std::u16string_view text, std::u16string_view pattern);

}  // namespace bv::sql
