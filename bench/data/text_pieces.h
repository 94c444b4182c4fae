// Words and names in several scripts that the benchmark databases are built from.
#pragma once

#include <cstdint>
#include <span>
#include <string>

#include "bench/data/dice.h"

namespace bv::bench {

std::span<const char16_t* const> givenNames();
std::span<const char16_t* const> familyNames();
std::span<const char16_t* const> cities();

// Words separated by single spaces, `chars` UTF-16 units long (cut at the end). With
// `wide` true, words in scripts that cannot be stored compressed are used often, so long
// values need their full two bytes a character.
std::u16string words(Dice& dice, size_t chars, bool wide = false);

// Decimal digits of n.
std::u16string digits(uint64_t n);

}  // namespace bv::bench
