// Operators of Jet SQL expressions: expected values and kinds follow the documented
// Variant rules of Access/VBA (result type by order of precision, overflow promotion,
// Null propagation, three-valued logic, Like wildcards).
#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <vector>

#include "engine/sql/value_ops.h"
#include "engine/storage/text_key.h"
#include "tests/engine/sql/expr_test_support.h"

namespace bv::sql {
namespace {

using namespace bv::exprtest;
using Op = BinaryOp;

struct BinCase {
  const char* what;
  Op op;
  Value a, b, expected;
};

void runTable(const std::vector<BinCase>& cases) {
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    Value r;
    ASSERT_NO_THROW(r = applyBinary(c.op, c.a, c.b));
    EXPECT_TRUE(sameValue(r, c.expected)) << "got " << show(r) << ", want " << show(c.expected);
  }
}

struct ErrCase {
  const char* what;
  Op op;
  Value a, b;
  int number;
};

void runErrors(const std::vector<ErrCase>& cases) {
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    try {
      Value r = applyBinary(c.op, c.a, c.b);
      ADD_FAILURE() << "no error, got " << show(r);
    } catch (const JetError& e) {
      EXPECT_EQ(e.number(), c.number);
    }
  }
}

TEST(ExprArithmetic, ResultTypesAndPromotion) {
  runTable({
      {"5 \\ 2 = 2 Long", Op::IntDiv, L(5), L(2), L(2)},
      {"\"3\" + 4 = 7 Double", Op::Add, T(u"3"), L(4), D(7)},
      {"\"3\" + \"4\" joins", Op::Add, T(u"3"), T(u"4"), T(u"34")},
      {"\"10\" - \"4\" = 6 Double", Op::Sub, T(u"10"), T(u"4"), D(6)},
      {"Null + 1 = Null", Op::Add, N(), L(1), N()},
      {"1 * Null = Null", Op::Mul, L(1), N(), N()},
      {"Integer overflow becomes Long", Op::Add, I(32767), I(1), L(32768)},
      {"Byte overflow becomes Integer", Op::Add, B(200), B(100), I(300)},
      {"Byte below zero becomes Integer", Op::Sub, B(1), B(2), I(-1)},
      {"Byte stays Byte", Op::Add, B(2), B(3), B(5)},
      {"Byte and Integer give Integer", Op::Add, B(2), I(3), I(5)},
      {"Long overflow becomes Double", Op::Add, L(2147483647), L(1), D(2147483648.0)},
      {"Integer product overflow becomes Long", Op::Mul, I(300), I(300), L(90000)},
      {"Single and Long give Double", Op::Add, S(1.5f), L(2), D(3.5)},
      {"Single and Integer give Single", Op::Add, I(2), S(1.5f), S(3.5f)},
      {"Double + Currency is Currency", Op::Add, D(1.5), Cur(10000), Cur(25000)},
      {"Currency * Double is Double", Op::Mul, Cur(20000), D(1.5), D(3.0)},
      {"Currency * Currency", Op::Mul, Cur(15000), Cur(15000), Cur(22500)},
      {"True + True = -2 Integer", Op::Add, Bo(true), Bo(true), I(-2)},
      {"Decimal 0.1 + 0.2 is exact", Op::Add, Dec(u"0.1"), Dec(u"0.2"), Dec(u"0.3")},
      {"Decimal and Long", Op::Mul, Dec(u"1.25"), L(4), Dec(u"5")},
      {"Decimal division", Op::Div, Dec(u"1"), Dec(u"8"), Dec(u"0.125")},
  });
}

TEST(ExprArithmetic, DivisionModAndPower) {
  runTable({
      {"Integer / Integer is Single", Op::Div, I(5), I(2), S(2.5f)},
      {"Long / Long is Double", Op::Div, L(5), L(2), D(2.5)},
      {"Currency / Long is Double", Op::Div, Cur(50000), L(2), D(2.5)},
      {"7 Mod 3", Op::Mod, L(7), L(3), L(1)},
      {"-7 Mod 3 keeps the dividend's sign", Op::Mod, L(-7), L(3), L(-1)},
      {"12.6 Mod 5 rounds first", Op::Mod, D(12.6), L(5), L(3)},
      {"Integer Mod Integer is Integer", Op::Mod, I(7), I(4), I(3)},
      {"Byte \\ Byte is Byte", Op::IntDiv, B(9), B(2), B(4)},
      {"-7 \\ 2 truncates", Op::IntDiv, L(-7), L(2), L(-3)},
      {"2.5 \\ 1 rounds half to even", Op::IntDiv, D(2.5), L(1), L(2)},
      {"3.5 \\ 1 rounds half to even", Op::IntDiv, D(3.5), L(1), L(4)},
      {"2 ^ 10 is Double", Op::Pow, I(2), I(10), D(1024)},
      {"4 ^ 0.5", Op::Pow, L(4), D(0.5), D(2)},
      {"Null Mod 2", Op::Mod, N(), L(2), N()},
  });
}

TEST(ExprArithmetic, Dates) {
  runTable({
      {"#2024-02-29# + 1", Op::Add, Dt(2024, 2, 29), L(1), Dt(2024, 3, 1)},
      {"1 + #2023-12-31#", Op::Add, L(1), Dt(2023, 12, 31), Dt(2024, 1, 1)},
      {"date - date is Double", Op::Sub, Dt(2024, 3, 1), Dt(2024, 2, 1), D(29)},
      {"date - number is Date", Op::Sub, Dt(2024, 3, 1), L(1), Dt(2024, 2, 29)},
      {"date + half a day", Op::Add, Dt(2024, 1, 1), D(0.5), Dt(2024, 1, 1, 12)},
  });
}

TEST(ExprArithmetic, Errors) {
  runErrors({
      {"text that is no number", Op::Add, T(u"a"), L(1), 3464},
      {"text times number", Op::Mul, T(u"x"), L(2), 3464},
      {"binary in arithmetic", Op::Add, Value(Bytes{1, 2}), L(1), 3464},
      {"division by zero", Op::Div, L(1), L(0), 11},
      {"integer division by zero", Op::IntDiv, L(1), L(0), 11},
      {"Mod by zero", Op::Mod, L(1), L(0), 11},
      {"0 / 0 overflows", Op::Div, L(0), L(0), 6},
      {"Currency overflow", Op::Add, Cur(INT64_MAX), Cur(10000), 6},
      {"Double overflow", Op::Mul, D(1e308), D(10), 6},
      {"Mod operand beyond Long", Op::Mod, D(1e12), L(7), 6},
      {"Decimal division by zero", Op::Div, Dec(u"1.5"), Dec(u"0"), 11},
  });
}

TEST(ExprConcat, NullAndNumbers) {
  runTable({
      {"\"a\" & Null", Op::Concat, T(u"a"), N(), T(u"a")},
      {"Null & \"b\"", Op::Concat, N(), T(u"b"), T(u"b")},
      {"Null & Null", Op::Concat, N(), N(), N()},
      {"1 & 2", Op::Concat, L(1), L(2), T(u"12")},
      {"Double text", Op::Concat, D(1.5), T(u""), T(u"1.5")},
      {"Double 15 digits", Op::Concat, D(0.1 + 0.2), T(u""), T(u"0.3")},
      {"Single 7 digits", Op::Concat, S(0.1f), T(u""), T(u"0.1")},
      {"large Double in E form", Op::Concat, D(1e15), T(u""), T(u"1E+15")},
      {"small Double in E form", Op::Concat, D(0.00001), T(u""), T(u"1E-05")},
      {"Currency", Op::Concat, Cur(12345), T(u""), T(u"1.2345")},
      {"Yes/No joins as -1", Op::Concat, Bo(true), T(u""), T(u"-1")},
      {"Yes/No False joins as 0", Op::Concat, T(u"x"), Bo(false), T(u"x0")},
      {"date, US order", Op::Concat, Dt(2024, 2, 9), T(u""), T(u"2/9/2024")},
      {"date and time", Op::Concat, Dt(2024, 2, 9, 13, 5, 7), T(u""), T(u"2/9/2024 1:05:07 PM")},
  });
}

TEST(ExprUnary, NegationPlusAndNot) {
  EXPECT_EQ(applyUnary(UnaryOp::Neg, I(-32768)), L(32768));
  EXPECT_EQ(applyUnary(UnaryOp::Neg, B(5)), I(-5));
  EXPECT_EQ(applyUnary(UnaryOp::Neg, L(INT32_MIN)), D(2147483648.0));
  EXPECT_EQ(applyUnary(UnaryOp::Neg, T(u"2")), D(-2));
  EXPECT_EQ(applyUnary(UnaryOp::Neg, N()), N());
  EXPECT_EQ(applyUnary(UnaryOp::Not, N()), N());
  EXPECT_EQ(applyUnary(UnaryOp::Not, L(0)), Bo(true));
  EXPECT_EQ(applyUnary(UnaryOp::Not, Bo(true)), Bo(false));
  EXPECT_THROW(applyUnary(UnaryOp::Neg, T(u"x")), JetError);
}

TEST(ExprCompare, TextNumbersDatesAndNull) {
  runTable({
      {"\"a\" < \"B\"", Op::Lt, T(u"a"), T(u"B"), Bo(true)},
      {"case is ignored", Op::Eq, T(u"abc"), T(u"ABC"), Bo(true)},
      {"accent is not ignored", Op::Eq, T(u"e"), T(u"\u00e9"), Bo(false)},
      {"accented letter sorts after its base", Op::Lt, T(u"e"), T(u"\u00e9"), Bo(true)},
      {"... and before the next letter", Op::Lt, T(u"\u00e9"), T(u"f"), Bo(true)},
      {"upper-case accent equals lower-case", Op::Eq, T(u"\u00c9t\u00e9"), T(u"\u00e9T\u00c9"), Bo(true)},
      {"digits before letters", Op::Lt, T(u"9"), T(u"a"), Bo(true)},
      {"text is not numeric order", Op::Lt, T(u"10"), T(u"9"), Bo(true)},
      {"trailing space makes a difference", Op::Eq, T(u"a"), T(u"a "), Bo(false)},
      {"prefix sorts first", Op::Lt, T(u"ab"), T(u"abc"), Bo(true)},
      {"1 = Null", Op::Eq, L(1), N(), N()},
      {"Null = Null", Op::Eq, N(), N(), N()},
      {"Null <> 1", Op::Ne, N(), L(1), N()},
      {"numbers of different kinds", Op::Eq, I(3), D(3.0), Bo(true)},
      {"number and numeric text", Op::Eq, L(3), T(u"3"), Bo(true)},
      {"numeric text against number", Op::Gt, T(u"10"), L(9), Bo(true)},
      {"Single 0.1 is not Double 0.1", Op::Eq, S(0.1f), D(0.1), Bo(false)},
      {"Currency exact", Op::Lt, Cur(1), Cur(2), Bo(true)},
      {"Decimal against Long", Op::Gt, Dec(u"2.5"), L(2), Bo(true)},
      {"date against date text", Op::Eq, Dt(2024, 1, 15), T(u"1/15/2024"), Bo(true)},
      {"date against number", Op::Gt, Dt(2024, 1, 15), L(45000), Bo(true)},
      {"True = -1", Op::Eq, Bo(true), L(-1), Bo(true)},
  });
  runErrors({
      {"number against text", Op::Eq, L(3), T(u"abc"), 3464},
      {"date against text", Op::Lt, Dt(2024, 1, 1), T(u"soon"), 3464},
      {"binary against number", Op::Eq, Value(Bytes{1}), L(1), 3464},
  });
}

// Text order must agree with the order of ascending text index keys wherever the keys
// differ (the quick path for plain ASCII included), so that a comparison in a query and a
// walk over a text index never disagree.
TEST(ExprCompare, TextOrderFollowsIndexKeys) {
  std::mt19937 rng(12345);
  const std::u16string alphabet = u"aAbBzZ09 !~^_'-.\u00e9\u00c9\u00df\u00e6";
  auto randomText = [&] {
    std::u16string s;
    size_t n = rng() % 6;
    bool asciiOnly = rng() % 2;
    for (size_t i = 0; i < n; ++i) {
      char16_t c = asciiOnly ? static_cast<char16_t>(0x20 + rng() % 95)
                             : alphabet[rng() % alphabet.size()];
      s += c;
    }
    return s;
  };
  auto key = [](const std::u16string& s) {
    std::vector<uint8_t> k;
    storage::appendJet4TextKey(k, s, true);
    return k;
  };
  int checked = 0;
  for (int i = 0; i < 20000; ++i) {
    std::u16string a = randomText(), b = randomText();
    auto ka = key(a), kb = key(b);
    int c = compareText(a, b);
    EXPECT_EQ(c, -compareText(b, a));
    if (ka == kb) continue;
    ++checked;
    ASSERT_EQ(c < 0, ka < kb) << narrow(a) << " vs " << narrow(b);
  }
  EXPECT_GT(checked, 10000);
}

TEST(ExprLogic, ThreeValued) {
  runTable({
      {"1 And Null", Op::And, L(1), N(), N()},
      {"0 And Null", Op::And, L(0), N(), Bo(false)},
      {"Null And False", Op::And, N(), Bo(false), Bo(false)},
      {"True And True", Op::And, Bo(true), Bo(true), Bo(true)},
      {"3 And 5 is logical", Op::And, L(3), L(5), Bo(true)},
      {"Null Or 1", Op::Or, N(), L(1), Bo(true)},
      {"Null Or 0", Op::Or, N(), L(0), N()},
      {"False Or False", Op::Or, Bo(false), Bo(false), Bo(false)},
      {"True Xor Null", Op::Xor, Bo(true), N(), N()},
      {"True Xor True", Op::Xor, Bo(true), Bo(true), Bo(false)},
      {"True Xor False", Op::Xor, Bo(true), Bo(false), Bo(true)},
      {"True Eqv False", Op::Eqv, Bo(true), Bo(false), Bo(false)},
      {"False Eqv False", Op::Eqv, Bo(false), Bo(false), Bo(true)},
      {"Null Eqv True", Op::Eqv, N(), Bo(true), N()},
      {"True Imp False", Op::Imp, Bo(true), Bo(false), Bo(false)},
      {"False Imp Null", Op::Imp, Bo(false), N(), Bo(true)},
      {"Null Imp True", Op::Imp, N(), Bo(true), Bo(true)},
      {"Null Imp False", Op::Imp, N(), Bo(false), N()},
      {"True Imp Null", Op::Imp, Bo(true), N(), N()},
  });
  runErrors({{"text in a condition", Op::And, T(u"abc"), Bo(true), 3464}});
}

TEST(ExprLogic, WhereAcceptsOnlyTrue) {
  EXPECT_FALSE(isTrue(N()));
  EXPECT_FALSE(isTrue(Bo(false)));
  EXPECT_FALSE(isTrue(D(0.0)));
  EXPECT_TRUE(isTrue(Bo(true)));
  EXPECT_TRUE(isTrue(L(2)));
  EXPECT_TRUE(isTrue(T(u"-1")));
  EXPECT_FALSE(isTrue(applyBinary(Op::Eq, L(1), N())));
}

TEST(ExprLike, Wildcards) {
  struct LikeCase {
    const char16_t* text;
    const char16_t* pattern;
    bool expected;
  } cases[] = {
      {u"abc", u"a*", true},        {u"abc", u"A?C", true},       {u"abc", u"a?", false},
      {u"a1", u"a#", true},         {u"ab", u"a#", false},        {u"b", u"[a-c]", true},
      {u"d", u"[a-c]", false},      {u"d", u"[!a-c]", true},      {u"B", u"[a-c]", true},
      {u"a*b", u"a[*]b", true},     {u"axb", u"a[*]b", false},    {u"", u"*", true},
      {u"", u"?", false},           {u"abc", u"*c", true},        {u"aXbXc", u"a*b*c", true},
      {u"aXbXd", u"a*b*c", false},  {u"a-b", u"a[-]b", true},     {u"abc", u"abc", true},
      {u"abc", u"ab", false},       {u"mississippi", u"*ss*ss*", true},
      {u"\u00c9cole", u"\u00e9*", true}, {u"ecole", u"\u00e9*", false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(narrow(c.text) + " Like " + narrow(c.pattern));
    EXPECT_EQ(likeMatch(T(c.text), T(c.pattern)), Bo(c.expected));
  }
  EXPECT_EQ(likeMatch(N(), T(u"a")), N());
  EXPECT_EQ(likeMatch(T(u"a"), N()), N());
  EXPECT_EQ(likeMatch(L(123), T(u"1#3")), Bo(true));
  try {
    likeMatch(T(u"abc"), T(u"[a"));
    ADD_FAILURE() << "unclosed class accepted";
  } catch (const JetError& e) {
    EXPECT_EQ(e.number(), 93);
  }
}

TEST(ExprPredicates, InAndBetween) {
  std::vector<Value> list{L(1), L(2)};
  std::vector<Value> withNull{L(1), N()};
  EXPECT_EQ(inList(L(2), list), Bo(true));
  EXPECT_EQ(inList(L(3), list), Bo(false));
  EXPECT_EQ(inList(L(3), withNull), N());
  EXPECT_EQ(inList(L(1), withNull), Bo(true));
  EXPECT_EQ(inList(N(), list), N());
  std::vector<Value> texts{T(u"X"), T(u"y")};
  EXPECT_EQ(inList(T(u"x"), texts), Bo(true));
  EXPECT_EQ(between(L(5), L(1), L(10)), Bo(true));
  EXPECT_EQ(between(L(10), L(1), L(10)), Bo(true));
  EXPECT_EQ(between(L(11), L(1), L(10)), Bo(false));
  EXPECT_EQ(between(N(), L(1), L(2)), N());
  EXPECT_EQ(between(L(0), L(1), N()), N());  // any Null operand gives Null
  EXPECT_EQ(between(L(5), L(10), L(1)), Bo(true));  // bounds in either order
  EXPECT_EQ(between(L(11), L(10), L(1)), Bo(false));
  EXPECT_EQ(between(T(u"b"), T(u"A"), T(u"C")), Bo(true));
}

TEST(ExprSort, NullFirstNumbersByValueTextByCollation) {
  std::vector<Value> v{T(u"b"), L(10), N(), D(2.5), T(u"A"), Bo(true), Cur(30000), T(u"\u00e1"),
                       Dt(1899, 12, 31), B(2)};
  std::stable_sort(v.begin(), v.end(),
                   [](const Value& a, const Value& b) { return compareForSort(a, b) < 0; });
  std::vector<Value> want{N(), Bo(true), Dt(1899, 12, 31), B(2), D(2.5), Cur(30000), L(10),
                          T(u"A"), T(u"\u00e1"), T(u"b")};
  ASSERT_EQ(v.size(), want.size());
  for (size_t i = 0; i < v.size(); ++i) EXPECT_EQ(v[i], want[i]) << i << ": " << show(v[i]);
  EXPECT_EQ(compareForSort(T(u"abc"), T(u"ABC")), 0);  // one group in GROUP BY
  EXPECT_EQ(compareForSort(N(), N()), 0);
}

TEST(ExprCoerce, ColumnTargets) {
  EXPECT_EQ(coerceToColumn(D(2.5), ColType::Integer), I(2));
  EXPECT_EQ(coerceToColumn(D(3.5), ColType::Integer), I(4));
  EXPECT_EQ(coerceToColumn(T(u" 12 "), ColType::Long), L(12));
  EXPECT_EQ(coerceToColumn(T(u"1,234.5"), ColType::Double), D(1234.5));
  EXPECT_EQ(coerceToColumn(D(1.23456), ColType::Currency), Cur(12346));
  EXPECT_EQ(coerceToColumn(N(), ColType::Long), N());
  EXPECT_EQ(coerceToColumn(N(), ColType::Bool), Bo(false));
  EXPECT_EQ(coerceToColumn(T(u"Yes"), ColType::Bool), Bo(true));
  EXPECT_EQ(coerceToColumn(L(0), ColType::Bool), Bo(false));
  EXPECT_EQ(coerceToColumn(T(u"2024-02-29"), ColType::DateTime), Dt(2024, 2, 29));
  EXPECT_EQ(coerceToColumn(L(42), ColType::Text, 10), T(u"42"));
  EXPECT_EQ(coerceToColumn(T(u"$1,234.56"), ColType::Currency), Cur(12345600));
  EXPECT_EQ(coerceToColumn(Dt(2024, 2, 29), ColType::Text), T(u"2/29/2024"));
  EXPECT_EQ(coerceToColumn(T(u"{12345678-9ABC-DEF0-0102-030405060708}"), ColType::Guid).kind(), Kind::Guid);
  EXPECT_EQ(toText(coerceToColumn(D(0.1), ColType::Decimal, 0, 18, 4)), u"0.1");
  EXPECT_EQ(coerceToColumn(Bo(false), ColType::Text, 10), T(u"0"));
  Value d = coerceToColumn(T(u"1.235"), ColType::Decimal, 0, 10, 2);
  ASSERT_EQ(d.kind(), Kind::Decimal);
  EXPECT_EQ(toText(d), u"1.24");
  EXPECT_EQ(d.as<Decimal>().scale, 2);

  struct Bad {
    const char* what;
    Value v;
    TargetColumn target;
    int number;
  } bad[] = {
      {"Integer overflow", L(40000), {ColType::Integer}, 3349},
      {"Byte below zero", L(-1), {ColType::Byte}, 3349},
      {"Long overflow", D(3e9), {ColType::Long}, 3349},
      {"Decimal too many digits", D(12345.0), {ColType::Decimal, 0, 5, 2}, 3349},
      {"text into a number column", T(u"abc"), {ColType::Long}, 3464},
      {"text into a date column", T(u"someday"), {ColType::DateTime}, 3464},
      {"text too long", T(u"abcdef"), {ColType::Text, 5}, 3163},
      {"number into a GUID column", L(1), {ColType::Guid}, 3464},
      {"binary into a number column", Value(Bytes{1}), {ColType::Long}, 3464},
  };
  for (const auto& b : bad) {
    SCOPED_TRACE(b.what);
    try {
      Value r = coerceToColumn(b.v, b.target);
      ADD_FAILURE() << "accepted as " << show(r);
    } catch (const JetError& e) {
      EXPECT_EQ(e.number(), b.number);
    }
  }
}

}  // namespace
}  // namespace bv::sql
