// Temporary bodies while the expression layer is being written.
#include "engine/sql/value_ops.h"

namespace bv::sql {
namespace {
[[noreturn]] void notYet() { throw JetError(3251, "expression operation not available yet"); }
}  // namespace
Value applyBinary(BinaryOp, const Value&, const Value&) { notYet(); }
Value applyUnary(UnaryOp, const Value&) { notYet(); }
bool isTrue(const Value&) { notYet(); }
Value between(const Value&, const Value&, const Value&) { notYet(); }
Value inList(const Value&, std::span<const Value>) { notYet(); }
int compareForSort(const Value&, const Value&) { notYet(); }
int compareText(std::u16string_view, std::u16string_view) { notYet(); }
Value coerceToColumn(const Value&, const ColumnSpec&) { notYet(); }
Value coerceToColumn(const Value& v, ColType t, uint32_t n, uint8_t p, uint8_t s) {
  return coerceToColumn(v, ColumnSpec{t, n, p, s});
}
Value likeMatch(const Value&, const Value&) { notYet(); }
bool likeMatchText(std::u16string_view, std::u16string_view) { notYet(); }
Value callFunction(std::u16string_view, std::span<const Value>) { notYet(); }
bool isKnownFunction(std::u16string_view) { notYet(); }
void setClockForTesting(std::optional<double>) { notYet(); }
double currentDateTime() { notYet(); }
}  // namespace bv::sql
