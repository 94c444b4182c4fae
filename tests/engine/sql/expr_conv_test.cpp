// Conversions under the operators and functions: exact Decimal arithmetic, date text in
// the US locale, days before 1899-12-30, number text, and hostile inputs.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <vector>

#include "engine/sql/format.h"
#include "engine/sql/functions.h"
#include "engine/sql/value_ops.h"
#include "tests/engine/sql/expr_test_support.h"

namespace bv::sql {
namespace {

using namespace bv::exprtest;

std::u16string decText(const Value& v) { return dec::toText(v.as<Decimal>()); }

TEST(ExprDecimal, ExactArithmeticAndLimits) {
  EXPECT_EQ(decText(applyBinary(BinaryOp::Div, Dec(u"1"), Dec(u"3"))),
            u"0.3333333333333333333333333333");  // 28 digits after the point
  EXPECT_EQ(decText(applyBinary(BinaryOp::Div, Dec(u"2"), Dec(u"3"))),
            u"0.6666666666666666666666666667");
  EXPECT_EQ(decText(applyBinary(BinaryOp::Sub, Dec(u"0.3"), Dec(u"0.1"))), u"0.2");
  EXPECT_EQ(decText(applyBinary(BinaryOp::Mul, Dec(u"-1.5"), Dec(u"1.5"))), u"-2.25");
  EXPECT_EQ(decText(applyBinary(BinaryOp::Add, Dec(u"79228162514264337593543950334"), L(1))),
            u"79228162514264337593543950335");
  try {
    applyBinary(BinaryOp::Add, Dec(u"79228162514264337593543950335"), L(1));
    ADD_FAILURE() << "Decimal overflow not raised";
  } catch (const JetError& e) {
    EXPECT_EQ(e.number(), 6);
  }
  // Too many digits after the point are rounded away rather than overflowing.
  EXPECT_EQ(decText(applyBinary(BinaryOp::Mul, Dec(u"0.00000000000001"), Dec(u"0.00000000000001"))),
            u"0.0000000000000000000000000001");
  EXPECT_EQ(dec::toText(dec::fromDouble(0.1)), u"0.1");
  EXPECT_EQ(dec::toText(dec::fromCurrency(Currency{-12345})), u"-1.2345");
  EXPECT_EQ(dec::toCurrency(*dec::fromText(u"1.23455")).scaled, 12346);  // half to even
  EXPECT_EQ(dec::toCurrency(*dec::fromText(u"1.23445")).scaled, 12344);
  EXPECT_FALSE(dec::fromText(u"1.2.3").has_value());
  EXPECT_FALSE(dec::fromText(u"").has_value());
  EXPECT_EQ(compareForSort(Dec(u"10.5"), Dec(u"9.75")), 1);
  EXPECT_EQ(compareForSort(Dec(u"-1"), Dec(u"0")), -1);
}

// Large whole numbers keep every digit when they become Currency; the fraction still
// rounds half to even, and the range ends where the scaled integer does.
TEST(ExprCurrency, LargeValuesKeepTheirDigits) {
  EXPECT_EQ(toCurrency(Value(922337203685477.0)).scaled, 9223372036854770000LL);
  EXPECT_EQ(toCurrency(Value(-922337203685477.0)).scaled, -9223372036854770000LL);
  EXPECT_EQ(toCurrency(Value(123456789012.5)).scaled, 1234567890125000LL);
  EXPECT_EQ(toCurrency(Value(1.23455)).scaled, 12346);
  EXPECT_EQ(toCurrency(Value(-2.5)).scaled, -25000);
  EXPECT_THROW(toCurrency(Value(922337203685478.0)), JetError);
  EXPECT_THROW(toCurrency(Value(std::numeric_limits<double>::infinity())), JetError);
  EXPECT_THROW(toCurrency(Value(std::nan(""))), JetError);
}

TEST(ExprDates, TextInTheUsLocale) {
  struct Case {
    const char16_t* text;
    Value expected;  // Null: not a date
  } cases[] = {
      {u"2/29/2024", Dt(2024, 2, 29)},
      {u"2024-02-29", Dt(2024, 2, 29)},
      {u"2024/2/29", Dt(2024, 2, 29)},
      {u"29-Feb-2024", Dt(2024, 2, 29)},
      {u"February 29, 2024", Dt(2024, 2, 29)},
      {u"Thursday, February 29, 2024", Dt(2024, 2, 29)},
      {u"13/1/2024", Dt(2024, 1, 13)},  // day first when the month cannot be 13
      {u"12:00 AM", Dt(1899, 12, 30)},
      {u"12:30 PM", Dt(1899, 12, 30, 12, 30)},
      {u"23:59:59", Dt(1899, 12, 30, 23, 59, 59)},
      {u"1/1/2000 3 PM", Dt(2000, 1, 1, 15)},
      {u"2/29/2023", N()},
      {u"13/13/2024", N()},
      {u"24:00", N()},
      {u"1/1/2000 13:00 PM", N()},
      {u"hello", N()},
      {u"", N()},
      {u"1/1/10000", N()},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(narrow(c.text));
    auto d = parseDateTime(c.text);
    if (c.expected.isNull()) {
      EXPECT_FALSE(d.has_value()) << *d;
    } else {
      ASSERT_TRUE(d.has_value());
      EXPECT_EQ(Value(DateTime{*d}), c.expected);
    }
  }
}

TEST(ExprDates, DaysBefore1899KeepAPositiveTimeOfDay) {
  // 1899-12-29 18:00 is stored as -1.75: day -1, then three quarters of a day.
  Value d = Dt(1899, 12, 29, 18);
  EXPECT_EQ(d.as<DateTime>().days, -1.75);
  EXPECT_EQ(toText(d), u"12/29/1899 6:00:00 PM");
  EXPECT_EQ(callFunction(u"Hour", std::vector<Value>{d}), I(18));
  EXPECT_EQ(callFunction(u"Day", std::vector<Value>{d}), I(29));
  EXPECT_EQ(callFunction(u"DateAdd", std::vector<Value>{T(u"h"), L(6), d}), Dt(1899, 12, 30));
  EXPECT_EQ(callFunction(u"DateDiff", std::vector<Value>{T(u"n"), d, Dt(1899, 12, 30, 1)}), L(420));
  EXPECT_EQ(callFunction(u"Year", std::vector<Value>{Dt(100, 1, 1)}), I(100));
  EXPECT_EQ(toText(Dt(9999, 12, 31, 23, 59, 59)), u"12/31/9999 11:59:59 PM");
}

TEST(ExprNumbersAsText, SignificantDigitsAndExponents) {
  EXPECT_EQ(numberToText(0.0001, 15), u"0.0001");
  EXPECT_EQ(numberToText(-1.5e-7, 15), u"-1.5E-07");
  EXPECT_EQ(numberToText(1e100, 15), u"1E+100");
  EXPECT_EQ(numberToText(2.0 / 3.0, 15), u"0.666666666666667");
  EXPECT_EQ(numberToText(1234567.0, 7), u"1234567");
  EXPECT_EQ(numberToText(12345678.0, 7), u"1.234568E+07");
  EXPECT_EQ(toText(Cur(-5)), u"-0.0005");
  EXPECT_EQ(toText(Value(Guid{{0x78, 0x56, 0x34, 0x12, 0xBC, 0x9A, 0xF0, 0xDE, 1, 2, 3, 4, 5, 6, 7, 8}})),
            u"{12345678-9ABC-DEF0-0102-030405060708}");
  auto g = parseGuid(u"{12345678-9abc-def0-0102-030405060708}");
  ASSERT_TRUE(g.has_value());
  EXPECT_EQ(g->bytes[0], 0x78);
  EXPECT_EQ(g->bytes[15], 0x08);
  EXPECT_FALSE(parseGuid(u"{1234}").has_value());
}

TEST(ExprRobustness, HostileValuesGiveErrorsNotCrashes) {
  // Stored dates outside the calendar, NaN and infinities, odd characters.
  Value farDate(DateTime{1e300});
  EXPECT_EQ(toText(farDate), u"1E+300");
  EXPECT_EQ(formatValue(farDate, u"yyyy-mm-dd"), T(u"1E+300"));
  EXPECT_THROW(callFunction(u"Year", std::vector<Value>{farDate}), JetError);
  double nan = std::numeric_limits<double>::quiet_NaN();
  EXPECT_NO_THROW(formatValue(D(nan), u"0.00"));
  EXPECT_NO_THROW(formatValue(D(HUGE_VAL), u"#,##0"));
  EXPECT_THROW(coerceToColumn(D(nan), ColType::Long), JetError);
  EXPECT_THROW(callFunction(u"CInt", std::vector<Value>{D(HUGE_VAL)}), JetError);
  std::u16string withNul(u"a\0b", 3);
  EXPECT_EQ(compareText(withNul, std::u16string(u"a\0b", 3)), 0);
  EXPECT_NE(compareText(withNul, u"ab"), 0);
  EXPECT_THROW(callFunction(u"Space", std::vector<Value>{L(2000000000)}), JetError);
  EXPECT_THROW(callFunction(u"String", std::vector<Value>{D(1e12), T(u"x")}), JetError);
  EXPECT_THROW(callFunction(u"DateSerial", std::vector<Value>{L(2000000000), L(1), L(1)}), JetError);
  // A long Like pattern of stars against a long text finishes (no exponential search).
  std::u16string text(5000, u'a');
  std::u16string pattern;
  for (int i = 0; i < 200; ++i) pattern += u"*a";
  pattern += u"b";
  EXPECT_EQ(likeMatch(Value(text), Value(pattern)), Bo(false));
}

}  // namespace
}  // namespace bv::sql
