// The Format function: named and custom formats for numbers, dates and text, in the fixed
// US English locale ("." decimal point, "," thousands, "$" currency, m/d/yyyy dates).
#pragma once

#include <string>
#include <string_view>

#include "engine/storage/value.h"

namespace bv::sql {

// Format(value, format, firstDayOfWeek, firstWeekOfYear). An empty format gives the value's
// text as CStr does. Null gives Null unless a numeric format has a section for Null.
// Named formats: General Number, Currency, Fixed, Standard, Percent, Scientific, Yes/No,
// True/False, On/Off, General Date, Long Date, Medium Date, Short Date, Long Time,
// Medium Time, Short Time. Custom numeric formats use 0 # . , % E+ E- and up to four
// sections (positive;negative;zero;null); custom date formats use d dd ddd dddd m mm mmm
// mmmm y yy yyyy q w ww h hh n nn s ss AM/PM am/pm A/P a/p c and the separators; text
// formats use @ & < >. Quoted text and \x are copied literally.
Value formatValue(const Value& v, std::u16string_view format, int firstDayOfWeek = 1,
                  int firstWeekOfYear = 1);

}  // namespace bv::sql
