// Parameter values given as text (the tool's --param NAME=VALUE).
#pragma once

#include <functional>
#include <string>
#include <string_view>

#include "engine/sql/exec.h"

namespace bv::sql {

// A value written as text: a whole number -> Long (Double when it does not fit), a
// decimal number -> Double, #date# -> Date/Time, True/False/Null, anything else (or
// anything in quotes) -> Text.
Value valueFromText(std::u16string_view text);

// Splits "NAME=VALUE" (UTF-8) and appends it; false when there is no '='.
bool addParamAssignment(std::string_view assignment, ParamValues& out);

// Takes every assignment `next` yields (until it returns false); false at the first one
// that is not NAME=VALUE.
bool collectParamAssignments(const std::function<bool(std::string&)>& next, ParamValues& out);

}  // namespace bv::sql
