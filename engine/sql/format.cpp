#include "engine/sql/format.h"

#include "engine/sql/conv_value.h"

namespace bv::sql {
Value formatValue(const Value& v, std::u16string_view, int, int) {
  if (v.isNull()) return Value();
  return Value(toText(v));
}
}  // namespace bv::sql
