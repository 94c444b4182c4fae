// Operators, truth, ordering and column coercion of Jet SQL expression values.
//
// The evaluator calls these for every operator of an expression. Semantics follow the
// Variant rules of Jet's expression service:
//  - Null propagates through arithmetic, comparison and concatenation ("a" & Null = "a").
//  - Arithmetic widens Byte < Integer < Long < Single < Double, with Currency, Decimal and
//    Date handled as Jet does; an integer result that overflows is promoted (Byte ->
//    Integer -> Long -> Double); Currency and Decimal overflow raise error 6.
//  - Text that holds a number takes part in arithmetic as a Double ("3" + 4 = 7);
//    "3" + "4" concatenates; text that is not a number gives 3464 (type mismatch).
//  - Comparison results and logical operators yield Bool (True is -1 wherever a number
//    is needed); And/Or/Xor/Eqv/Imp are logical and three-valued with Null.
//  - Text compares as its ascending index key in Jet 4's General sort order does: case
//    is ignored, accents count after the letters, hyphens and apostrophes last.
// Errors are bv::JetError with Jet/VBA numbers: 3464 type mismatch, 6 overflow,
// 11 division by zero, 94 invalid use of Null, 5 invalid procedure call or argument.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>

#include "engine/sql/functions.h"
#include "engine/sql/like.h"
#include "engine/storage/error.h"
#include "engine/storage/value.h"

namespace bv::sql {

enum class BinaryOp { Add, Sub, Mul, Div, IntDiv, Mod, Pow, Concat, Eq, Ne, Lt, Le, Gt, Ge,
                      And, Or, Xor, Eqv, Imp };
enum class UnaryOp { Neg, Not, Plus };

// Error numbers used by the expression layer.
inline constexpr int32_t kErrTypeMismatch = 3464;
inline constexpr int32_t kErrUnknownFunction = 3085;
inline constexpr int32_t kErrOverflow = 6;
inline constexpr int32_t kErrDivisionByZero = 11;
inline constexpr int32_t kErrInvalidUseOfNull = 94;
inline constexpr int32_t kErrInvalidArgument = 5;
// Text longer than the target column holds.
inline constexpr int32_t kErrFieldTooSmall = 3163;
// A number outside the target column's range.
inline constexpr int32_t kErrNumericFieldOverflow = 3349;

Value applyBinary(BinaryOp op, const Value& a, const Value& b);
Value applyUnary(UnaryOp op, const Value& v);

// WHERE/HAVING/ON acceptance: true only for a non-Null value that is not zero/False.
bool isTrue(const Value& v);

// `v Between lo And hi`: Null if any operand is Null, otherwise whether v lies between
// the two bounds, which may come in either order (Jet SQL's reading); `v In (list)`:
// True if some item equals v, Null if none does but v or an item is Null, else False.
Value between(const Value& v, const Value& lo, const Value& hi);
Value inList(const Value& v, std::span<const Value> list);

// Total order for ORDER BY / GROUP BY / DISTINCT: Null first, then numbers, dates and
// booleans by numeric value, then text (case-insensitive collation), binary, GUID.
// Returns <0, 0 or >0. Never throws.
int compareForSort(const Value& a, const Value& b);

// Text collation used by comparisons and sorting: the order of the text index keys;
// texts whose keys are equal are told apart only by trailing spaces and by characters
// past the 255 a key covers (so "abc" = "ABC").
int compareText(std::u16string_view a, std::u16string_view b);

// The key rules text comparison follows: those of the text indexes of the file a statement
// reads (Jet 4's General sort order, or Access 97's for Jet 3 files), so that the rows a
// statement picks agree with the indexes it maintains. Jet 4 is the default.
enum class TextOrder { Jet4, Jet3 };
TextOrder currentTextOrder();

// Sets the text order of the current thread while it lives (a statement runs under one).
class TextOrderScope {
 public:
  explicit TextOrderScope(TextOrder order);
  ~TextOrderScope();
  TextOrderScope(const TextOrderScope&) = delete;
  TextOrderScope& operator=(const TextOrderScope&) = delete;

 private:
  TextOrder saved_;
};

// Bytes equal for texts that compare equal under the current order (texts with equal bytes
// may still differ in what the key leaves out): the text's ascending key, or its case-folded
// code units when the order has no key for one of its characters.
void appendTextBucket(std::u16string_view s, std::string& out);

// What an UPDATE/INSERT target column accepts.
struct TargetColumn {
  ColType type = ColType::Text;
  uint32_t maxLength = 0;   // Text: max characters (0 = no limit); Binary: max bytes
  uint8_t precision = 18;   // Decimal
  uint8_t scale = 0;        // Decimal
};

// Converts a value for storage in a column: Null stays Null (except for a Yes/No column,
// which cannot hold Null and takes No); numbers, text and dates are converted as Jet
// converts them on assignment (numbers round half to even into integer columns, text must
// parse). Out-of-range numbers give 3349, overlong text or binary 3163, values that cannot
// be converted 3464.
Value coerceToColumn(const Value& v, const TargetColumn& target);
Value coerceToColumn(const Value& v, ColType type, uint32_t maxLength = 0,
                     uint8_t precision = 18, uint8_t scale = 0);

}  // namespace bv::sql
