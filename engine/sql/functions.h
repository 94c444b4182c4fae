// Built-in functions of Jet SQL expressions (the VBA function library subset Jet offers).
#pragma once

#include <optional>
#include <span>
#include <string_view>

#include "engine/storage/value.h"

namespace bv::sql {

// Calls a built-in function by name (case-insensitive; a trailing "$" as in "Left$" selects
// the text-returning form). Throws JetError 3085 for an unknown name, 3075 for a wrong
// number of arguments, 3464 for an argument of the wrong type, and the VBA error numbers
// (5, 6, 94) that the function raises.
Value callFunction(std::u16string_view name, std::span<const Value> args);
bool isKnownFunction(std::u16string_view name);
// How many arguments a known function takes; false for an unknown name. Lets the parser
// reject "Left(x)" before any row is read.
bool functionArity(std::u16string_view name, int* minArgs, int* maxArgs);

// The clock behind Date(), Time() and Now(): local time as a DateTime day count.
// Tests may fix it; std::nullopt restores the system clock.
void setClockForTesting(std::optional<double> fixedNow);
double currentDateTime();

}  // namespace bv::sql
