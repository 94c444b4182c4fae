// Temporary bodies while the function library is being written.
#include "engine/sql/functions.h"

#include "engine/storage/error.h"

namespace bv::sql {
Value callFunction(std::u16string_view, std::span<const Value>) {
  throw JetError(3085, "Undefined function in expression");
}
bool isKnownFunction(std::u16string_view) { return false; }
void setClockForTesting(std::optional<double>) {}
double currentDateTime() { return 0; }
}  // namespace bv::sql
