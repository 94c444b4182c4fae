// Text functions of the built-in library (Left, Mid, InStr, Replace, ...), and the case
// mapping they share with Format.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>

#include "engine/storage/value.h"

namespace bv::sql {

struct TextBuiltin {
  const char16_t* name;  // lower case
  uint8_t minArgs, maxArgs;
  Value (*fn)(std::span<const Value>);
};
std::span<const TextBuiltin> textBuiltins();

// Upper/lower case of Latin, Greek and Cyrillic letters (others unchanged).
char16_t upperChar(char16_t c);
char16_t lowerChar(char16_t c);
std::u16string toUpper(std::u16string_view s);
std::u16string toLower(std::u16string_view s);

// Raises error 5 (invalid procedure call or argument) naming the function.
[[noreturn]] void invalidArgument(const char* fn);

}  // namespace bv::sql
