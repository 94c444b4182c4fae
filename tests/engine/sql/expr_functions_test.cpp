// Built-in functions: each row is a call with its documented VBA/Access result and kind.
#include <gtest/gtest.h>

#include <vector>

#include "engine/sql/functions.h"
#include "engine/sql/value_ops.h"
#include "tests/engine/sql/expr_test_support.h"

namespace bv::sql {
namespace {

using namespace bv::exprtest;

struct Call {
  const char16_t* fn;
  std::vector<Value> args;
  Value expected;
};

void runCalls(const std::vector<Call>& calls) {
  for (const auto& c : calls) {
    std::string what = narrow(c.fn) + "(";
    for (size_t i = 0; i < c.args.size(); ++i) what += (i ? ", " : "") + show(c.args[i]);
    SCOPED_TRACE(what + ")");
    Value r;
    try {
      r = callFunction(c.fn, c.args);
    } catch (const JetError& e) {
      ADD_FAILURE() << "error " << e.number() << ": " << e.what();
      continue;
    }
    EXPECT_TRUE(sameValue(r, c.expected)) << "got " << show(r) << ", want " << show(c.expected);
  }
}

struct Fails {
  const char16_t* fn;
  std::vector<Value> args;
  int number;
};

void runFailures(const std::vector<Fails>& calls) {
  for (const auto& c : calls) {
    SCOPED_TRACE(narrow(c.fn));
    try {
      Value r = callFunction(c.fn, c.args);
      ADD_FAILURE() << "no error, got " << show(r);
    } catch (const JetError& e) {
      EXPECT_EQ(e.number(), c.number) << e.what();
    }
  }
}

TEST(ExprFunctions, Text) {
  runCalls({
      {u"Mid", {T(u"hello"), L(2), L(3)}, T(u"ell")},
      {u"Mid", {T(u"hello"), L(4)}, T(u"lo")},
      {u"Mid", {T(u"hello"), L(9)}, T(u"")},
      {u"Mid", {N(), L(1)}, N()},
      {u"Left", {T(u"hello"), L(2)}, T(u"he")},
      {u"Left", {T(u"hi"), L(5)}, T(u"hi")},
      {u"Right", {T(u"hello"), L(3)}, T(u"llo")},
      {u"LEFT$", {T(u"hello"), L(1)}, T(u"h")},
      {u"Len", {T(u"hello")}, L(5)},
      {u"Len", {N()}, N()},
      {u"Len", {L(12345)}, L(5)},
      {u"InStr", {T(u"abc"), T(u"c")}, L(3)},
      {u"InStr", {T(u"abc"), T(u"C")}, L(3)},
      {u"InStr", {L(1), T(u"abc"), T(u"C"), L(0)}, L(0)},
      {u"InStr", {L(3), T(u"abcabc"), T(u"b")}, L(5)},
      {u"InStr", {T(u"abc"), T(u"z")}, L(0)},
      {u"InStr", {T(u"abc"), T(u"")}, L(1)},
      {u"InStr", {N(), T(u"a")}, N()},
      {u"InStrRev", {T(u"abcabc"), T(u"b")}, L(5)},
      {u"Trim", {T(u"  a b  ")}, T(u"a b")},
      {u"LTrim", {T(u"  a ")}, T(u"a ")},
      {u"RTrim", {T(u" a  ")}, T(u" a")},
      {u"Trim", {N()}, N()},
      {u"UCase", {T(u"abc\u00e9")}, T(u"ABC\u00c9")},
      {u"LCase", {T(u"ABC\u00c9")}, T(u"abc\u00e9")},
      {u"Replace", {T(u"XXpXXPXXp"), T(u"p"), T(u"Y")}, T(u"XXYXXPXXY")},
      {u"Replace", {T(u"XXpXXPXXp"), T(u"p"), T(u"Y"), L(3), L(-1), L(1)}, T(u"YXXYXXY")},
      {u"Replace", {T(u"aaa"), T(u"a"), T(u"b"), L(1), L(2)}, T(u"bba")},
      {u"Replace", {T(u"abc"), T(u""), T(u"x")}, T(u"abc")},
      {u"Space", {L(3)}, T(u"   ")},
      {u"String", {L(3), T(u"xy")}, T(u"xxx")},
      {u"String", {L(2), L(65)}, T(u"AA")},
      {u"Chr", {L(65)}, T(u"A")},
      {u"Asc", {T(u"Apple")}, I(65)},
      {u"StrComp", {T(u"abc"), T(u"ABC")}, I(0)},
      {u"StrComp", {T(u"abc"), T(u"ABC"), L(0)}, I(1)},
      {u"StrReverse", {T(u"abc")}, T(u"cba")},
      {u"Hex", {L(255)}, T(u"FF")},
      {u"Hex", {I(-1)}, T(u"FFFF")},
      {u"Oct", {L(8)}, T(u"10")},
  });
  runFailures({
      {u"Mid", {T(u"abc"), L(0)}, 5},
      {u"Left", {T(u"abc"), L(-1)}, 5},
      {u"Left", {T(u"abc"), N()}, 94},
      {u"Replace", {N(), T(u"a"), T(u"b")}, 94},
      {u"Asc", {T(u"")}, 5},
      {u"Space", {L(-1)}, 5},
      {u"Chr", {L(256)}, 5},
  });
}

TEST(ExprFunctions, ConversionsRoundHalfToEven) {
  runCalls({
      {u"CInt", {D(2.5)}, I(2)},
      {u"CInt", {D(3.5)}, I(4)},
      {u"CInt", {D(-2.5)}, I(-2)},
      {u"CInt", {T(u"12")}, I(12)},
      {u"CLng", {D(1234567.5)}, L(1234568)},
      {u"CLng", {Cur(25000)}, L(2)},
      {u"CLng", {Cur(35000)}, L(4)},
      {u"CByte", {D(254.6)}, B(255)},
      {u"CDbl", {T(u"1,234.5")}, D(1234.5)},
      {u"CDbl", {T(u"&H10")}, D(16)},
      {u"CDbl", {T(u" -1.5E3 ")}, D(-1500)},
      {u"CDbl", {T(u"($12.50)")}, D(-12.5)},
      {u"CCur", {T(u"1.23456")}, Cur(12346)},
      {u"CCur", {D(2.5)}, Cur(25000)},
      {u"CCur", {T(u"922337203685477.5807")}, Cur(INT64_MAX)},
      {u"CCur", {T(u"-922337203685477.5808")}, Cur(INT64_MIN)},
      {u"CSng", {D(1.5)}, S(1.5f)},
      {u"CBool", {L(5)}, Bo(true)},
      {u"CBool", {L(0)}, Bo(false)},
      {u"CBool", {T(u"false")}, Bo(false)},
      {u"CStr", {D(1.5)}, T(u"1.5")},
      {u"CStr", {Bo(true)}, T(u"True")},
      {u"CStr", {D(-0.5)}, T(u"-0.5")},
      {u"CStr", {D(123456789012345.0)}, T(u"123456789012345")},
      {u"CStr", {D(1234567890123456.0)}, T(u"1.23456789012346E+15")},
      {u"CStr", {Dt(1899, 12, 30, 15, 30)}, T(u"3:30:00 PM")},
      {u"CDate", {T(u"2/29/2024")}, Dt(2024, 2, 29)},
      {u"CDate", {T(u"2024-02-29 13:45")}, Dt(2024, 2, 29, 13, 45)},
      {u"CDate", {T(u"15-Mar-2024")}, Dt(2024, 3, 15)},
      {u"CDate", {T(u"March 15, 2024 1:05 PM")}, Dt(2024, 3, 15, 13, 5)},
      {u"CDate", {T(u"1/2/05")}, Dt(2005, 1, 2)},
      {u"CDate", {T(u"1/2/45")}, Dt(1945, 1, 2)},
      {u"CDate", {L(1)}, Dt(1899, 12, 31)},
      {u"CDec", {T(u"12.345")}, Dec(u"12.345")},
      {u"Str", {L(5)}, T(u" 5")},
      {u"Str", {L(-5)}, T(u"-5")},
      {u"Str", {D(0.5)}, T(u" 0.5")},
      {u"Str", {N()}, N()},
      {u"Val", {T(u"  1 2 3abc")}, D(123)},
      {u"Val", {T(u"1.5e2x")}, D(150)},
      {u"Val", {T(u"-4.5.6")}, D(-4.5)},
      {u"Val", {T(u"&HFF")}, D(255)},
      {u"Val", {T(u"abc")}, D(0)},
      {u"CVar", {L(3)}, L(3)},
  });
  runFailures({
      {u"CInt", {D(32767.5)}, 6},
      {u"CInt", {N()}, 94},
      {u"CLng", {T(u"abc")}, 3464},
      {u"CByte", {L(-1)}, 6},
      {u"CCur", {D(1e20)}, 6},
      {u"CCur", {T(u"922337203685477.5808")}, 6},
      {u"CDate", {T(u"2/30/2024")}, 3464},
      {u"CDate", {T(u"not a date")}, 3464},
      {u"Val", {N()}, 94},
      {u"CStr", {N()}, 94},
  });
}

TEST(ExprFunctions, MathKeepsKinds) {
  runCalls({
      {u"Abs", {I(-3)}, I(3)},
      {u"Abs", {I(-32768)}, L(32768)},
      {u"Abs", {D(-2.5)}, D(2.5)},
      {u"Abs", {N()}, N()},
      {u"Int", {D(-2.5)}, D(-3)},
      {u"Fix", {D(-2.5)}, D(-2)},
      {u"Int", {Cur(-25000)}, Cur(-30000)},
      {u"Int", {T(u"2.7")}, D(2)},
      {u"Round", {D(2.5)}, D(2)},
      {u"Round", {D(3.5)}, D(4)},
      {u"Round", {D(-2.5)}, D(-2)},
      {u"Round", {D(1.2345), L(2)}, D(1.23)},
      {u"Round", {D(0.125), L(2)}, D(0.12)},
      {u"Round", {Cur(12345), L(2)}, Cur(12300)},
      {u"Round", {Dec(u"2.345"), L(2)}, Dec(u"2.34")},
      {u"Round", {L(7)}, L(7)},
      {u"Round", {N()}, N()},
      {u"Sgn", {D(-0.1)}, I(-1)},
      {u"Sgn", {L(0)}, I(0)},
      {u"Sgn", {Dec(u"3")}, I(1)},
      {u"Sqr", {L(16)}, D(4)},
      {u"Exp", {L(0)}, D(1)},
  });
  runFailures({
      {u"Sqr", {L(-1)}, 5},
      {u"Log", {L(0)}, 5},
      {u"Round", {D(1.5), L(-1)}, 5},
  });
}

TEST(ExprFunctions, GeneralAndErrors) {
  runCalls({
      {u"IIf", {Bo(true), L(1), L(2)}, L(1)},
      {u"IIf", {N(), L(1), L(2)}, L(2)},
      {u"IIf", {L(0), T(u"a"), N()}, N()},
      {u"IsNull", {N()}, Bo(true)},
      {u"IsNull", {T(u"")}, Bo(false)},
      {u"IsNumeric", {T(u"1e3")}, Bo(true)},
      {u"IsNumeric", {T(u"abc")}, Bo(false)},
      {u"IsNumeric", {N()}, Bo(false)},
      {u"IsDate", {T(u"2/29/2024")}, Bo(true)},
      {u"IsDate", {T(u"2/30/2024")}, Bo(false)},
      {u"Choose", {L(2), T(u"a"), T(u"b")}, T(u"b")},
      {u"Choose", {L(3), T(u"a"), T(u"b")}, N()},
      {u"Switch", {Bo(false), L(1), Bo(true), L(2)}, L(2)},
      {u"Switch", {Bo(false), L(1)}, N()},
      {u"VarType", {T(u"x")}, I(8)},
      {u"TypeName", {Cur(0)}, T(u"Currency")},
  });
  EXPECT_TRUE(isKnownFunction(u"mid"));
  EXPECT_TRUE(isKnownFunction(u"MID$"));
  EXPECT_TRUE(isKnownFunction(u"DateDiff"));
  EXPECT_FALSE(isKnownFunction(u"NoSuchThing"));
  EXPECT_FALSE(isKnownFunction(u"Len$"));
  int lo = 0, hi = 0;
  ASSERT_TRUE(functionArity(u"InStr", &lo, &hi));
  EXPECT_EQ(lo, 2);
  EXPECT_EQ(hi, 4);
  EXPECT_FALSE(functionArity(u"Nz", &lo, &hi));  // an Access application function, not Jet's
  runFailures({
      {u"NoSuchThing", {L(1)}, 3085},
      {u"Len$", {T(u"a")}, 3085},
      {u"Mid", {T(u"a")}, 3075},
      {u"Left", {T(u"a"), L(1), L(2)}, 3075},
      {u"Left", {T(u"abc"), T(u"x")}, 3464},
      {u"Mid$", {N(), L(1)}, 94},
  });
}

TEST(ExprFunctions, DatesAndTimes) {
  runCalls({
      {u"Year", {Dt(2024, 2, 29, 13, 45, 10)}, I(2024)},
      {u"Month", {Dt(2024, 2, 29)}, I(2)},
      {u"Day", {T(u"2/29/2024")}, I(29)},
      {u"Hour", {Dt(2024, 2, 29, 13, 45, 10)}, I(13)},
      {u"Minute", {Dt(2024, 2, 29, 13, 45, 10)}, I(45)},
      {u"Second", {Dt(2024, 2, 29, 13, 45, 10)}, I(10)},
      {u"Year", {N()}, N()},
      {u"Weekday", {Dt(2024, 2, 29)}, I(5)},            // a Thursday
      {u"Weekday", {Dt(2024, 2, 29), L(2)}, I(4)},      // weeks from Monday
      {u"Weekday", {Dt(1899, 12, 30)}, I(7)},           // a Saturday
      {u"DateAdd", {T(u"m"), L(1), Dt(2024, 1, 31)}, Dt(2024, 2, 29)},
      {u"DateAdd", {T(u"yyyy"), L(1), Dt(2024, 2, 29)}, Dt(2025, 2, 28)},
      {u"DateAdd", {T(u"q"), L(-1), Dt(2024, 5, 15)}, Dt(2024, 2, 15)},
      {u"DateAdd", {T(u"d"), L(1), Dt(2024, 2, 29)}, Dt(2024, 3, 1)},
      {u"DateAdd", {T(u"ww"), L(2), Dt(2024, 1, 1)}, Dt(2024, 1, 15)},
      {u"DateAdd", {T(u"h"), L(25), Dt(2024, 1, 1, 1)}, Dt(2024, 1, 2, 2)},
      {u"DateAdd", {T(u"n"), L(-90), Dt(2024, 1, 1)}, Dt(2023, 12, 31, 22, 30)},
      {u"DateAdd", {T(u"s"), L(30), Dt(2024, 1, 1)}, Dt(2024, 1, 1, 0, 0, 30)},
      {u"DateAdd", {T(u"d"), L(1), N()}, N()},
      {u"DateDiff", {T(u"d"), Dt(2024, 1, 1), Dt(2024, 3, 1)}, L(60)},
      {u"DateDiff", {T(u"d"), Dt(2024, 1, 1, 23), Dt(2024, 1, 2, 1)}, L(1)},
      {u"DateDiff", {T(u"yyyy"), Dt(2023, 12, 31), Dt(2024, 1, 1)}, L(1)},
      {u"DateDiff", {T(u"m"), Dt(2024, 1, 31), Dt(2024, 2, 1)}, L(1)},
      {u"DateDiff", {T(u"q"), Dt(2024, 3, 31), Dt(2024, 4, 1)}, L(1)},
      {u"DateDiff", {T(u"h"), Dt(2024, 1, 1, 10, 59), Dt(2024, 1, 1, 11, 0)}, L(1)},
      {u"DateDiff", {T(u"n"), Dt(2024, 1, 1, 11), Dt(2024, 1, 1, 10)}, L(-60)},
      {u"DateDiff", {T(u"s"), Dt(2024, 1, 1), Dt(2024, 1, 1, 0, 1, 1)}, L(61)},
      {u"DateDiff", {T(u"w"), Dt(2024, 1, 1), Dt(2024, 1, 20)}, L(2)},
      // 2024-01-06 is a Saturday, 2024-01-07 a Sunday: one week boundary crossed.
      {u"DateDiff", {T(u"ww"), Dt(2024, 1, 6), Dt(2024, 1, 7)}, L(1)},
      {u"DateDiff", {T(u"d"), N(), Dt(2024, 1, 7)}, N()},
      {u"DatePart", {T(u"yyyy"), Dt(2024, 2, 29)}, L(2024)},
      {u"DatePart", {T(u"q"), Dt(2024, 8, 1)}, L(3)},
      {u"DatePart", {T(u"y"), Dt(2024, 3, 1)}, L(61)},
      {u"DatePart", {T(u"w"), Dt(2024, 2, 29)}, L(5)},
      {u"DatePart", {T(u"ww"), Dt(2024, 1, 6)}, L(1)},
      {u"DatePart", {T(u"ww"), Dt(2024, 1, 7)}, L(2)},
      // 2021-01-01 is a Friday: with weeks from Monday and week 1 the first with four
      // days, it still belongs to the last week (53) of 2020.
      {u"DatePart", {T(u"ww"), Dt(2021, 1, 1), L(2), L(2)}, L(53)},
      {u"DatePart", {T(u"h"), Dt(2024, 1, 1, 18, 5)}, L(18)},
      {u"DateSerial", {L(2024), L(2), L(30)}, Dt(2024, 3, 1)},
      {u"DateSerial", {L(2024), L(13), L(1)}, Dt(2025, 1, 1)},
      {u"DateSerial", {L(2024), L(3), L(0)}, Dt(2024, 2, 29)},
      {u"DateSerial", {L(99), L(1), L(1)}, Dt(1999, 1, 1)},
      {u"DateSerial", {L(5), L(1), L(1)}, Dt(2005, 1, 1)},
      {u"TimeSerial", {L(13), L(30), L(15)}, Dt(1899, 12, 30, 13, 30, 15)},
      {u"TimeSerial", {L(12), L(-30), L(0)}, Dt(1899, 12, 30, 11, 30)},
      {u"DateValue", {T(u"2/29/2024 13:45")}, Dt(2024, 2, 29)},
      {u"TimeValue", {T(u"2/29/2024 1:45 PM")}, Dt(1899, 12, 30, 13, 45)},
      {u"MonthName", {L(2)}, T(u"February")},
      {u"MonthName", {L(2), Bo(true)}, T(u"Feb")},
      {u"WeekdayName", {L(1)}, T(u"Sunday")},
  });
  runFailures({
      {u"DateAdd", {T(u"x"), L(1), Dt(2024, 1, 1)}, 5},
      {u"DateAdd", {T(u"yyyy"), L(9000), Dt(2024, 1, 1)}, 5},
      {u"Year", {T(u"not a date")}, 3464},
      {u"MonthName", {L(13)}, 5},
  });
}

TEST(ExprFunctions, ClockFunctionsUseTheFixedClock) {
  setClockForTesting(fromCivil({2024, 2, 29, 13, 45, 10}));
  EXPECT_EQ(callFunction(u"Now", {}), Dt(2024, 2, 29, 13, 45, 10));
  EXPECT_EQ(callFunction(u"Date", {}), Dt(2024, 2, 29));
  EXPECT_EQ(callFunction(u"Time", {}), Dt(1899, 12, 30, 13, 45, 10));
  // A date without a year takes the current one.
  std::vector<Value> args{T(u"3/15")};
  EXPECT_EQ(callFunction(u"CDate", args), Dt(2024, 3, 15));
  setClockForTesting(std::nullopt);
  double now = currentDateTime();
  EXPECT_GT(now, fromCivil({2020, 1, 1}));
}

}  // namespace
}  // namespace bv::sql
